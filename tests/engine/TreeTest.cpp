// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/Tree.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "engine/DefragDefine.h"

namespace quillo {
namespace {

using test::RecordingNotifier;

// ------------------------------------------------------------------ helpers

std::vector<std::pair<uint32_t, uint32_t>> ListContents(const CCList& list) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (size_t i = 0; i < list.Count(); ++i)
    out.emplace_back(list.At(i)->Lcn, list.At(i)->Length);
  return out;
}

// In-order (Lcn, Length) pairs, walked without recursion.
std::vector<std::pair<uint32_t, uint32_t>> InOrder(const CCTree& tree) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  std::vector<const FREE_NODE*> stack;
  const FREE_NODE* node = tree.Root();
  while (node != nullptr || !stack.empty()) {
    while (node != nullptr) {
      stack.push_back(node);
      node = node->Left;
    }
    node = stack.back();
    stack.pop_back();
    out.emplace_back(node->Lcn, node->Length);
    node = node->Right;
  }
  return out;
}

// Every node: left subtree lengths <= own < right subtree lengths, children
// point back at their parent, the root has none. Returns the first problem.
std::string CheckTree(const CCTree& tree) {
  const FREE_NODE* root = tree.Root();
  if (root == nullptr) return {};
  if (root->Parent != nullptr) return "root has a parent";
  struct Frame {
    const FREE_NODE* Node;
    uint64_t Low;  // lengths must be > Low - 1, i.e. >= Low
    uint64_t High; // and <= High
  };
  std::vector<Frame> stack{{root, 0, UINT32_MAX}};
  while (!stack.empty()) {
    Frame f = stack.back();
    stack.pop_back();
    const FREE_NODE* n = f.Node;
    if (n->Length < f.Low || n->Length > f.High)
      return "node (" + std::to_string(n->Lcn) + "," + std::to_string(n->Length) + ") out of order";
    if (n->Left != nullptr) {
      if (n->Left->Parent != n) return "left child has a wrong parent";
      stack.push_back({n->Left, f.Low, n->Length});
    }
    if (n->Right != nullptr) {
      if (n->Right->Parent != n) return "right child has a wrong parent";
      stack.push_back({n->Right, uint64_t(n->Length) + 1, f.High});
    }
  }
  return {};
}

bool InTree(const CCTree& tree, const FREE_NODE* wanted) {
  std::vector<const FREE_NODE*> stack{tree.Root()};
  while (!stack.empty()) {
    const FREE_NODE* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (n == wanted) return true;
    stack.push_back(n->Left);
    stack.push_back(n->Right);
  }
  return false;
}

// Runs work on a thread with a small stack, so that anything recursing once
// per node of a deep tree fails here instead of passing on a roomy stack.
void RunOnSmallStack(const std::function<void()>& work) {
  constexpr size_t kStackBytes = 256 * 1024;
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, kStackBytes), 0);
  pthread_t thread;
  auto entry = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, entry, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// ------------------------------------------------------------------ CCList

TEST(CCListTest, FindsFirstAndLastFitInListOrder) {
  CCList list;
  list.AddNode(10, 3);
  list.AddNode(20, 7);
  list.AddNode(30, 5);

  struct Case {
    uint32_t N;
    int64_t First; // Lcn, -1 for none
    int64_t Last;
  };
  const Case cases[] = {
      {5, 20, 30}, {1, 10, 30}, {3, 10, 30}, {6, 20, 20}, {7, 20, 20}, {8, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("n=" + std::to_string(c.N));
    FREE_NODE* first = list.FindFirstFit(c.N);
    FREE_NODE* last = list.FindLastFit(c.N);
    EXPECT_EQ(first ? int64_t(first->Lcn) : -1, c.First);
    EXPECT_EQ(last ? int64_t(last->Lcn) : -1, c.Last);
  }
  CCList empty;
  EXPECT_EQ(empty.FindFirstFit(0), nullptr);
  EXPECT_EQ(empty.FindLastFit(0), nullptr);
}

TEST(CCListTest, DeleteTakesClustersFromFrontOrTailAndRemovesEmptiedNodes) {
  using Contents = std::vector<std::pair<uint32_t, uint32_t>>;
  struct Case {
    const char* Name;
    bool Tail;
    uint32_t N;
    Contents Expected;
  };
  const Case cases[] = {
      {"front 2", false, 2, {{1, 4}, {102, 8}, {200, 6}}},
      {"tail 2", true, 2, {{1, 4}, {100, 8}, {200, 6}}},
      {"front all", false, 10, {{1, 4}, {200, 6}}},
      {"tail all", true, 10, {{1, 4}, {200, 6}}},
      {"nothing", false, 0, {{1, 4}, {100, 10}, {200, 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    CCList list;
    list.AddNode(1, 4);
    list.AddNode(100, 10);
    list.AddNode(200, 6);
    FREE_NODE* node = list.FindFirstFit(10);
    ASSERT_NE(node, nullptr);
    if (c.Tail)
      list.DeleteNodeTail(node, c.N);
    else
      list.DeleteNode(node, c.N);
    EXPECT_EQ(ListContents(list), c.Expected);
  }
}

TEST(CCListTest, DeleteRaisesForTooManyClustersOrAForeignNode) {
  CCList list;
  list.AddNode(100, 10);
  FREE_NODE* node = list.FindFirstFit(1);

  CCList other;
  other.AddNode(500, 50);
  FREE_NODE* foreign = other.FindFirstFit(1);

  auto messageOf = [](const std::function<void()>& call) -> std::string {
    try {
      call();
    } catch (const DefragError& e) {
      return e.what();
    }
    return "(no error)";
  };
  EXPECT_EQ(messageOf([&] { list.DeleteNode(node, 11); }), "Param Error CClist - DeleteNode");
  EXPECT_EQ(messageOf([&] { list.DeleteNodeTail(node, 11); }), "Param Error CClist - DeleteNode");
  EXPECT_EQ(messageOf([&] { list.DeleteNode(foreign, 1); }), "The node not in list - DeleteNode");
  EXPECT_EQ(messageOf([&] { list.DeleteNodeTail(nullptr, 0); }),
            "The node not in list - DeleteNode");

  // Nothing was changed by the refused calls.
  EXPECT_EQ(ListContents(list), (std::vector<std::pair<uint32_t, uint32_t>>{{100, 10}}));
  EXPECT_EQ(ListContents(other), (std::vector<std::pair<uint32_t, uint32_t>>{{500, 50}}));

  // A node already taken out is reported, not read after it was freed.
  list.DeleteNode(node, 10);
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(messageOf([&] { list.DeleteNode(node, 1); }), "The node not in list - DeleteNode");
}

// ------------------------------------------------------------------ CCTree

TEST(CCTreeTest, BestFitPrefersTheSmallestLengthThenTheLastInserted) {
  RecordingNotifier notifier;
  CCTree tree(notifier);
  tree.InsertExtent(100, 8);
  tree.InsertExtent(200, 4);
  tree.InsertExtent(300, 8);
  tree.InsertExtent(400, 12);
  ASSERT_EQ(CheckTree(tree), "");

  struct Case {
    uint32_t N;
    int64_t Lcn; // -1 for none
  };
  const Case cases[] = {{8, 300}, {9, 400}, {13, -1}, {1, 200}, {5, 300}, {12, 400}, {0, 200}};
  for (const Case& c : cases) {
    SCOPED_TRACE("n=" + std::to_string(c.N));
    FREE_NODE* found = tree.FindBestFit(c.N);
    EXPECT_EQ(found ? int64_t(found->Lcn) : -1, c.Lcn);
  }
  CCTree empty(notifier);
  EXPECT_EQ(empty.FindBestFit(0), nullptr);
}

TEST(CCTreeTest, DeleteNodeRefilesTheRemainderUnderItsNewLength) {
  RecordingNotifier notifier;
  CCTree tree(notifier);
  tree.InsertExtent(100, 8);
  tree.InsertExtent(200, 4);
  tree.InsertExtent(300, 6);
  tree.InsertExtent(400, 12);

  FREE_NODE* eight = tree.FindBestFit(8);
  ASSERT_EQ(eight->Lcn, 100u);
  tree.DeleteNode(eight, 3);
  EXPECT_EQ(CheckTree(tree), "");
  EXPECT_EQ(InOrder(tree),
            (std::vector<std::pair<uint32_t, uint32_t>>{{200, 4}, {103, 5}, {300, 6}, {400, 12}}));
  FREE_NODE* five = tree.FindBestFit(5);
  ASSERT_NE(five, nullptr);
  EXPECT_EQ(five->Lcn, 103u);
  EXPECT_EQ(five->Length, 5u);

  // Taking a whole node frees it.
  tree.DeleteNode(tree.FindBestFit(12), 12);
  EXPECT_EQ(CheckTree(tree), "");
  EXPECT_EQ(InOrder(tree),
            (std::vector<std::pair<uint32_t, uint32_t>>{{200, 4}, {103, 5}, {300, 6}}));
  EXPECT_TRUE(notifier.Messages().empty());
}

TEST(CCTreeTest, RemovingARootWithTwoSubtreesKeepsEveryOtherNodeFindable) {
  RecordingNotifier notifier;
  CCTree tree(notifier);
  // Root 8 with a full left (4: 2, 6) and right (12: 10, 14) subtree.
  const uint32_t lengths[] = {8, 4, 12, 2, 6, 10, 14, 6, 13};
  for (uint32_t length : lengths)
    tree.InsertExtent(length * 100, length);
  FREE_NODE* root = tree.Root();
  ASSERT_EQ(root->Length, 8u);
  ASSERT_NE(root->Left, nullptr);
  ASSERT_NE(root->Right, nullptr);
  auto before = InOrder(tree);

  tree.DetachNode(root);
  EXPECT_EQ(root->Parent, nullptr);
  EXPECT_EQ(root->Left, nullptr);
  EXPECT_EQ(root->Right, nullptr);
  EXPECT_EQ(CheckTree(tree), "");
  auto expected = before;
  expected.erase(std::find(expected.begin(), expected.end(), std::make_pair(800u, 8u)));
  EXPECT_EQ(InOrder(tree), expected);
  for (const auto& [lcn, length] : expected) {
    FREE_NODE* found = tree.FindBestFit(length);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Length, length);
  }
  EXPECT_EQ(tree.FindBestFit(7)->Length, 10u);

  // Hung back in, it is found again under its length.
  tree.InsertNode(root);
  EXPECT_EQ(CheckTree(tree), "");
  EXPECT_EQ(tree.FindBestFit(7), root);

  // Deleting the new root with DeleteNode behaves the same way.
  FREE_NODE* newRoot = tree.Root();
  uint32_t rootLength = newRoot->Length;
  tree.DeleteNode(newRoot, rootLength);
  EXPECT_EQ(CheckTree(tree), "");
  EXPECT_EQ(InOrder(tree).size(), expected.size());
}

TEST(CCTreeTest, DeleteLongerThanTheNodeShowsAMessageAndLeavesTheNodeOut) {
  RecordingNotifier notifier;
  CCTree tree(notifier);
  tree.InsertExtent(100, 8);
  tree.InsertExtent(200, 4);
  tree.InsertExtent(300, 12);
  FREE_NODE* four = tree.FindBestFit(4);
  ASSERT_EQ(four->Lcn, 200u);

  tree.DeleteNode(four, 5);

  auto messages = notifier.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].Text, "Delete len param error!");
  EXPECT_EQ(messages[0].Caption, "DeleteNode");
  EXPECT_FALSE(InTree(tree, four));
  EXPECT_EQ(four->Lcn, 200u);
  EXPECT_EQ(four->Length, 4u);
  EXPECT_EQ(CheckTree(tree), "");
  EXPECT_EQ(InOrder(tree), (std::vector<std::pair<uint32_t, uint32_t>>{{100, 8}, {300, 12}}));
  EXPECT_EQ(tree.FindBestFit(1)->Lcn, 100u);
  // The tree still owns the node: the destructor frees it (checked by the
  // leak sanitizer).
}

TEST(CCTreeTest, ARefusedNodeCanBeInsertedAgainAndIsFreedOnce) {
  RecordingNotifier notifier;
  CCTree tree(notifier);
  tree.InsertExtent(100, 8);
  tree.InsertExtent(200, 4);
  FREE_NODE* four = tree.FindBestFit(4);
  tree.DeleteNode(four, 9);
  tree.DeleteNode(four, 9);
  EXPECT_EQ(notifier.Messages().size(), 2u);

  tree.InsertNode(four);
  EXPECT_EQ(tree.FindBestFit(1), four);
  tree.ClearNodes();
  EXPECT_EQ(tree.Root(), nullptr);

  // Refused, then taken whole: freed once, not again by ClearNodes.
  tree.InsertExtent(300, 3);
  FREE_NODE* three = tree.FindBestFit(3);
  tree.DeleteNode(three, 4);
  tree.DeleteNode(three, 3);
  tree.ClearNodes();
  EXPECT_EQ(tree.Root(), nullptr);
}

TEST(CCTreeTest, ClearNodesFreesADegenerateChainWithoutDeepRecursion) {
  constexpr uint32_t kChainLength = 100000;
  constexpr uint32_t kLength = 16;
  RecordingNotifier notifier;
  // A chain of equal lengths is what inserting equal extents builds: each
  // hangs at the left of the last. Built directly to keep the test linear.
  auto buildChain = [&] {
    FREE_NODE* top = nullptr;
    FREE_NODE* below = nullptr;
    for (uint32_t i = 0; i < kChainLength; ++i) {
      auto* node = new FREE_NODE;
      node->Lcn = i * kLength;
      node->Length = kLength;
      node->Parent = below;
      if (below != nullptr)
        below->Left = node;
      else
        top = node;
      below = node;
    }
    return top;
  };

  RunOnSmallStack([&] {
    CCTree tree(notifier);
    tree.InsertNode(buildChain());
    ASSERT_EQ(CheckTree(tree), "");
    ASSERT_EQ(tree.FindBestFit(kLength)->Lcn, (kChainLength - 1) * kLength);
    tree.ClearNodes();
    EXPECT_EQ(tree.Root(), nullptr);
    tree.InsertNode(buildChain()); // left to the destructor
  });
}

// A sorted sequence: an insert goes to the front of its equal-length group
// and the best fit is the first element long enough.
class ReferenceTree {
public:
  void Insert(uint32_t lcn, uint32_t length) {
    auto at = std::lower_bound(Items.begin(), Items.end(), length,
                               [](const auto& item, uint32_t n) { return item.second < n; });
    Items.insert(at, {lcn, length});
  }
  const std::pair<uint32_t, uint32_t>* BestFit(uint32_t n) const {
    for (const auto& item : Items)
      if (item.second >= n) return &item;
    return nullptr;
  }
  void Remove(uint32_t lcn) {
    Items.erase(std::find_if(Items.begin(), Items.end(),
                             [&](const auto& item) { return item.first == lcn; }));
  }
  const std::vector<std::pair<uint32_t, uint32_t>>& Contents() const { return Items; }

private:
  std::vector<std::pair<uint32_t, uint32_t>> Items;
};

TEST(CCTreeTest, MatchesASortedReferenceUnderRandomOperations) {
  constexpr int kOperations = 3000;
  constexpr uint32_t kMaxLength = 24; // small, so that ties are common
  constexpr uint32_t kLcnStride = 1000;
  for (uint32_t seed : {1u, 7u, 42u, 2024u, 99991u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto uniform = [&](uint32_t low, uint32_t high) {
      return std::uniform_int_distribution<uint32_t>(low, high)(rng);
    };
    RecordingNotifier notifier;
    CCTree tree(notifier);
    ReferenceTree reference;
    std::vector<FREE_NODE*> refused; // still owned by the tree
    uint32_t nextLcn = 0;
    size_t expectedMessages = 0;

    for (int step = 0; step < kOperations; ++step) {
      uint32_t action = uint32_t(uniform(0, 99));
      if (action < 40) {
        uint32_t length = uniform(1, kMaxLength);
        uint32_t lcn = nextLcn;
        nextLcn += kLcnStride; // Lcn identifies a node; the remainder stays inside its stride
        tree.InsertExtent(lcn, length);
        reference.Insert(lcn, length);
      } else if (action < 70) {
        uint32_t n = uniform(0, kMaxLength + 2);
        FREE_NODE* got = tree.FindBestFit(n);
        const auto* want = reference.BestFit(n);
        ASSERT_EQ(got == nullptr, want == nullptr) << "n=" << n << " step " << step;
        if (got != nullptr) {
          ASSERT_EQ(got->Lcn, want->first) << "n=" << n << " step " << step;
          ASSERT_EQ(got->Length, want->second);
        }
        continue; // a search changes nothing
      } else {
        uint32_t n = uniform(1, kMaxLength);
        FREE_NODE* node = tree.FindBestFit(n);
        if (node == nullptr) continue;
        reference.Remove(node->Lcn);
        bool tooMany = uniform(0, 19) == 0;
        bool whole = uniform(0, 1) == 0;
        uint32_t take = tooMany ? node->Length + 1
                        : whole ? node->Length
                                : uniform(1, node->Length);
        uint32_t remaining = node->Length - (tooMany ? 0 : take);
        uint32_t newLcn = node->Lcn + (tooMany ? 0 : take);
        tree.DeleteNode(node, take);
        if (tooMany) {
          ++expectedMessages;
          refused.push_back(node);
        } else if (remaining > 0) {
          reference.Insert(newLcn, remaining);
        }
      }
      ASSERT_EQ(CheckTree(tree), "") << "step " << step;
      ASSERT_EQ(InOrder(tree), reference.Contents()) << "step " << step;
    }
    EXPECT_EQ(notifier.Messages().size(), expectedMessages);
    for (FREE_NODE* node : refused)
      EXPECT_FALSE(InTree(tree, node));
  }
}


// The tree as first written, walking from the root for every insertion and
// search. The indexed tree must build exactly the same shape.
class WalkingTree {
public:
  WalkingTree() = default;
  WalkingTree(const WalkingTree&) = delete;
  WalkingTree& operator=(const WalkingTree&) = delete;
  ~WalkingTree() {
    std::vector<FREE_NODE*> stack{Root};
    while (!stack.empty()) {
      FREE_NODE* n = stack.back();
      stack.pop_back();
      if (n == nullptr) continue;
      stack.push_back(n->Left);
      stack.push_back(n->Right);
      delete n;
    }
    for (FREE_NODE* n : Refused) delete n;
  }

  void InsertExtent(uint32_t lcn, uint32_t length) {
    auto* node = new FREE_NODE;
    node->Lcn = lcn;
    node->Length = length;
    InsertNode(node);
  }
  void InsertNode(FREE_NODE* node) {
    if (node == nullptr) return;
    Refused.erase(std::remove(Refused.begin(), Refused.end(), node), Refused.end());
    node->Parent = nullptr;
    if (Root == nullptr) {
      Root = node;
      return;
    }
    FREE_NODE* at = Root;
    while (true) {
      node->Parent = at;
      FREE_NODE*& link = at->Length < node->Length ? at->Right : at->Left;
      if (link == nullptr) {
        link = node;
        return;
      }
      at = link;
    }
  }
  void DetachNode(FREE_NODE* node) {
    if (node == Root)
      Root = nullptr;
    else if (node->Parent->Left == node)
      node->Parent->Left = nullptr;
    else
      node->Parent->Right = nullptr;
    InsertNode(node->Left);
    InsertNode(node->Right);
    node->Parent = node->Left = node->Right = nullptr;
  }
  FREE_NODE* FindBestFit(uint32_t n) const {
    FREE_NODE* candidate = nullptr;
    for (FREE_NODE* at = Root; at != nullptr;) {
      if (n > at->Length) {
        at = at->Right;
      } else {
        candidate = at;
        at = at->Left;
      }
    }
    return candidate;
  }
  void DeleteNode(FREE_NODE* node, uint32_t n) {
    DetachNode(node);
    if (n > node->Length) {
      Refused.push_back(node);
      return;
    }
    node->Length -= n;
    node->Lcn += n;
    if (node->Length > 0)
      InsertNode(node);
    else
      delete node;
  }

  FREE_NODE* Root = nullptr;
  std::vector<FREE_NODE*> Refused;
};

// Every node in pre-order with its Lcn, Length and the Lcns of its parent
// and children (-1 for none): equal lists mean equal shapes, given that
// every Lcn is used once.
using NodeShape = std::array<int64_t, 5>;
std::vector<NodeShape> Shape(const FREE_NODE* root) {
  auto lcnOf = [](const FREE_NODE* n) { return n ? int64_t(n->Lcn) : -1; };
  std::vector<NodeShape> out;
  std::vector<const FREE_NODE*> stack{root};
  while (!stack.empty()) {
    const FREE_NODE* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    out.push_back({n->Lcn, n->Length, lcnOf(n->Parent), lcnOf(n->Left), lcnOf(n->Right)});
    stack.push_back(n->Right);
    stack.push_back(n->Left);
  }
  return out;
}

std::vector<FREE_NODE*> NodesOf(FREE_NODE* root) {
  std::vector<FREE_NODE*> out;
  std::vector<FREE_NODE*> stack{root};
  while (!stack.empty()) {
    FREE_NODE* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    out.push_back(n);
    stack.push_back(n->Left);
    stack.push_back(n->Right);
  }
  return out;
}

FREE_NODE* WithLcn(const std::vector<FREE_NODE*>& nodes, uint32_t lcn) {
  auto it = std::find_if(nodes.begin(), nodes.end(), [&](FREE_NODE* n) { return n->Lcn == lcn; });
  return it == nodes.end() ? nullptr : *it;
}

TEST(CCTreeTest, BuildsTheSameShapeAsTheWalkingTree) {
  constexpr int kSequences = 1000;
  // Short and long sequences; the whole shape is compared after each step.
  constexpr int kOperationSteps = 30;
  constexpr int kOperationLevels = 4;
  constexpr uint32_t kLcnStride = 1u << 20; // a node's Lcn stays inside its stride
  // Few lengths make long chains of equal lengths; many make a bushy tree.
  const std::vector<std::vector<uint32_t>> lengthSets = {
      {8}, {1, 2}, {3, 5, 8}, {1, 2, 3, 4, 5, 6, 7, 8}, {16, 64, 4096}};
  constexpr uint32_t kSpreadMax = 100000;
  for (int sequence = 0; sequence < kSequences; ++sequence) {
    std::mt19937 rng{uint32_t(sequence)};
    auto uniform = [&](uint32_t low, uint32_t high) {
      return std::uniform_int_distribution<uint32_t>(low, high)(rng);
    };
    const bool spread = sequence % (lengthSets.size() + 1) == lengthSets.size();
    const std::vector<uint32_t>& lengths = lengthSets[size_t(sequence) % lengthSets.size()];
    auto randomLength = [&] {
      return spread ? uniform(1, kSpreadMax) : lengths[uniform(0, uint32_t(lengths.size()) - 1)];
    };
    SCOPED_TRACE("sequence " + std::to_string(sequence));

    RecordingNotifier notifier;
    CCTree tree(notifier);
    WalkingTree walking;
    std::vector<std::pair<FREE_NODE*, FREE_NODE*>> refused; // (tree, walking)
    size_t refusals = 0;
    uint32_t nextLcn = 0;
    const int operations = kOperationSteps * (1 + sequence % kOperationLevels);
    for (int step = 0; step < operations; ++step) {
      uint32_t action = uniform(0, 99);
      if (action < 45) {
        uint32_t length = randomLength();
        tree.InsertExtent(nextLcn, length);
        walking.InsertExtent(nextLcn, length);
        nextLcn += kLcnStride;
      } else if (action < 60) {
        uint32_t n = uniform(0, 1) ? randomLength() : uniform(0, spread ? kSpreadMax : 9);
        FREE_NODE* got = tree.FindBestFit(n);
        FREE_NODE* want = walking.FindBestFit(n);
        ASSERT_EQ(got == nullptr, want == nullptr) << "n=" << n << " step " << step;
        if (got != nullptr) {
          ASSERT_EQ(got->Lcn, want->Lcn) << "n=" << n << " step " << step;
        }
      } else if (action < 85) {
        // The pass's way: the best fit, shortened, refused now and then.
        uint32_t n = uniform(0, 1) ? randomLength() : uniform(1, 4);
        FREE_NODE* node = tree.FindBestFit(n);
        FREE_NODE* mirror = walking.FindBestFit(n);
        ASSERT_EQ(node == nullptr, mirror == nullptr);
        if (node == nullptr) continue;
        uint32_t choice = uniform(0, 9);
        uint32_t take = choice == 0   ? node->Length + 1 + uniform(0, 3)
                        : choice < 4  ? node->Length
                                      : uniform(1, node->Length);
        if (take > node->Length) {
          refused.emplace_back(node, mirror);
          ++refusals;
        }
        tree.DeleteNode(node, take);
        walking.DeleteNode(mirror, take);
      } else if (action < 93) {
        // Any node out and straight back in: subtrees are re-hung.
        std::vector<FREE_NODE*> nodes = NodesOf(tree.Root());
        if (nodes.empty()) continue;
        FREE_NODE* node = nodes[uniform(0, uint32_t(nodes.size()) - 1)];
        FREE_NODE* mirror = WithLcn(NodesOf(walking.Root), node->Lcn);
        ASSERT_NE(mirror, nullptr);
        tree.DetachNode(node);
        walking.DetachNode(mirror);
        ASSERT_EQ(Shape(tree.Root()), Shape(walking.Root)) << "step " << step;
        tree.InsertNode(node);
        walking.InsertNode(mirror);
      } else if (action < 98) {
        if (refused.empty()) continue;
        size_t pick = uniform(0, uint32_t(refused.size()) - 1);
        tree.InsertNode(refused[pick].first);
        walking.InsertNode(refused[pick].second);
        refused.erase(refused.begin() + ptrdiff_t(pick));
      } else {
        // A chain of equal extents built by hand and handed in whole.
        uint32_t length = randomLength();
        uint32_t count = uniform(2, 4);
        FREE_NODE* chains[2] = {nullptr, nullptr};
        for (FREE_NODE*& top : chains) {
          FREE_NODE* below = nullptr;
          for (uint32_t i = 0; i < count; ++i) {
            auto* node = new FREE_NODE;
            node->Lcn = nextLcn + i * kLcnStride;
            node->Length = length;
            node->Parent = below;
            (below ? below->Left : top) = node;
            below = node;
          }
        }
        nextLcn += count * kLcnStride;
        tree.InsertNode(chains[0]);
        walking.InsertNode(chains[1]);
      }
      ASSERT_EQ(Shape(tree.Root()), Shape(walking.Root)) << "step " << step;
      ASSERT_EQ(CheckTree(tree), "") << "step " << step;
    }
    EXPECT_EQ(notifier.Messages().size(), refusals);
    for (const auto& pair : refused) EXPECT_FALSE(InTree(tree, pair.first));
  }
}

TEST(CCTreeTest, ManyExtentsOfOneLengthInsertQuickly) {
  constexpr uint32_t kExtents = 300000;
  constexpr uint32_t kLength = 16;
  RecordingNotifier notifier;
  CCTree tree(notifier);
  for (uint32_t i = 0; i < kExtents; ++i) tree.InsertExtent(i * kLength * 2, kLength);
  // The newest of equal extents is found first, and they form one chain.
  FREE_NODE* best = tree.FindBestFit(kLength);
  ASSERT_NE(best, nullptr);
  EXPECT_EQ(best->Lcn, (kExtents - 1) * kLength * 2);
  EXPECT_EQ(tree.Root()->Lcn, 0u);
  // Shortened extents move to their own length, again newest first.
  for (uint32_t i = 0; i < kLength / 2; ++i) tree.DeleteNode(tree.FindBestFit(kLength), 1);
  EXPECT_EQ(tree.FindBestFit(kLength)->Lcn, (kExtents - 1 - kLength / 2) * kLength * 2);
  EXPECT_EQ(tree.FindBestFit(kLength - 1)->Lcn, (kExtents - kLength / 2) * kLength * 2 + 1);
  EXPECT_EQ(CheckTree(tree), "");
  EXPECT_EQ(InOrder(tree).size(), size_t(kExtents));
}

} // namespace
} // namespace quillo
