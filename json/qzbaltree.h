// The field-name index of a JSON object: an AA tree (Andersson's level-balanced search tree) from a
// field name to the field's position in the object's item array.
#ifndef LORVANTA_JSON_QZBALTREE_H
#define LORVANTA_JSON_QZBALTREE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One tree node. Links never hold null: an empty subtree is the tree's sentinel. A short key is kept in
// the node itself, so that a lookup reads one cache line per level; a longer one in storage of the tree.
struct TqzBalNode {
  static constexpr std::uint32_t kInlineKey = 12;

  TqzBalNode* left = nullptr;   ///< smaller keys (not owning)
  TqzBalNode* right = nullptr;  ///< greater keys (not owning)
  std::uint8_t level = 1;       ///< AA level: 1 for a new node, 0 only for the sentinel
  std::int32_t index = -1;      ///< position of the field in the owning object
  std::uint32_t keyLength = 0;  ///< the field name's length in code units
  union {
    char16_t inlineKey[kInlineKey];  ///< the name, when it is short
    const char16_t* longKey;         ///< the name in the tree's storage (not owning)
  };

  TqzBalNode() : inlineKey() {}
  // The field name.
  std::u16string_view Key() const { return {keyLength <= kInlineKey ? inlineKey : longKey, keyLength}; }
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
  TqzBalNode& NewNode();

  TqzBalNode sentinel_;
  TqzBalNode* root_;
  // The nodes live in blocks of doubling size (the links only point into them), so that a tree costs a
  // few allocations instead of one per key, and an empty tree none at all.
  std::vector<std::unique_ptr<TqzBalNode[]>> blocks_;
  std::vector<std::unique_ptr<char16_t[]>> longKeys_;
  std::size_t blockSize_ = 0;
  std::size_t blockUsed_ = 0;
  std::size_t count_ = 0;
};

#endif  // LORVANTA_JSON_QZBALTREE_H
