// SPDX-License-Identifier: GPL-2.0-or-later
// Free-space containers: CCList, an ordered list searched from either end, and
// CCTree, an unbalanced binary search tree keyed by extent length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <tuple>
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

// A range of clusters [Start, End).
struct ClusterSpan {
  uint64_t Start = 0;
  uint64_t End = 0;
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

  // --- For a list kept in LCN order, as the engine fills it ---
  // The lowest start and highest end of the extents overlapping
  // [start, end), or false when none does.
  bool ExtentsTouching(uint64_t start, uint64_t end, uint64_t& first, uint64_t& last) const;
  // Replaces the extents overlapping the ranges (in order, apart) with the
  // runs (in LCN order, each inside a range), in one step over the list.
  void ReplaceWithin(const std::vector<ClusterSpan>& ranges, const std::vector<ClusterSpan>& runs);

private:
  // The indexes [first, last) of the extents overlapping [start, end).
  std::pair<size_t, size_t> Touching(uint64_t start, uint64_t end) const;
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

  // --- Bringing the tree up to date piece by piece. A tree filled in
  // ascending LCN order holds the extents of each length newest, that is
  // highest, first. These keep that order, so that after a piecewise update
  // the tree answers every FindBestFit as a tree filled afresh would. ---

  // Inserts the extent after the extents of its length at higher LCNs and
  // before those at lower ones.
  void InsertExtentInLcnOrder(uint32_t lcn, uint32_t length);
  // Takes out and frees every extent that overlaps [start, end).
  void RemoveExtentsTouching(uint64_t start, uint64_t end);
  // The lowest start and highest end of the extents overlapping
  // [start, end), or false when none does.
  bool ExtentsTouching(uint64_t start, uint64_t end, uint64_t& first, uint64_t& last) const;

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
  // The LCN indexes: every node in the tree, by LCN and by length and LCN.
  void AddToLcnIndexes(FREE_NODE* node);
  void RemoveFromLcnIndexes(FREE_NODE* node);
  // Hangs a single node just before `next` in sorted order: it takes
  // next's left subtree as its own, so equal lengths stay on the left.
  void HangBefore(FREE_NODE* node, FREE_NODE* next);
  template <typename Visit> void ForEachTouching(uint64_t start, uint64_t end, Visit visit) const;
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
  // Both answer where extents lie, not how the tree is shaped.
  std::multimap<uint32_t, FREE_NODE*> ByLcn;
  std::set<std::tuple<uint32_t, uint32_t, FREE_NODE*>> ByLengthAndLcn;
  // Nodes that DeleteNode refused to shorten: out of the tree but still ours,
  // freed by ClearNodes unless they are inserted again.
  std::vector<FREE_NODE*> Rejected;
};

} // namespace quillo
