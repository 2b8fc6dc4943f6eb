#include "json/qzbaltree.h"

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
    const int order = key.compare(node->key);
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
    TqzBalNode& node = nodes_.emplace_back();
    node.left = &sentinel_;
    node.right = &sentinel_;
    node.level = 1;
    node.index = index;
    node.key.assign(key);
    t = &node;
    ++count_;
    return true;
  }
  const int order = key.compare(t->key);
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

void TqzBalTree::RemoveAll() {
  nodes_.clear();
  root_ = &sentinel_;
  count_ = 0;
}
