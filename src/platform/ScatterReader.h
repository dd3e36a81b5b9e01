// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <mutex>
#include <span>

#include "platform/ReadPiece.h"

namespace quillo {

// Reads many pieces of one descriptor with few system calls: they go to the
// kernel in batches through an io_uring, where the kernel has one, and one
// pread each where it has none (or refuses it, as some sandboxes do). A
// fragmented file is thousands of small reads, and on virtual machines each
// system call costs more than copying its bytes.
// Calls from several threads take turns at the one ring.
class ScatterReader {
public:
  enum class Way { Batched, OneByOne };
  explicit ScatterReader(Way way = Way::Batched);
  ~ScatterReader();
  ScatterReader(const ScatterReader&) = delete;
  ScatterReader& operator=(const ScatterReader&) = delete;

  // Reads every piece whole, at `base` + its offset. False on an I/O error
  // or when a piece reaches past the end (errno says which).
  bool Read(int fd, uint64_t base, std::span<const ReadPiece> pieces);

private:
  class Ring;
  bool ReadOneByOne(int fd, uint64_t base, std::span<const ReadPiece> pieces);
  std::mutex Lock;
  Way Chosen;
  std::unique_ptr<Ring> Queue;
  bool QueueTried = false;
};

} // namespace quillo
