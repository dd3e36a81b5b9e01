// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/Tree.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "engine/DefragDefine.h"
#include "engine/UserNotifier.h"

namespace quillo {

namespace {
constexpr const char* kListLengthError = "Param Error CClist - DeleteNode";
constexpr const char* kListMissingError = "The node not in list - DeleteNode";
constexpr const char* kTreeLengthMessage = "Delete len param error!";
constexpr const char* kTreeLengthCaption = "DeleteNode";
} // namespace

// ---------------------------------------------------------------- CCList

CCList::~CCList() {
  ClearNodes();
}

void CCList::AddNode(uint32_t lcn, uint32_t length) {
  FREE_NODE* node = Pool.New();
  node->Lcn = lcn;
  node->Length = length;
  Nodes.push_back(node);
}

void CCList::ClearNodes() {
  Nodes.clear();
  Pool.Reset();
}

FREE_NODE* CCList::FindFirstFit(uint32_t n) const {
  for (FREE_NODE* node : Nodes)
    if (node->Length >= n) return node;
  return nullptr;
}

FREE_NODE* CCList::FindLastFit(uint32_t n) const {
  for (auto it = Nodes.rbegin(); it != Nodes.rend(); ++it)
    if ((*it)->Length >= n) return *it;
  return nullptr;
}

void CCList::DeleteNode(FREE_NODE* node, uint32_t n) {
  Take(node, n, true);
}

void CCList::DeleteNodeTail(FREE_NODE* node, uint32_t n) {
  Take(node, n, false);
}

void CCList::Take(FREE_NODE* node, uint32_t n, bool fromFront) {
  // Membership is checked by identity before the node is read, so a stale
  // pointer to a node this list already freed is reported, not dereferenced.
  auto it = std::find(Nodes.begin(), Nodes.end(), node);
  if (it == Nodes.end()) throw DefragError(kListMissingError);
  if (node->Length < n) throw DefragError(kListLengthError);
  node->Length -= n;
  if (fromFront) node->Lcn += n;
  if (node->Length == 0) {
    Pool.Release(node);
    Nodes.erase(it);
  }
}

std::pair<size_t, size_t> CCList::Touching(uint64_t start, uint64_t end) const {
  // In LCN order and apart, the extents' ends ascend too.
  auto from = std::partition_point(Nodes.begin(), Nodes.end(), [&](const FREE_NODE* node) {
    return uint64_t(node->Lcn) + node->Length <= start;
  });
  auto to = std::partition_point(from, Nodes.end(),
                                 [&](const FREE_NODE* node) { return node->Lcn < end; });
  return {size_t(from - Nodes.begin()), size_t(to - Nodes.begin())};
}

bool CCList::ExtentsTouching(uint64_t start, uint64_t end, uint64_t& first, uint64_t& last) const {
  auto [from, to] = Touching(start, end);
  if (from == to) return false;
  first = Nodes[from]->Lcn;
  last = uint64_t(Nodes[to - 1]->Lcn) + Nodes[to - 1]->Length;
  return true;
}

void CCList::ReplaceWithin(const std::vector<ClusterSpan>& ranges, const std::vector<ClusterSpan>& runs) {
  // Found before any node is let go: the searches look at the nodes.
  std::vector<std::pair<size_t, size_t>> touching;
  touching.reserve(ranges.size());
  for (const ClusterSpan& range : ranges) touching.push_back(Touching(range.Start, range.End));
  std::vector<FREE_NODE*> kept;
  kept.reserve(Nodes.size() + runs.size());
  size_t copied = 0;
  size_t run = 0;
  for (size_t r = 0; r < ranges.size(); ++r) {
    size_t from = std::max(touching[r].first, copied);
    size_t to = std::max(touching[r].second, from);
    kept.insert(kept.end(), Nodes.begin() + ptrdiff_t(copied), Nodes.begin() + ptrdiff_t(from));
    for (size_t k = from; k < to; ++k) Pool.Release(Nodes[k]);
    copied = to;
    for (; run < runs.size() && runs[run].Start < ranges[r].End; ++run) {
      FREE_NODE* node = Pool.New();
      node->Lcn = uint32_t(runs[run].Start);
      node->Length = uint32_t(runs[run].End - runs[run].Start);
      kept.push_back(node);
    }
  }
  kept.insert(kept.end(), Nodes.begin() + ptrdiff_t(copied), Nodes.end());
  Nodes.swap(kept);
}

// ---------------------------------------------------------------- CCTree

CCTree::CCTree(UserNotifier& notifier) : Notifier(notifier) {}

CCTree::~CCTree() {
  ClearNodes();
}

void CCTree::InsertExtent(uint32_t lcn, uint32_t length) {
  FREE_NODE* node = Pool.New();
  node->Lcn = lcn;
  node->Length = length;
  Hang(node);
}

void CCTree::Adopt(FREE_NODE* top) {
  // Without recursion: a handed-in subtree may be a chain of any depth.
  std::vector<FREE_NODE*> pending{top};
  while (!pending.empty()) {
    FREE_NODE* node = pending.back();
    pending.pop_back();
    if (node == nullptr || Pool.Owns(node) || !Adopted.insert(node).second) continue;
    pending.push_back(node->Left);
    pending.push_back(node->Right);
  }
}

void CCTree::Dispose(FREE_NODE* node) {
  if (Adopted.erase(node) != 0)
    delete node;
  else
    Pool.Release(node);
}

void CCTree::InsertNode(FREE_NODE* node) {
  Adopt(node);
  Hang(node);
}

void CCTree::Hang(FREE_NODE* node) {
  if (node == nullptr) return;
  ForgetRejected(node);
  if (node->Left == nullptr && node->Right == nullptr) {
    HangSingle(node);
    // It lands before every node of its length.
    FirstOfLength[node->Length] = node;
    AddToLcnIndexes(node);
    return;
  }
  // A whole subtree handed in from outside: hung by the walk, then every
  // node it brought is indexed.
  HangByWalk(node);
  RebuildIndex();
}

void CCTree::HangByWalk(FREE_NODE* node) {
  node->Parent = nullptr;
  if (RootNode == nullptr) {
    RootNode = node;
    return;
  }
  FREE_NODE* at = RootNode;
  while (true) {
    node->Parent = at;
    // Equal lengths go left, so the newest of equal extents is found first.
    FREE_NODE*& link = at->Length < node->Length ? at->Right : at->Left;
    if (link == nullptr) {
      link = node;
      return;
    }
    at = link;
  }
}

void CCTree::HangSingle(FREE_NODE* node) {
  auto next = FirstOfLength.lower_bound(node->Length);
  if (next == FirstOfLength.end()) {
    // Longer than everything: the walk goes right all the way down the
    // right edge, which holds one node per distinct length at most.
    HangByWalk(node);
    return;
  }
  // The walk ends next to the first node of at least this length: at its
  // empty left link, or else at the right of its sorted predecessor, the
  // rightmost node of its left subtree.
  FREE_NODE* at = next->second;
  if (at->Left == nullptr) {
    at->Left = node;
  } else {
    at = at->Left;
    while (at->Right != nullptr) at = at->Right;
    at->Right = node;
  }
  node->Parent = at;
}

void CCTree::Unindex(FREE_NODE* node) {
  auto entry = FirstOfLength.find(node->Length);
  if (entry == FirstOfLength.end() || entry->second != node) return;
  // The group's next node, if any, is the node's sorted successor: the
  // first of its right subtree (of greater lengths where equal lengths lie
  // only to the left), or else the nearest ancestor it lies left of.
  FREE_NODE* next = nullptr;
  if (node->Right != nullptr) {
    next = node->Right;
    while (next->Left != nullptr) next = next->Left;
  } else {
    const FREE_NODE* from = node;
    next = node->Parent;
    while (next != nullptr && next->Right == from) {
      from = next;
      next = next->Parent;
    }
  }
  if (next != nullptr && next->Length == node->Length)
    entry->second = next;
  else
    FirstOfLength.erase(entry);
}

void CCTree::AddToLcnIndexes(FREE_NODE* node) {
  ByLcn.emplace(node->Lcn, node);
  ByLengthAndLcn.emplace(node->Length, node->Lcn, node);
}

void CCTree::RemoveFromLcnIndexes(FREE_NODE* node) {
  auto [from, to] = ByLcn.equal_range(node->Lcn);
  for (auto it = from; it != to; ++it)
    if (it->second == node) {
      ByLcn.erase(it);
      break;
    }
  ByLengthAndLcn.erase({node->Length, node->Lcn, node});
}

void CCTree::RebuildIndex() {
  FirstOfLength.clear();
  ByLcn.clear();
  ByLengthAndLcn.clear();
  std::vector<FREE_NODE*> stack;
  FREE_NODE* node = RootNode;
  while (node != nullptr || !stack.empty()) {
    while (node != nullptr) {
      stack.push_back(node);
      node = node->Left;
    }
    node = stack.back();
    stack.pop_back();
    FirstOfLength.try_emplace(node->Length, node);
    AddToLcnIndexes(node);
    node = node->Right;
  }
}

void CCTree::DetachNode(FREE_NODE* node) {
  if (node == nullptr) return;
  bool inTree = node == RootNode || node->Parent != nullptr;
  FREE_NODE* left = node->Left;
  FREE_NODE* right = node->Right;
  if (inTree) {
    Unindex(node);
    RemoveFromLcnIndexes(node);
    // The left subtree takes the old place; the right one hangs at the right
    // end of it, so the order of the remaining nodes is unchanged, and so is
    // the index. Where equal lengths lie only to the left, as insertion by
    // the walk keeps them, that is where the walk from the root would hang
    // them; spliced directly, the order holds whatever the shape.
    FREE_NODE* replacement = left != nullptr ? left : right;
    if (left != nullptr && right != nullptr) {
      FREE_NODE* at = left;
      while (at->Right != nullptr) at = at->Right;
      at->Right = right;
      right->Parent = at;
    }
    FREE_NODE* parent = node->Parent;
    bool wasRoot = node == RootNode;
    if (wasRoot)
      RootNode = replacement;
    else if (parent->Left == node)
      parent->Left = replacement;
    else
      parent->Right = replacement;
    if (replacement != nullptr) replacement->Parent = wasRoot ? nullptr : parent;
    for (FREE_NODE* child : {left, right})
      if (child != nullptr) ForgetRejected(child);
  } else {
    // A node outside the tree hands its subtrees in like any caller.
    InsertNode(left);
    InsertNode(right);
  }
  node->Parent = nullptr;
  node->Left = nullptr;
  node->Right = nullptr;
}

FREE_NODE* CCTree::FindBestFit(uint32_t n) const {
  // The first node, in sorted order, of the smallest length that fits.
  auto fit = FirstOfLength.lower_bound(n);
  return fit == FirstOfLength.end() ? nullptr : fit->second;
}

void CCTree::DeleteNode(FREE_NODE* node, uint32_t n) {
  if (node == nullptr) return;
  DetachNode(node);
  if (n > node->Length) {
    // Kept out of the tree, as the message says, but still owned here.
    if (std::find(Rejected.begin(), Rejected.end(), node) == Rejected.end())
      Rejected.push_back(node);
    Notifier.ShowMessage(kTreeLengthMessage, kTreeLengthCaption);
    return;
  }
  node->Length -= n;
  node->Lcn += n;
  if (node->Length > 0) {
    Hang(node);
  } else {
    ForgetRejected(node);
    Dispose(node);
  }
}

void CCTree::ClearNodes() {
  // Nodes in the tree or rejected come from the pool, freed at once without
  // a walk, or were handed in and adopted.
  RootNode = nullptr;
  FirstOfLength.clear();
  ByLcn.clear();
  ByLengthAndLcn.clear();
  Rejected.clear();
  Pool.Reset();
  for (FREE_NODE* node : Adopted) delete node;
  Adopted.clear();
}

void CCTree::HangBefore(FREE_NODE* node, FREE_NODE* next) {
  node->Left = next->Left;
  if (node->Left != nullptr) node->Left->Parent = node;
  node->Right = nullptr;
  next->Left = node;
  node->Parent = next;
}

void CCTree::InsertExtentInLcnOrder(uint32_t lcn, uint32_t length) {
  FREE_NODE* node = Pool.New();
  node->Lcn = lcn;
  node->Length = length;
  // In sorted order the extents of one length run from the highest LCN to
  // the lowest; the new one goes before the highest below it.
  auto above = ByLengthAndLcn.lower_bound({length, lcn, nullptr});
  bool highestOfLength = above == ByLengthAndLcn.end() || std::get<0>(*above) != length;
  FREE_NODE* next = nullptr;
  if (above != ByLengthAndLcn.begin()) {
    auto below = std::prev(above);
    if (std::get<0>(*below) == length) next = std::get<2>(*below);
  }
  if (next == nullptr) {
    // Lowest of its length, or the only one: before the next longer extent.
    auto longer = FirstOfLength.upper_bound(length);
    if (longer != FirstOfLength.end()) next = longer->second;
  }
  if (next != nullptr) {
    HangBefore(node, next);
  } else if (RootNode == nullptr) {
    RootNode = node;
  } else {
    // After every node: nothing in the tree is longer, so the whole tree
    // can be its left subtree.
    node->Left = RootNode;
    RootNode->Parent = node;
    RootNode = node;
  }
  if (highestOfLength) FirstOfLength[length] = node;
  AddToLcnIndexes(node);
}

template <typename Visit> void CCTree::ForEachTouching(uint64_t start, uint64_t end, Visit visit) const {
  // Free extents do not overlap: only the one starting last below `start`
  // can reach into the range from below.
  auto it = ByLcn.lower_bound(uint32_t(std::min<uint64_t>(start, UINT32_MAX)));
  if (it != ByLcn.begin()) {
    auto before = std::prev(it);
    if (uint64_t(before->second->Lcn) + before->second->Length > start) it = before;
  }
  for (; it != ByLcn.end() && it->first < end; ++it)
    if (uint64_t(it->second->Lcn) + it->second->Length > start) visit(it->second);
}

void CCTree::RemoveExtentsTouching(uint64_t start, uint64_t end) {
  std::vector<FREE_NODE*> touching;
  ForEachTouching(start, end, [&](FREE_NODE* node) { touching.push_back(node); });
  for (FREE_NODE* node : touching) {
    DetachNode(node);
    Dispose(node);
  }
}

bool CCTree::ExtentsTouching(uint64_t start, uint64_t end, uint64_t& first, uint64_t& last) const {
  bool any = false;
  ForEachTouching(start, end, [&](const FREE_NODE* node) {
    first = any ? std::min<uint64_t>(first, node->Lcn) : node->Lcn;
    last = std::max<uint64_t>(any ? last : 0, uint64_t(node->Lcn) + node->Length);
    any = true;
  });
  return any;
}

void CCTree::ForgetRejected(FREE_NODE* node) {
  if (Rejected.empty()) return;
  auto it = std::find(Rejected.begin(), Rejected.end(), node);
  if (it != Rejected.end()) Rejected.erase(it);
}

} // namespace quillo
