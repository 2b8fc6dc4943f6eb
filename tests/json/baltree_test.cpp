#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "json/qzbaltree.h"

namespace {

// Checks the AA invariants below node and collects the keys in order; returns the height.
int CheckNode(const TqzBalTree& tree, const TqzBalNode* node, std::vector<std::u16string>& keys) {
  const TqzBalNode* nil = tree.Sentinel();
  if (node == nil) return 0;
  EXPECT_GE(node->level, 1);
  // The left child is exactly one level down; the sentinel (level 0) counts as a child at level 0.
  EXPECT_EQ(node->left->level + 1, node->level) << "left level";
  // The right child is on the same level or one down, and no two right links stay on one level.
  EXPECT_TRUE(node->right->level == node->level || node->right->level + 1 == node->level) << "right level";
  EXPECT_LT(node->right->right->level, node->level) << "right grandchild level";
  if (node->level > 1) {
    EXPECT_NE(node->left, nil);
    EXPECT_NE(node->right, nil);
  }
  const int hl = CheckNode(tree, node->left, keys);
  keys.push_back(std::u16string(node->Key()));
  const int hr = CheckNode(tree, node->right, keys);
  return 1 + std::max(hl, hr);
}

int CheckTree(const TqzBalTree& tree) {
  EXPECT_EQ(tree.Sentinel()->level, 0);
  EXPECT_EQ(tree.Sentinel()->left, tree.Sentinel());
  EXPECT_EQ(tree.Sentinel()->right, tree.Sentinel());
  std::vector<std::u16string> keys;
  const int height = CheckNode(tree, tree.Root(), keys);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << "keys out of order";
  EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end()) << "duplicate key";
  EXPECT_EQ(keys.size(), tree.Count());
  return height;
}

std::u16string Key(unsigned n) {
  std::u16string key;
  do {
    key.push_back(static_cast<char16_t>(u'a' + n % 26));
    n /= 26;
  } while (n != 0);
  return key;
}

TEST(BalTree, EmptyTreeFindsNothing) {
  TqzBalTree tree;
  EXPECT_EQ(tree.Lookup(u""), -1);
  EXPECT_EQ(tree.Lookup(u"a"), -1);
  EXPECT_EQ(tree.Root(), tree.Sentinel());
}

TEST(BalTree, DuplicateKeepsFirstIndex) {
  TqzBalTree tree;
  EXPECT_TRUE(tree.Insert(u"a", 0));
  EXPECT_TRUE(tree.Insert(u"b", 1));
  EXPECT_FALSE(tree.Insert(u"a", 2));
  EXPECT_EQ(tree.Lookup(u"a"), 0);
  EXPECT_EQ(tree.Lookup(u"b"), 1);
  EXPECT_EQ(tree.Count(), 2u);
}

TEST(BalTree, KeysCompareByUnsignedCodeUnitsWithPrefixFirst) {
  TqzBalTree tree;
  const std::u16string keys[] = {u"a", u"A", u"ab", u"", u"\u00e9", u"\uffff", u"z", u"\xD83D\xDE00"};
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(tree.Insert(keys[i], i)) << i;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(tree.Lookup(keys[i]), i) << i;
  EXPECT_EQ(tree.Lookup(u"b"), -1);
  EXPECT_EQ(tree.Lookup(u"aB"), -1);
  std::vector<std::u16string> order;
  CheckNode(tree, tree.Root(), order);
  // Code units compare unsigned: U+FFFF and the surrogates come after every ASCII key.
  const std::vector<std::u16string> expected = {u"",      u"A", u"a", u"ab", u"z", u"\u00e9", u"\xD83D\xDE00",
                                                u"\uffff"};
  EXPECT_EQ(order, expected);
}

TEST(BalTree, ShortAndLongKeysAroundTheInlineSize) {
  TqzBalTree tree;
  std::vector<std::u16string> keys;
  for (size_t n = 0; n <= 2 * TqzBalNode::kInlineKey + 1; ++n) {
    keys.push_back(std::u16string(n, u'k'));
    keys.push_back(std::u16string(n, u'k') + u'\xFFFF');
  }
  for (size_t i = 0; i < keys.size(); ++i) ASSERT_TRUE(tree.Insert(keys[i], static_cast<int>(i))) << i;
  for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(tree.Lookup(keys[i]), static_cast<int>(i));
  EXPECT_EQ(tree.Lookup(std::u16string(TqzBalNode::kInlineKey + 1, u'k') + u'x'), -1);
  CheckTree(tree);
}

TEST(BalTree, AscendingInsertsStayBalanced) {
  TqzBalTree tree;
  const int n = 1000;
  for (int i = 0; i < n; ++i) {
    char16_t buf[8];
    // Zero-padded decimal, so that the keys arrive in ascending order.
    for (int d = 3, v = i; d >= 0; --d, v /= 10) buf[d] = static_cast<char16_t>(u'0' + v % 10);
    ASSERT_TRUE(tree.Insert(std::u16string_view(buf, 4), i));
  }
  const int height = CheckTree(tree);
  EXPECT_LE(height, 2 * std::log2(n) + 1);
  for (int i = 0; i < n; ++i) {
    char16_t buf[8];
    for (int d = 3, v = i; d >= 0; --d, v /= 10) buf[d] = static_cast<char16_t>(u'0' + v % 10);
    EXPECT_EQ(tree.Lookup(std::u16string_view(buf, 4)), i);
  }
}

TEST(BalTree, RandomInsertsMatchAMapAndKeepInvariants) {
  TqzBalTree tree;
  std::map<std::u16string, int> model;
  std::mt19937 rng(12345);
  for (int i = 0; i < 10000; ++i) {
    const std::u16string key = Key(rng() % 20000);  // about a fifth repeats
    const bool added = model.emplace(key, i).second;
    ASSERT_EQ(tree.Insert(key, i), added) << i;
  }
  const int height = CheckTree(tree);
  EXPECT_LE(height, 2 * std::log2(model.size()) + 1);
  for (const auto& [key, index] : model) ASSERT_EQ(tree.Lookup(key), index);
  EXPECT_EQ(tree.Lookup(u"not-a-key"), -1);
}

TEST(BalTree, RemoveAllEmptiesAndTreeIsReusable) {
  TqzBalTree tree;
  for (unsigned i = 0; i < 100; ++i) tree.Insert(Key(i), static_cast<int>(i));
  tree.RemoveAll();
  EXPECT_EQ(tree.Root(), tree.Sentinel());
  EXPECT_EQ(tree.Count(), 0u);
  for (unsigned i = 0; i < 100; ++i) EXPECT_EQ(tree.Lookup(Key(i)), -1);
  EXPECT_TRUE(tree.Insert(Key(5), 50));
  EXPECT_EQ(tree.Lookup(Key(5)), 50);
  CheckTree(tree);
}

}  // namespace
