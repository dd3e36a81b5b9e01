// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillo {

// The records that attribute lists name, gathered while the MFT is read and
// checked once it has been read whole: every record a list names must be in
// use, with the sequence number the list gives, and be the base record itself
// or an extent record of that base. A list that names a missing or foreign
// record would make the library write a runlist into the wrong record.
class AttributeListLinks {
public:
  // What the check needs to know of a record: in use, its sequence number,
  // and the base record of an extent record (0 for a base record).
  struct RecordFacts {
    bool InUse = false;
    uint16_t Sequence = 0;
    uint64_t Base = 0;
  };
  using FactsOf = std::function<bool(uint64_t record, RecordFacts& out)>;

  void Clear();
  // Takes the links of one attribute list (its value, `length` bytes) of base
  // record `base`; false with `why` when the list is malformed.
  bool AddList(uint64_t base, const uint8_t* value, size_t length, std::string& why);
  // A list that could not be read or parsed, told by the reader.
  void NoteProblem(std::string problem);
  // The problems noted and found, at most a few of each kind, described.
  std::vector<std::string> Check(const FactsOf& facts) const;

private:
  struct Link {
    uint64_t Base = 0;
    uint64_t Record = 0;
    uint16_t Sequence = 0;
  };
  std::vector<Link> Links;
  std::vector<std::string> Noted;
};

} // namespace quillo
