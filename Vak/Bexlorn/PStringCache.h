#pragma once
// The table behind interned strings: equal texts share one node, so interned
// strings compare by node address. One lock guards the table, every node's
// count and the statistics; holders read a node's text without it, which is
// safe because a node with a count above 0 is never freed or edited in place.
//
// Look-ups go through an index keyed by a hash of the whole text, so finding
// a name costs the same however many names share a chain; the 997 chains keep
// the move-to-front order and are what collection steps walk. `probes` counts
// index slots passed over.
//
// Node layout on x86_64: the two chain links are pointer-sized, so the header
// is 32 bytes where the original 32-bit layout had 24. The size arithmetic of
// that layout is kept: NodeBytes(length) is the 32-bit block size, and the
// capacity (text bytes, terminator included) is NodeBytes(length) - 24 on both.
// The physical block is therefore NodeBytes(length) + 8 bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/os/RecursiveMutex.h"

namespace Vak {

class PStringCache {
public:
  struct Node {
    Node* next;
    Node* previous;   // null at the head of the chain
    uint32_t length;
    uint32_t capacity;  // text bytes available, terminator included
    int32_t count;
    uint32_t spare;     // 0, unused
    char text[1];       // zero-terminated; the block extends past the struct
  };

  struct Statistics {
    int32_t liveNodes = 0;    // nodes whose count is above 0
    int32_t references = 0;   // sum of all counts
    uint32_t hits = 0;        // lookups that found a node
    uint32_t created = 0;     // nodes created (including re-interned private copies)
    uint32_t probes = 0;      // index slots passed over during look-ups
  };

  static constexpr unsigned kBuckets = 997;
  static constexpr unsigned kHashedTail = 16;
  // Size arithmetic of the 32-bit layout: six 4-byte header words, then text.
  static constexpr unsigned kHeaderBytes32 = 24;
  static constexpr unsigned kHeaderBytes = offsetof(Node, text);
  // Longest text a node can hold; longer requests throw std::length_error.
  static constexpr unsigned kMaxLength = 0x7FFFFF00u;

  // (length + 41) rounded down to a multiple of 16: the smallest multiple of
  // 16 that is at least length + 26.
  static constexpr unsigned NodeBytes(unsigned length) { return (length + 41u) & ~15u; }
  static constexpr unsigned NodeCapacity(unsigned length) { return NodeBytes(length) - kHeaderBytes32; }
  static constexpr unsigned PhysicalBytes(unsigned length) { return kHeaderBytes + NodeCapacity(length); }
  // Hash of the last min(length, 16) bytes, h = (h << 3) ^ byte, modulo 997.
  static unsigned Bucket(const unsigned char* text, unsigned length);

  PStringCache();
  ~PStringCache();  // frees every node, whatever its count
  PStringCache(const PStringCache&) = delete;
  PStringCache& operator=(const PStringCache&) = delete;

  // The table lock (recursive). Code that changes counts itself holds it.
  void Lock() { mutex_.Lock(); }
  void Unlock() { mutex_.Unlock(); }

  // Find or insert; the node comes back with one more reference. A null text
  // gives null.
  Node* Create(const unsigned char* text, unsigned length);
  Node* Create(const unsigned char* text);
  // At most n characters; n below 0 means the whole text. A null text gives null.
  Node* CreateLimited(const char* text, int n);

  void AddReference(Node* node);  // null is ignored
  // Drops one reference; the node stays in its chain until collected.
  void Destroy(Node* node);       // null is ignored

  // One collection step: the next bucket's nodes of count 0 are freed.
  void CollectGarbage();

  // Edits consume the caller's reference to `node` and return a node with one
  // reference for the edited text (possibly the same node, unchanged).
  Node* Ins(Node* node, const unsigned char* text, unsigned position);
  Node* Del(Node* node, unsigned position, unsigned count);
  Node* ToLower(Node* node);
  Node* ToUpper(Node* node);

  // Index of the first occurrence at or after start, -1 when absent.
  static int Find(const Node* node, const unsigned char* text, unsigned start);
  static int Find(const Node* node, unsigned character, unsigned start);
  // Copies at most size - 1 characters and a terminator; returns the
  // characters copied. A null node gives "" and 0; size 0 writes nothing.
  static unsigned GetText(const Node* node, char* buffer, unsigned size);

  Statistics GetStatistics();
  // Inspection for tests and diagnostics.
  unsigned ChainLength(unsigned bucket);
  Node* ChainHead(unsigned bucket);
  unsigned CollectionCursor();

private:
  struct Chain {
    Node* head = nullptr;
    Node* tail = nullptr;
    unsigned count = 0;
  };

  static Node* NewNode(unsigned length);
  void LinkAtHead(Chain& chain, Node* node);
  void Unlink(Chain& chain, Node* node);
  // Find-or-insert under the lock. With `prepared` (a private copy holding the
  // text, count 1, unlinked) that block is linked or freed instead of allocating.
  Node* Intern(const unsigned char* text, unsigned length, Node* prepared);
  void DestroyLocked(Node* node);
  // A block for an edit result of length n holding the node's current text:
  // the node itself when it is the caller's only reference and large enough.
  Node* PrivateCopy(Node* node, unsigned n);
  Node* ChangeCase(Node* node, bool upper);

  // Open addressing with linear probing; at most half full.
  struct Slot {
    Node* node = nullptr;
    uint64_t hash = 0;
  };
  static uint64_t TextHash(const unsigned char* text, unsigned length);
  // The slot that holds the text, or the empty slot where it would go.
  Slot& FindSlot(const unsigned char* text, unsigned length, uint64_t hash);
  void IndexInsert(Slot& empty, Node* node, uint64_t hash);
  void IndexErase(Node* node);

  platform::RecursiveMutex mutex_;
  Statistics stats_;
  unsigned cursor_ = 0;
  std::unique_ptr<Chain[]> chains_;
  std::unique_ptr<Slot[]> slots_;
  unsigned slotMask_;
  unsigned slotsUsed_ = 0;
};

} // namespace Vak
