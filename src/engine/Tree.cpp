// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/Tree.h"

#include <algorithm>

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
  // The group's next node, if any, is the node's sorted successor. With a
  // right subtree there is none: that subtree holds only greater lengths.
  FREE_NODE* next = nullptr;
  if (node->Right == nullptr) {
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

void CCTree::RebuildIndex() {
  FirstOfLength.clear();
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
    node = node->Right;
  }
}

void CCTree::DetachNode(FREE_NODE* node) {
  if (node == nullptr) return;
  bool inTree = node == RootNode || node->Parent != nullptr;
  if (inTree) Unindex(node);
  if (node == RootNode) {
    RootNode = nullptr;
  } else if (FREE_NODE* parent = node->Parent) {
    if (parent->Left == node)
      parent->Left = nullptr;
    else
      parent->Right = nullptr;
  }
  FREE_NODE* left = node->Left;
  FREE_NODE* right = node->Right;
  if (inTree) {
    // The left subtree takes the old place; the right one lands at the right
    // end of it, so the order of the remaining nodes is unchanged, and so is
    // the index. Both hang by the walk: while they are out, the index still
    // counts their nodes and cannot tell where they land.
    for (FREE_NODE* child : {left, right}) {
      if (child == nullptr) continue;
      ForgetRejected(child);
      HangByWalk(child);
    }
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
  Rejected.clear();
  Pool.Reset();
  for (FREE_NODE* node : Adopted) delete node;
  Adopted.clear();
}

void CCTree::ForgetRejected(FREE_NODE* node) {
  if (Rejected.empty()) return;
  auto it = std::find(Rejected.begin(), Rejected.end(), node);
  if (it != Rejected.end()) Rejected.erase(it);
}

} // namespace quillo
