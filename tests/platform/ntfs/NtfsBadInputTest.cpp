// SPDX-License-Identifier: GPL-2.0-or-later
// Volumes that must be refused: damaged images, volumes Windows did not shut
// down cleanly, and journals that do not belong to the volume. Each gets a
// clear reason, nothing crashes, and nothing is written.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "NtfsTestImage.h"
#include "engine/NtfsDefrag.h"
#include "platform/ntfs/ImageFile.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo::test {
namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint64_t kBootSectorBytesPerSectorAt = 0x0B;

void Patch(const std::filesystem::path& image, uint64_t offset, const std::vector<uint8_t>& bytes) {
  std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(std::streamoff(offset));
  file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Where a byte of a file's MFT record lies in the image, found with the
// library: the record's offset and the record in memory (fixups applied).
struct RecordPlace {
  uint64_t ImageOffset = 0;
  std::vector<uint8_t> Record;
};

RecordPlace PlaceOf(const std::filesystem::path& image, const std::string& path) {
  RecordPlace place;
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (!volume) return place;
  ntfs_inode* inode = ntfs_pathname_to_inode(volume, nullptr, path.c_str());
  if (inode) {
    s64 position = s64(inode->mft_no) << volume->mft_record_size_bits;
    LCN lcn = ntfs_attr_vcn_to_lcn(volume->mft_na, position >> volume->cluster_size_bits);
    place.ImageOffset = uint64_t(lcn << volume->cluster_size_bits) +
                        uint64_t(position & (volume->cluster_size - 1));
    auto* bytes = reinterpret_cast<uint8_t*>(inode->mrec);
    place.Record.assign(bytes, bytes + volume->mft_record_size);
    ntfs_inode_close(inode);
  }
  ntfs_umount(volume, FALSE);
  return place;
}

// The offset within a record of its unnamed $DATA's first mapping pair.
size_t FirstMappingPair(std::vector<uint8_t>& record) {
  ntfs_attr_search_ctx* context = ntfs_attr_get_search_ctx(nullptr, reinterpret_cast<MFT_RECORD*>(record.data()));
  size_t at = 0;
  if (ntfs_attr_lookup(AT_DATA, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, context) == 0 &&
      context->attr->non_resident)
    at = size_t(reinterpret_cast<uint8_t*>(context->attr) - record.data()) +
         le16_to_cpu(context->attr->mapping_pairs_offset);
  ntfs_attr_put_search_ctx(context);
  return at;
}

// Sets a 64-bit size field of one of $MFT's own attributes.
void PatchMftAttributeSize(const std::filesystem::path& image, ATTR_TYPES type, size_t field,
                           uint64_t value) {
  std::vector<uint8_t> bytes(sizeof(value));
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(value >> (8 * i));
  ASSERT_EQ(PatchRecordAttribute(image, FILE_MFT, uint32_t(type), field, false, bytes), "");
}

class NtfsBadInputTest : public ::testing::Test {
protected:
  void SetUp() override {
    Image = CopyFixtureImage(Dir.Path());
    Journal = Dir.Path() / "journal";
  }

  // Opening is refused with words of the reason, and the image stays as it was.
  void ExpectRefused(const std::string& words) {
    std::string before = ImageDigest(Image);
    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(Image, Journal, why);
    EXPECT_FALSE(volume);
    EXPECT_NE(why.find(words), std::string::npos) << why;
    EXPECT_EQ(ImageDigest(Image), before);
  }

  TempDir Dir;
  std::filesystem::path Image;
  std::filesystem::path Journal;
};

TEST_F(NtfsBadInputTest, DamagedImagesAreRefusedWithTheirReason) {
  struct Case {
    const char* Name;
    std::function<void(const std::filesystem::path&)> Damage;
    const char* Words;
  };
  std::vector<Case> cases = {
      {"truncated", [](const std::filesystem::path& image) { std::filesystem::resize_file(image, 8 << 20); },
       "The image is truncated"},
      {"shorter than a sector", [](const std::filesystem::path& image) { std::filesystem::resize_file(image, 100); },
       "too small"},
      {"boot sector overwritten",
       [](const std::filesystem::path& image) { Patch(image, 0, std::vector<uint8_t>(kSectorSize, 0xE5)); },
       "does not describe an NTFS volume"},
      {"impossible sector size",
       [](const std::filesystem::path& image) { Patch(image, kBootSectorBytesPerSectorAt, {0x00, 0x03}); },
       "does not describe an NTFS volume"},
      {"a record torn between its sectors",
       [](const std::filesystem::path& image) {
         RecordPlace place = PlaceOf(image, "/docs/readme.txt");
         // The last word of the record's first sector no longer matches the
         // update sequence number.
         Patch(image, place.ImageOffset + kSectorSize - 2, {0xAB, 0xCD});
       },
       "fails its update-sequence check"},
      {"a runlist pointing past the volume",
       [](const std::filesystem::path& image) {
         RecordPlace place = PlaceOf(image, "/docs/readme.txt");
         size_t pair = FirstMappingPair(place.Record);
         ASSERT_GT(pair, 0u);
         uint8_t header = place.Record[pair];
         size_t lengthBytes = header & 0x0F;
         size_t lcnBytes = header >> 4;
         ASSERT_NE((pair + 1 + lengthBytes + lcnBytes - 1) % kSectorSize, kSectorSize - 2);
         // The highest positive LCN its bytes can hold.
         std::vector<uint8_t> lcn(lcnBytes, 0xFF);
         lcn.back() = 0x7F;
         Patch(image, place.ImageOffset + pair + 1 + lengthBytes, lcn);
       },
       "runlist points past the end of the volume"},
      // Sizes the library and the catalog would scan or allocate by.
      {"a huge size of $MFT's bitmap",
       [](const std::filesystem::path& image) {
         PatchMftAttributeSize(image, AT_BITMAP, offsetof(ATTR_RECORD, data_size), 0x7FFFFFFFFFF0ULL);
       },
       "the size fields of $MFT's bitmap do not fit the volume"},
      {"a huge initialised size of $MFT",
       [](const std::filesystem::path& image) {
         PatchMftAttributeSize(image, AT_DATA, offsetof(ATTR_RECORD, initialized_size), 0x7FFFFFFFFFF0ULL);
       },
       "the size fields of $MFT's data do not fit the volume"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Image = CopyFixtureImage(Dir.Path());
    c.Damage(Image);
    ExpectRefused(c.Words);
    EXPECT_FALSE(std::filesystem::exists(Journal));
  }
}

TEST_F(NtfsBadInputTest, VolumesWindowsDidNotShutDownCleanlyAreAnalysedButNeverWritten) {
  std::filesystem::path pristine = Dir.Path() / "pristine.img";
  std::filesystem::copy_file(Image, pristine);
  struct Case {
    const char* Name;
    std::function<void(const std::filesystem::path&)> Make;
    std::vector<std::string> Words;
    bool Chkdsk; // whether chkdsk is the advice
  };
  std::vector<Case> cases = {
      {"marked dirty",
       [](const std::filesystem::path& image) {
         // By Windows, or by a crash this program has no journal of.
         ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
         ASSERT_NE(volume, nullptr);
         ASSERT_EQ(ntfs_volume_write_flags(volume, volume->flags | VOLUME_IS_DIRTY), 0);
         ntfs_umount(volume, FALSE);
       },
       {"it is marked dirty", "run chkdsk"}, true},
      {"hibernated",
       [this](const std::filesystem::path& image) {
         // hiberfil.sys begins with "hibr".
         std::filesystem::path header = Dir.Path() / "hiberfil.sys";
         {
           std::ofstream out(header, std::ios::binary);
           std::string bytes = "hibr" + std::string(8188, '\0');
           out.write(bytes.data(), std::streamsize(bytes.size()));
         }
         ASSERT_EQ(RunCommand({"ntfscp", "-q", image.string(), header.string(), "hiberfil.sys"}).ExitCode, 0);
       },
       {"it is hibernated", "shut it down fully", "Fast Startup off", "Shift"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::copy_file(pristine, Image, std::filesystem::copy_options::overwrite_existing);
    c.Make(Image);
    std::string before = ImageDigest(Image);
    {
      std::string why;
      std::shared_ptr<NtfsVolume> volume = OpenVolume(Image, Journal, why);
      ASSERT_TRUE(volume) << why;
      std::string notices;
      for (const std::string& notice : volume->Notices()) notices += notice + "\n";
      for (const std::string& words : c.Words) EXPECT_NE(notices.find(words), std::string::npos) << notices;
      EXPECT_EQ(notices.find("chkdsk") != std::string::npos, c.Chkdsk) << notices;
      EXPECT_NE(notices.find("may be out of date"), std::string::npos) << notices;
      // A whole pass: analysed, every move refused, the outcome refused.
      FakeClock clock;
      InlineDispatcher dispatcher;
      RecordingNotifier notifier;
      TNtfsDefrag engine("C:", volume, EngineServices{clock, dispatcher, notifier});
      engine.State = dsAnalyzing;
      engine.Analyze(dmOptimize);
      EXPECT_EQ(engine.State.load(), dsAnalyzed);
      EXPECT_GT(engine.Report->FragmentedFileCount.load(), 0);
      engine.State = dsDefragging;
      engine.Defrag(dmOptimize);
      WriteVerdict verdict = volume->GetWriteVerdict();
      EXPECT_EQ(verdict.Result, WriteVerdict::Kind::Refused);
      EXPECT_NE(verdict.Reason.find(c.Words.front()), std::string::npos) << verdict.Reason;
    }
    EXPECT_EQ(ImageDigest(Image), before);
    EXPECT_FALSE(std::filesystem::exists(Journal) && !std::filesystem::is_empty(Journal));
  }
}

TEST_F(NtfsBadInputTest, AJournalOfAnEarlierStateIsNeverReplayed) {
  // Cut the power late in a pass, so that the journal holds a move made
  // after several others.
  std::filesystem::path pristine = Dir.Path() / "pristine.img";
  std::filesystem::copy_file(Image, pristine);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int writes = 0;
    StorageOpener counting = [&writes](const std::filesystem::path& path, StorageMode mode, std::string& error) {
      struct Cutting final : BlockStorage {
        std::unique_ptr<BlockStorage> Inner;
        int& Writes;
        Cutting(std::unique_ptr<BlockStorage> inner, int& writes) : Inner(std::move(inner)), Writes(writes) {}
        int64_t ReadAt(uint64_t offset, void* data, size_t length) override { return Inner->ReadAt(offset, data, length); }
        bool WriteAt(uint64_t offset, const void* data, size_t length) override {
          bool ok = Inner->WriteAt(offset, data, length);
          // The fourth write of the seventh update: inside its volume writes.
          if (++Writes == 6 * 7 + 4) _exit(0);
          return ok;
        }
        bool Sync() override { return Inner->Sync(); }
        bool Resize(uint64_t size) override { return Inner->Resize(size); }
        uint64_t Size() const override { return Inner->Size(); }
        bool Writable() const override { return Inner->Writable(); }
      };
      std::unique_ptr<BlockStorage> inner = ImageFile::Open(path, mode, error);
      return inner ? std::unique_ptr<BlockStorage>(new Cutting(std::move(inner), writes)) : nullptr;
    };
    std::string why;
    // One update per move, so that the cut falls after several.
    std::shared_ptr<NtfsVolume> volume = OpenVolume(Image, Journal, why, counting, StorageMode::ReadWrite, 1);
    FakeClock clock;
    InlineDispatcher dispatcher;
    RecordingNotifier notifier;
    TNtfsDefrag engine("C:", volume, EngineServices{clock, dispatcher, notifier});
    engine.Analyze(dmFast);
    engine.Defrag(dmFast);
    _exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run ended before its cut";
  ASSERT_TRUE(std::filesystem::exists(Journal / "51D0C0DE0BADF00D"));

  // The image is put back from before the pass: same serial number, other
  // contents. The journal must not be applied to it.
  std::filesystem::copy_file(pristine, Image, std::filesystem::copy_options::overwrite_existing);
  ExpectRefused("does not match it");
  ExpectRefused("Nothing was written");
  EXPECT_TRUE(std::filesystem::exists(Journal / "51D0C0DE0BADF00D"));
}

} // namespace
} // namespace quillo::test
