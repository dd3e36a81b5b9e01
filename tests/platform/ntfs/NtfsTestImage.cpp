// SPDX-License-Identifier: GPL-2.0-or-later
#include "NtfsTestImage.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ntfs/Crc32.h"
#include "platform/ntfs/ImageFile.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo::test {

namespace {
constexpr size_t kReadBlockBytes = 1 << 16;
constexpr uint64_t kMirroredRecords = 4;
constexpr size_t kSectorBytes = 512;
constexpr size_t kUpdateSequenceWord = 2;
} // namespace

CommandResult RunCommand(const std::vector<std::string>& argv) {
  CommandResult result;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return result;
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipeEnds[0], buffer, sizeof(buffer))) > 0) result.Output.append(buffer, size_t(got));
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string PatchRecordAttribute(const std::filesystem::path& image, uint64_t record,
                                 uint32_t type, size_t offset, bool inValue,
                                 const std::vector<uint8_t>& bytes) {
  if (record >= kMirroredRecords) return "only mirrored records are patched";
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (!volume) return "cannot mount";
  std::vector<uint8_t> data(volume->mft_record_size);
  bool read = ntfs_mft_record_read(volume, MK_MREF(record, 0), reinterpret_cast<MFT_RECORD*>(data.data())) == 0;
  uint64_t recordOffset = record * volume->mft_record_size;
  std::vector<uint64_t> copies = {uint64_t(volume->mft_lcn) * volume->cluster_size + recordOffset,
                                  uint64_t(volume->mftmirr_lcn) * volume->cluster_size + recordOffset};
  ntfs_umount(volume, FALSE);
  if (!read) return "cannot read the record";
  ntfs_attr_search_ctx* context = ntfs_attr_get_search_ctx(nullptr, reinterpret_cast<MFT_RECORD*>(data.data()));
  if (ntfs_attr_lookup(ATTR_TYPES(type), nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, context) != 0) {
    ntfs_attr_put_search_ctx(context);
    return "no such attribute";
  }
  size_t at = size_t(reinterpret_cast<uint8_t*>(context->attr) - data.data()) + offset +
              (inValue ? le16_to_cpu(context->attr->value_offset) : 0);
  ntfs_attr_put_search_ctx(context);
  // Not where the update sequence replaces the last word of a sector.
  if (at % kSectorBytes + bytes.size() > kSectorBytes - kUpdateSequenceWord) return "the bytes cross a fixup";
  std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
  for (uint64_t copy : copies) {
    file.seekp(std::streamoff(copy + at));
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  return file ? "" : "cannot write the image";
}

bool MirrorMatchesMft(const std::filesystem::path& image) {
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (!volume) return false;
  s64 bytes = s64(volume->mftmirr_size) * volume->mft_record_size;
  std::vector<uint8_t> mft(static_cast<size_t>(bytes));
  std::vector<uint8_t> mirror(static_cast<size_t>(bytes));
  bool read = ntfs_attr_pread(volume->mft_na, 0, bytes, mft.data()) == bytes &&
              ntfs_attr_pread(volume->mftmirr_na, 0, bytes, mirror.data()) == bytes;
  ntfs_umount(volume, FALSE);
  return read && bytes > 0 && mft == mirror;
}

std::string MftBitmapDisagreements(const std::filesystem::path& image) {
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (!volume) return "the volume cannot be mounted";
  s64 records = volume->mft_na->initialized_size / volume->mft_record_size;
  std::vector<uint8_t> bitmap(static_cast<size_t>(volume->mftbmp_na->data_size));
  std::string odd;
  if (ntfs_attr_pread(volume->mftbmp_na, 0, s64(bitmap.size()), bitmap.data()) != s64(bitmap.size()))
    odd = "the MFT's bitmap cannot be read";
  std::vector<uint8_t> bytes(volume->mft_record_size);
  auto* record = reinterpret_cast<MFT_RECORD*>(bytes.data());
  constexpr unsigned kBitsPerByte = 8;
  for (s64 number = 0; odd.empty() && number < records; ++number) {
    bool marked = size_t(number / kBitsPerByte) < bitmap.size() &&
                  ((bitmap[size_t(number / kBitsPerByte)] >> (number % kBitsPerByte)) & 1);
    // A record that fails its checks counts as free.
    bool inUse = ntfs_mft_record_read(volume, MK_MREF(number, 0), record) == 0 &&
                 (record->flags & MFT_RECORD_IN_USE);
    if (marked != inUse)
      odd += "record " + std::to_string(number) + (inUse ? " in use, free in the bitmap; " : " free, in use in the bitmap; ");
  }
  ntfs_umount(volume, FALSE);
  return odd;
}

std::string TskNamesInUse(const std::filesystem::path& image) {
  CommandResult listed = RunCommand({"fls", "-r", "-p", "-u", image.string()});
  return listed.ExitCode == 0 ? listed.Output : "fls failed: " + listed.Output;
}

std::string RecordTimes(const std::filesystem::path& image, int64_t record) {
  CommandResult stat = RunCommand({"istat", image.string(), std::to_string(record)});
  std::istringstream lines(stat.Output);
  std::string line, times;
  while (std::getline(lines, line))
    if (line.find("Created:") != std::string::npos || line.find("Modified:") != std::string::npos ||
        line.find("Accessed:") != std::string::npos)
      times += line + "\n";
  return times;
}

const std::filesystem::path& FixtureDir() {
  static const std::filesystem::path folder = QUILLO_NTFS_FIXTURE_DIR;
  return folder;
}

std::vector<ManifestEntry> ReadManifest(const std::filesystem::path& dir, const std::string& name) {
  std::ifstream in(dir / name);
  std::vector<ManifestEntry> entries;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ManifestEntry entry;
    std::string crc;
    fields >> entry.Sha256 >> crc >> entry.Size >> entry.Kind;
    std::getline(fields, entry.Path);
    entry.Path.erase(0, 1); // the separating space
    if (size_t colon = entry.Path.find(':'); colon != std::string::npos) {
      entry.Stream = entry.Path.substr(colon + 1);
      entry.Path.resize(colon);
    }
    entry.Crc = uint32_t(std::stoul(crc, nullptr, 16));
    entries.push_back(entry);
  }
  return entries;
}

std::filesystem::path CopyFixtureImage(const std::filesystem::path& dir, const std::string& name) {
  std::filesystem::path target = dir / name;
  std::filesystem::copy_file(FixtureDir() / name, target,
                             std::filesystem::copy_options::overwrite_existing);
  return target;
}

std::string CompareWithManifest(const std::filesystem::path& image,
                                const std::vector<ManifestEntry>& manifest) {
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (!volume) return "libntfs-3g cannot mount the image";
  std::string problems;
  std::vector<uint8_t> buffer(kReadBlockBytes);
  for (const ManifestEntry& entry : manifest) {
    ntfs_inode* inode = ntfs_pathname_to_inode(volume, nullptr, entry.Path.c_str());
    ntfschar* stream = nullptr;
    int streamLength = entry.Stream.empty() ? 0 : ntfs_mbstoucs(entry.Stream.c_str(), &stream);
    ntfs_attr* data = !inode || streamLength < 0 ? nullptr
                      : ntfs_attr_open(inode, AT_DATA, stream ? stream : AT_UNNAMED, u32(streamLength));
    std::free(stream);
    if (!data) {
      problems += entry.Shown() + ": cannot be opened\n";
      if (inode) ntfs_inode_close(inode);
      continue;
    }
    uint32_t crc = 0;
    int64_t size = 0;
    for (;;) {
      s64 got = ntfs_attr_pread(data, size, s64(buffer.size()), buffer.data());
      if (got <= 0) break;
      crc = Crc32(buffer.data(), size_t(got), crc);
      size += got;
    }
    if (uint64_t(size) != entry.Size || crc != entry.Crc)
      problems += entry.Shown() + ": contents differ\n";
    ntfs_attr_close(data);
    ntfs_inode_close(inode);
  }
  ntfs_umount(volume, FALSE);
  return problems;
}

std::string CompareWithNtfscat(const std::filesystem::path& image,
                               const std::vector<ManifestEntry>& manifest) {
  std::string problems;
  for (const ManifestEntry& entry : manifest) {
    CommandResult cat =
        entry.Stream.empty()
            ? RunCommand({"sh", "-c", "ntfscat \"$0\" \"$1\" | sha256sum", image.string(), entry.Path})
            : RunCommand({"sh", "-c", "ntfscat -a 0x80 -n \"$2\" \"$0\" \"$1\" | sha256sum",
                          image.string(), entry.Path, entry.Stream});
    if (cat.ExitCode != 0 || cat.Output.substr(0, entry.Sha256.size()) != entry.Sha256)
      problems += entry.Shown() + ": ntfscat gives other contents\n";
  }
  return problems;
}

std::string CheckWithNtfsResize(const std::filesystem::path& image) {
  CommandResult check = RunCommand({"ntfsresize", "--info", "--no-action", image.string()});
  if (check.ExitCode == 0 && check.Output.find("ERROR") == std::string::npos) return {};
  return check.Output.empty() ? "ntfsresize failed" : check.Output;
}

int64_t RecordOf(const std::filesystem::path& image, const std::string& path) {
  CommandResult found = RunCommand({"ifind", "-n", path, image.string()});
  if (found.ExitCode != 0) return -1;
  return std::strtoll(found.Output.c_str(), nullptr, 10);
}

std::vector<TskRun> TskRuns(const std::filesystem::path& image, int64_t record,
                            const std::string& stream) {
  const std::string named = "Name: " + (stream.empty() ? std::string("N/A") : stream) + "   ";
  CommandResult shown = RunCommand({"istat", "-r", image.string(), std::to_string(record)});
  std::vector<TskRun> runs;
  std::istringstream lines(shown.Output);
  std::string line;
  bool inData = false;
  while (std::getline(lines, line)) {
    if (line.rfind("Type: ", 0) == 0) inData = line.find("$DATA (128-") != std::string::npos &&
                                              line.find(named) != std::string::npos;
    size_t at = line.find("Starting address: ");
    if (!inData || at == std::string::npos) continue;
    std::string start = line.substr(at + 18, line.find(',', at) - at - 18);
    TskRun run;
    run.Lcn = start == "X" ? -1 : std::stoll(start);
    run.Length = std::stoll(line.substr(line.find("length: ") + 8));
    runs.push_back(run);
  }
  return runs;
}

int TskFragments(const std::vector<TskRun>& runs) {
  int fragments = 0;
  int64_t next = -1;
  for (const TskRun& run : runs) {
    if (run.Lcn < 0) continue;
    if (run.Lcn != next) ++fragments;
    next = run.Lcn + run.Length;
  }
  return fragments;
}

RecordCounts CountRecords(const std::filesystem::path& image) {
  RecordCounts counts;
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (!volume) return counts;
  s64 records = volume->mft_na->initialized_size >> volume->mft_record_size_bits;
  for (s64 r = 1; r < records; ++r) {
    ntfs_inode* inode = ntfs_inode_open(volume, MK_MREF(r, 0));
    if (!inode) continue;
    if ((inode->mrec->flags & MFT_RECORD_IN_USE) && inode->mrec->base_mft_record == 0) {
      if (inode->mrec->flags & MFT_RECORD_IS_DIRECTORY)
        ++counts.Directories;
      else
        ++counts.Files;
    }
    ntfs_inode_close(inode);
  }
  ntfs_umount(volume, FALSE);
  return counts;
}

uint16_t VolumeFlags(const std::filesystem::path& image) {
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (!volume) return 0xFFFF;
  uint16_t flags = le16_to_cpu(volume->flags);
  ntfs_umount(volume, FALSE);
  return flags;
}

std::string ImageDigest(const std::filesystem::path& image) {
  CommandResult sum = RunCommand({"sha256sum", image.string()});
  return sum.Output.substr(0, sum.Output.find(' '));
}

std::shared_ptr<NtfsVolume> OpenVolume(const std::filesystem::path& image,
                                       const std::filesystem::path& journal, std::string& why,
                                       StorageOpener opener, StorageMode mode, uint32_t groupMoves) {
  if (!opener) opener = ImageFile::Open;
  NtfsVolumeOptions options;
  options.VolumeName = "C:";
  options.DeviceName = image.string();
  options.Storage = opener(image, mode, why);
  if (!options.Storage) return nullptr;
  options.JournalFolder = journal;
  options.JournalOpener = std::move(opener);
  options.GroupMoves = groupMoves;
  return NtfsVolume::Open(std::move(options), why);
}

} // namespace quillo::test
