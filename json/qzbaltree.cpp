#include "json/qzbaltree.h"

#include <algorithm>
#include <cstring>

namespace {

// Code unit by code unit, unsigned; a proper prefix orders first. Equal runs are skipped four units at
// a time, since field names often share long prefixes.
int CompareKeys(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + i, sizeof x);
    std::memcpy(&y, b.data() + i, sizeof y);
    if (x != y) break;
  }
  for (; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

constexpr std::size_t kFirstBlock = 8;
constexpr std::size_t kLargestBlock = 4096;

}  // namespace

TqzBalTree::TqzBalTree() {
  sentinel_.left = &sentinel_;
  sentinel_.right = &sentinel_;
  sentinel_.level = 0;
  root_ = &sentinel_;
}

TqzBalTree::~TqzBalTree() = default;

std::int32_t TqzBalTree::Lookup(std::u16string_view key) const {
  const TqzBalNode* node = root_;
  while (node != &sentinel_) {
    const int order = CompareKeys(key, node->Key());
    if (order == 0) return node->index;
    node = order < 0 ? node->left : node->right;
  }
  return -1;
}

bool TqzBalTree::Insert(std::u16string_view key, std::int32_t index) {
  return InsertAt(root_, key, index);
}

// Recursion depth is the tree height, which the balancing keeps below 2 log2(n) + 1.
bool TqzBalTree::InsertAt(TqzBalNode*& t, std::u16string_view key, std::int32_t index) {
  if (t == &sentinel_) {
    TqzBalNode& node = NewNode();
    node.left = &sentinel_;
    node.right = &sentinel_;
    node.level = 1;
    node.index = index;
    node.keyLength = static_cast<std::uint32_t>(key.size());
    if (key.size() <= TqzBalNode::kInlineKey) {
      std::copy(key.begin(), key.end(), node.inlineKey);
    } else {
      auto stored = std::make_unique_for_overwrite<char16_t[]>(key.size());
      std::copy(key.begin(), key.end(), stored.get());
      node.longKey = stored.get();
      longKeys_.push_back(std::move(stored));
    }
    t = &node;
    ++count_;
    return true;
  }
  const int order = CompareKeys(key, t->Key());
  if (order == 0) return false;
  const bool added = InsertAt(order < 0 ? t->left : t->right, key, index);
  if (added) {  // without a new node both rotations would leave t as it is
    Skew(t);
    Split(t);
  }
  return added;
}

// A left child on the same level becomes the parent.
void TqzBalTree::Skew(TqzBalNode*& t) {
  if (t->left->level == t->level) {
    TqzBalNode* l = t->left;
    t->left = l->right;
    l->right = t;
    t = l;
  }
}

// Two right links on the same level: the middle node moves up one level.
void TqzBalTree::Split(TqzBalNode*& t) {
  if (t->right->right->level == t->level) {
    TqzBalNode* r = t->right;
    t->right = r->left;
    r->left = t;
    ++r->level;
    t = r;
  }
}

TqzBalNode& TqzBalTree::NewNode() {
  if (blockUsed_ == blockSize_) {
    blockSize_ = blockSize_ == 0 ? kFirstBlock : std::min(blockSize_ * 2, kLargestBlock);
    blocks_.push_back(std::make_unique<TqzBalNode[]>(blockSize_));
    blockUsed_ = 0;
  }
  return blocks_.back()[blockUsed_++];
}

void TqzBalTree::RemoveAll() {
  blocks_.clear();
  longKeys_.clear();
  blockSize_ = 0;
  blockUsed_ = 0;
  root_ = &sentinel_;
  count_ = 0;
}
