// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define QUILLO_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define QUILLO_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define QUILLO_POISON(address, size) ((void)(address), (void)(size))
#define QUILLO_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace quillo {

// Nodes handed out one by one and all taken back at once. A pass rebuilds
// its free-space trees from the bitmap every few files; allocating and
// freeing tens of thousands of nodes each time cost more than the rest of
// the pass. A node given back alone stays unusable until Reset; under
// AddressSanitizer a node given back or reset is poisoned, so a stale
// pointer is still caught.
template <typename Node> class NodePool {
public:
  NodePool() = default;
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;
  ~NodePool() {
    for (auto& chunk : Chunks) QUILLO_UNPOISON(chunk.get(), kChunkNodes * sizeof(Node));
  }

  Node* New() {
    if (Used == Capacity()) Chunks.push_back(std::make_unique<Node[]>(kChunkNodes));
    Node* node = &Chunks[Used / kChunkNodes][Used % kChunkNodes];
    ++Used;
    QUILLO_UNPOISON(node, sizeof(Node));
    *node = Node{};
    return node;
  }
  // Whether the node was handed out by this pool.
  bool Owns(const Node* node) const {
    for (const auto& chunk : Chunks)
      if (node >= chunk.get() && node < chunk.get() + kChunkNodes) return true;
    return false;
  }
  // A node no longer in use; its memory returns with the next Reset.
  void Release(Node* node) { QUILLO_POISON(node, sizeof(Node)); }
  // Every node handed out is free again.
  void Reset() {
    for (auto& chunk : Chunks) QUILLO_POISON(chunk.get(), kChunkNodes * sizeof(Node));
    Used = 0;
  }

private:
  static constexpr size_t kChunkNodes = 4096;
  size_t Capacity() const { return Chunks.size() * kChunkNodes; }

  std::vector<std::unique_ptr<Node[]>> Chunks;
  size_t Used = 0;
};

} // namespace quillo
