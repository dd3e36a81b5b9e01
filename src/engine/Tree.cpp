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
  auto* node = new FREE_NODE;
  node->Lcn = lcn;
  node->Length = length;
  Nodes.push_back(node);
}

void CCList::ClearNodes() {
  for (FREE_NODE* node : Nodes)
    delete node;
  Nodes.clear();
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
    delete node;
    Nodes.erase(it);
  }
}

// ---------------------------------------------------------------- CCTree

CCTree::CCTree(UserNotifier& notifier) : Notifier(notifier) {}

CCTree::~CCTree() {
  ClearNodes();
}

void CCTree::InsertExtent(uint32_t lcn, uint32_t length) {
  auto* node = new FREE_NODE;
  node->Lcn = lcn;
  node->Length = length;
  InsertNode(node);
}

void CCTree::InsertNode(FREE_NODE* node) {
  if (node == nullptr) return;
  ForgetRejected(node);
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

void CCTree::DetachNode(FREE_NODE* node) {
  if (node == nullptr) return;
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
  // The left subtree takes the old place; the right one lands at the right
  // end of it, so the order of the remaining nodes is unchanged.
  InsertNode(left);
  InsertNode(right);
  node->Parent = nullptr;
  node->Left = nullptr;
  node->Right = nullptr;
}

FREE_NODE* CCTree::FindBestFit(uint32_t n) const {
  FREE_NODE* candidate = nullptr;
  FREE_NODE* at = RootNode;
  while (at != nullptr) {
    if (n > at->Length) {
      at = at->Right;
    } else {
      candidate = at;
      at = at->Left;
    }
  }
  return candidate;
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
    InsertNode(node);
  } else {
    ForgetRejected(node);
    delete node;
  }
}

void CCTree::ClearNodes() {
  // Rotating each left child up frees the tree in one loop without a stack,
  // however deep the never-rebalanced tree has grown.
  FREE_NODE* node = RootNode;
  while (node != nullptr) {
    if (FREE_NODE* left = node->Left) {
      node->Left = left->Right;
      left->Right = node;
      node = left;
    } else {
      FREE_NODE* right = node->Right;
      delete node;
      node = right;
    }
  }
  RootNode = nullptr;
  for (FREE_NODE* rejected : Rejected)
    delete rejected;
  Rejected.clear();
}

void CCTree::ForgetRejected(FREE_NODE* node) {
  if (Rejected.empty()) return;
  auto it = std::find(Rejected.begin(), Rejected.end(), node);
  if (it != Rejected.end()) Rejected.erase(it);
}

} // namespace quillo
