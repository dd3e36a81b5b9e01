// SPDX-License-Identifier: GPL-2.0-or-later
// Free-space containers: CCList, an ordered list searched from either end, and
// CCTree, an unbalanced binary search tree keyed by extent length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <unordered_set>
#include <vector>

#include "engine/NodePool.h"

namespace quillo {

class UserNotifier;

struct FREE_NODE {
  FREE_NODE* Parent = nullptr; // tree only
  FREE_NODE* Left = nullptr;   // tree only: lengths <= this node's
  FREE_NODE* Right = nullptr;  // tree only: greater lengths
  uint32_t Lcn = 0;
  uint32_t Length = 0;
};

// Extents in the order they were appended (the engine appends in ascending
// LCN order). Owns its nodes.
class CCList {
public:
  CCList() = default;
  ~CCList();
  CCList(const CCList&) = delete;
  CCList& operator=(const CCList&) = delete;

  void AddNode(uint32_t lcn, uint32_t length);
  void ClearNodes();
  FREE_NODE* FindFirstFit(uint32_t n) const;
  FREE_NODE* FindLastFit(uint32_t n) const;
  // Takes n clusters from the front of the node; raises DefragError.
  void DeleteNode(FREE_NODE* node, uint32_t n);
  // Takes n clusters from the end of the node; raises DefragError.
  void DeleteNodeTail(FREE_NODE* node, uint32_t n);

  size_t Count() const { return Nodes.size(); }
  const FREE_NODE* At(size_t index) const { return Nodes[index]; }

private:
  void Take(FREE_NODE* node, uint32_t n, bool fromFront);
  NodePool<FREE_NODE> Pool;
  std::vector<FREE_NODE*> Nodes;
};

// Keyed by Length; equal lengths always go left, and the tree is never
// rebalanced, so among equally good extents FindBestFit returns the one
// inserted last. Owns its nodes.
//
// Many extents of one length make the tree a long chain. Beside it an index
// keeps, for every length in the tree, the first node of that length in
// sorted order; it finds where a new node lands and the best fit without
// walking the chain, and leaves the tree's shape exactly as the walk would.
class CCTree {
public:
  // The notifier shows the "Delete len param error!" message.
  explicit CCTree(UserNotifier& notifier);
  ~CCTree();
  CCTree(const CCTree&) = delete;
  CCTree& operator=(const CCTree&) = delete;

  void InsertExtent(uint32_t lcn, uint32_t length);
  // A node of this tree taken out with DetachNode, or nodes allocated with
  // new (a single node or a whole subtree), which the tree then owns.
  void InsertNode(FREE_NODE* node);
  void DetachNode(FREE_NODE* node);
  FREE_NODE* FindBestFit(uint32_t n) const;
  void DeleteNode(FREE_NODE* node, uint32_t n);
  void ClearNodes();

  FREE_NODE* Root() const { return RootNode; }

private:
  void ForgetRejected(FREE_NODE* node);
  // Hangs a node with its subtree where the walk from the root puts it;
  // the index is left alone.
  void HangByWalk(FREE_NODE* node);
  // Hangs a node without children in the slot the walk would end in: just
  // before the first node, in sorted order, of at least its length.
  void HangSingle(FREE_NODE* node);
  // Takes a node that is still in the tree out of the index; the sorted
  // order of the other nodes stays as it is.
  void Unindex(FREE_NODE* node);
  void RebuildIndex();
  // InsertNode for a node the tree already owns.
  void Hang(FREE_NODE* node);
  // Takes over the nodes of a subtree that did not come from the pool.
  void Adopt(FREE_NODE* top);
  void Dispose(FREE_NODE* node);

  UserNotifier& Notifier;
  NodePool<FREE_NODE> Pool;
  // Nodes handed in from outside, allocated with new.
  std::unordered_set<FREE_NODE*> Adopted;
  FREE_NODE* RootNode = nullptr;
  // Length -> first node of that length in sorted order.
  std::map<uint32_t, FREE_NODE*> FirstOfLength;
  // Nodes that DeleteNode refused to shorten: out of the tree but still ours,
  // freed by ClearNodes unless they are inserted again.
  std::vector<FREE_NODE*> Rejected;
};

} // namespace quillo
