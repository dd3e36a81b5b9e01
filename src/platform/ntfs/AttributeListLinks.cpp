// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/AttributeListLinks.h"

#include <cstddef>

#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {

// An entry up to its name (ATTR_LIST_ENTRY: type, length, name length and
// offset, lowest VCN, MFT reference, instance), 26 bytes.
constexpr size_t kEntryHeaderBytes = offsetof(ATTR_LIST_ENTRY, name);
static_assert(kEntryHeaderBytes == 26, "ATTR_LIST_ENTRY layout");
constexpr size_t kDescribedProblems = 8;

std::string RecordText(uint64_t record) { return "MFT record " + std::to_string(record); }

} // namespace

void AttributeListLinks::Clear() {
  Links.clear();
  Noted.clear();
}

void AttributeListLinks::NoteProblem(std::string problem) {
  if (Noted.size() < kDescribedProblems) Noted.push_back(std::move(problem));
}

bool AttributeListLinks::AddList(uint64_t base, const uint8_t* value, size_t length,
                                 std::string& why) {
  for (size_t at = 0; at < length;) {
    if (length - at < kEntryHeaderBytes) {
      why = "its attribute list ends inside an entry";
      return false;
    }
    const auto* entry = reinterpret_cast<const ATTR_LIST_ENTRY*>(value + at);
    size_t entryLength = le16_to_cpu(entry->length);
    if (entryLength < kEntryHeaderBytes || entryLength > length - at ||
        size_t(entry->name_offset) + size_t(entry->name_length) * sizeof(ntfschar) > entryLength) {
      why = "its attribute list has an entry of an impossible length";
      return false;
    }
    Links.push_back({base, MREF_LE(entry->mft_reference), uint16_t(MSEQNO_LE(entry->mft_reference))});
    at += entryLength;
  }
  return true;
}

std::vector<std::string> AttributeListLinks::Check(const FactsOf& facts) const {
  std::vector<std::string> problems = Noted;
  size_t found = 0;
  const Link* previous = nullptr;
  for (const Link& link : Links) {
    // A list names an extent once per attribute piece in it: told once.
    bool repeated = previous && previous->Base == link.Base && previous->Record == link.Record &&
                    previous->Sequence == link.Sequence;
    previous = &link;
    if (link.Record == link.Base || repeated) continue;
    RecordFacts named;
    std::string what;
    if (!facts(link.Record, named) || !named.InUse)
      what = "which is not in use";
    else if (named.Sequence != link.Sequence)
      what = "with sequence number " + std::to_string(link.Sequence) + ", but the record has " +
             std::to_string(named.Sequence);
    else if (named.Base != link.Base)
      what = named.Base == 0 ? std::string("which is a file of its own")
                             : "which belongs to " + RecordText(named.Base);
    if (what.empty()) continue;
    if (++found <= kDescribedProblems)
      problems.push_back(RecordText(link.Base) + ": its attribute list names " +
                         RecordText(link.Record) + ", " + what);
  }
  if (found > kDescribedProblems)
    problems.push_back("and " + std::to_string(found - kDescribedProblems) +
                       " more attribute-list links of the same kind");
  return problems;
}

} // namespace quillo
