// The field-name index of a JSON object: an AA tree (Andersson's level-balanced search tree) from a
// field name to the field's position in the object's item array.
#ifndef LORVANTA_JSON_QZBALTREE_H
#define LORVANTA_JSON_QZBALTREE_H

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

// One tree node. Links never hold null: an empty subtree is the tree's sentinel.
struct TqzBalNode {
  TqzBalNode* left = nullptr;   ///< smaller keys (not owning)
  TqzBalNode* right = nullptr;  ///< greater keys (not owning)
  std::uint8_t level = 1;       ///< AA level: 1 for a new node, 0 only for the sentinel
  std::int32_t index = -1;      ///< position of the field in the owning object
  std::u16string key;           ///< the field name
};

class TqzBalTree {
 public:
  TqzBalTree();
  ~TqzBalTree();
  // The links point at the sentinel member, so a tree stays where it was made.
  TqzBalTree(const TqzBalTree&) = delete;
  TqzBalTree& operator=(const TqzBalTree&) = delete;

  // The index stored with key, or -1. Keys compare code unit by code unit (unsigned), a proper prefix
  // first; no case folding, and the empty key is a key like any other.
  std::int32_t Lookup(std::u16string_view key) const;
  // Adds key with index and answers true; a key already present keeps its index and the answer is false.
  bool Insert(std::u16string_view key, std::int32_t index);
  // Empties the tree; later insertions work as on a new tree.
  void RemoveAll();

  std::size_t Count() const { return count_; }
  // For inspection (tests, debugging): the root, which is Sentinel() when the tree is empty.
  const TqzBalNode* Root() const { return root_; }
  const TqzBalNode* Sentinel() const { return &sentinel_; }

 private:
  bool InsertAt(TqzBalNode*& t, std::u16string_view key, std::int32_t index);
  void Skew(TqzBalNode*& t);
  void Split(TqzBalNode*& t);

  TqzBalNode sentinel_;
  TqzBalNode* root_;
  // The nodes live here; the links only point into it. A deque keeps every node where it was put.
  std::deque<TqzBalNode> nodes_;
  std::size_t count_ = 0;
};

#endif  // LORVANTA_JSON_QZBALTREE_H
