// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ScatterReader.h"

#include <liburing.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace quillo {

namespace {

// Reads in flight at once; the kernel's completion queue holds twice this.
constexpr unsigned kQueueDepth = 128;
// Fewer pieces than this are read one by one: a batch would save nothing.
constexpr size_t kFewestBatched = 2;
// A completion reports its count in an int.
constexpr size_t kLargestBatchedPiece = size_t(INT_MAX);

// Reads the rest of one piece from `done` on, one pread at a time.
bool ReadRest(int fd, uint64_t base, const ReadPiece& piece, size_t done) {
  auto* out = static_cast<uint8_t*>(piece.Buffer);
  while (done < piece.Length) {
    ssize_t got = pread(fd, out + done, piece.Length - done, off_t(base + piece.Offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) {
      // The end of the file or device came first.
      errno = EIO;
      return false;
    }
    done += size_t(got);
  }
  return true;
}

} // namespace

class ScatterReader::Ring {
public:
  Ring() { Usable = io_uring_queue_init(kQueueDepth, &Queue, 0) == 0; }
  ~Ring() {
    if (Usable) io_uring_queue_exit(&Queue);
  }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;
  bool IsUsable() const { return Usable; }

  // Reads the pieces in batches. `trouble` is set when the ring itself
  // failed (not a read): every read it took is finished by then, and the
  // caller reads the pieces another way.
  bool Read(int fd, uint64_t base, std::span<const ReadPiece> pieces, bool& trouble) {
    bool whole = true;
    int firstError = 0;
    for (size_t next = 0; next < pieces.size() && !trouble;) {
      unsigned prepared = 0;
      for (; next < pieces.size() && prepared < kQueueDepth; ++next, ++prepared) {
        io_uring_sqe* entry = io_uring_get_sqe(&Queue);
        if (!entry) break;
        const ReadPiece& piece = pieces[next];
        io_uring_prep_read(entry, fd, piece.Buffer, unsigned(piece.Length), base + piece.Offset);
        io_uring_sqe_set_data64(entry, next);
      }
      unsigned submitted = 0;
      while (submitted < prepared) {
        int sent = io_uring_submit(&Queue);
        if (sent > 0) {
          submitted += unsigned(sent);
        } else if (sent != -EINTR) {
          trouble = true;
          break;
        }
      }
      for (unsigned reaped = 0; reaped < submitted; ++reaped) {
        io_uring_cqe* done = nullptr;
        int waited;
        while ((waited = io_uring_wait_cqe(&Queue, &done)) == -EINTR) {
        }
        if (waited != 0) {
          // Only a misused ring fails here (a full completion queue cannot
          // happen at this depth); it is given up.
          trouble = true;
          return false;
        }
        const ReadPiece& piece = pieces[size_t(io_uring_cqe_get_data64(done))];
        int result = done->res;
        io_uring_cqe_seen(&Queue, done);
        if (result >= 0 && size_t(result) == piece.Length) continue;
        // A short read is finished by hand; an interrupted one is done again.
        size_t have = result > 0 ? size_t(result) : 0;
        if (result < 0 && result != -EINTR && result != -EAGAIN) {
          whole = false;
          if (!firstError) firstError = -result;
        } else if (!ReadRest(fd, base, piece, have)) {
          whole = false;
          if (!firstError) firstError = errno;
        }
      }
    }
    if (!whole) errno = firstError;
    return whole;
  }

private:
  io_uring Queue{};
  bool Usable = false;
};

ScatterReader::ScatterReader(Way way) : Chosen(way) {}

ScatterReader::~ScatterReader() = default;

bool ScatterReader::ReadOneByOne(int fd, uint64_t base, std::span<const ReadPiece> pieces) {
  for (const ReadPiece& piece : pieces)
    if (!ReadRest(fd, base, piece, 0)) return false;
  return true;
}

bool ScatterReader::Read(int fd, uint64_t base, std::span<const ReadPiece> pieces) {
  if (pieces.size() < kFewestBatched) return ReadOneByOne(fd, base, pieces);
  for (const ReadPiece& piece : pieces)
    if (piece.Length > kLargestBatchedPiece) return ReadOneByOne(fd, base, pieces);
  std::lock_guard<std::mutex> guard(Lock);
  if (Chosen == Way::OneByOne) return ReadOneByOne(fd, base, pieces);
  if (!QueueTried) {
    QueueTried = true;
    auto ring = std::make_unique<Ring>();
    if (ring->IsUsable()) Queue = std::move(ring);
  }
  if (!Queue) return ReadOneByOne(fd, base, pieces);
  bool trouble = false;
  bool whole = Queue->Read(fd, base, pieces, trouble);
  if (!trouble) return whole;
  // The ring failed, not the disk: from now on, one read at a time.
  Queue.reset();
  Chosen = Way::OneByOne;
  return ReadOneByOne(fd, base, pieces);
}

} // namespace quillo
