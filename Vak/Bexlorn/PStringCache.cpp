#include "Vak/Bexlorn/PStringCache.h"

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/CodePage.h"

namespace Vak {

namespace {

class Guard {
public:
  explicit Guard(platform::RecursiveMutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~Guard() { mutex_.Unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

private:
  platform::RecursiveMutex& mutex_;
};

bool Matches(const PStringCache::Node* node, const unsigned char* text, unsigned length) {
  return node->length == length && std::memcmp(node->text, text, length) == 0;
}

const unsigned char* Bytes(const PStringCache::Node* node) {
  return reinterpret_cast<const unsigned char*>(node->text);
}

std::string_view View(const PStringCache::Node* node) { return {node->text, node->length}; }

} // namespace

unsigned PStringCache::Bucket(const unsigned char* text, unsigned length) {
  uint32_t h = 0;
  unsigned from = length > kHashedTail ? length - kHashedTail : 0;
  for (unsigned i = from; i < length; ++i) h = (h << 3) ^ text[i];
  return h % kBuckets;
}

namespace {
constexpr unsigned kInitialSlots = 1024;
}

PStringCache::PStringCache()
    : chains_(new Chain[kBuckets]), slots_(new Slot[kInitialSlots]), slotMask_(kInitialSlots - 1) {}

uint64_t PStringCache::TextHash(const unsigned char* text, unsigned length) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ length;
  for (; length >= 8; text += 8, length -= 8) {
    uint64_t word;
    std::memcpy(&word, text, 8);
    h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, text, length);
  h = (h ^ tail) * 0x94D049BB133111EBull;
  return h ^ (h >> 29);
}

PStringCache::Slot& PStringCache::FindSlot(const unsigned char* text, unsigned length, uint64_t hash) {
  for (unsigned i = static_cast<unsigned>(hash) & slotMask_;; i = (i + 1) & slotMask_) {
    Slot& slot = slots_[i];
    if (!slot.node || (slot.hash == hash && Matches(slot.node, text, length))) return slot;
    ++stats_.probes;
  }
}

void PStringCache::IndexInsert(Slot& empty, Node* node, uint64_t hash) {
  empty.node = node;
  empty.hash = hash;
  if (++slotsUsed_ * 2 <= slotMask_ + 1) return;
  const unsigned oldSize = slotMask_ + 1;
  std::unique_ptr<Slot[]> old(slots_.release());
  slots_.reset(new Slot[oldSize * 2]);
  slotMask_ = oldSize * 2 - 1;
  for (unsigned i = 0; i < oldSize; ++i) {
    if (!old[i].node) continue;
    unsigned j = static_cast<unsigned>(old[i].hash) & slotMask_;
    while (slots_[j].node) j = (j + 1) & slotMask_;
    slots_[j] = old[i];
  }
}

// Backward-shift deletion keeps every entry reachable from its home slot
// without tombstones.
void PStringCache::IndexErase(Node* node) {
  unsigned i = static_cast<unsigned>(TextHash(Bytes(node), node->length)) & slotMask_;
  while (slots_[i].node != node) i = (i + 1) & slotMask_;
  for (unsigned j = i;;) {
    slots_[i] = Slot();
    for (;;) {
      j = (j + 1) & slotMask_;
      if (!slots_[j].node) {
        --slotsUsed_;
        return;
      }
      unsigned home = static_cast<unsigned>(slots_[j].hash) & slotMask_;
      bool staysPut = i <= j ? (i < home && home <= j) : (i < home || home <= j);
      if (!staysPut) break;
    }
    slots_[i] = slots_[j];
    i = j;
  }
}

PStringCache::~PStringCache() {
  for (unsigned b = 0; b < kBuckets; ++b) {
    Node* node = chains_[b].head;
    while (node) {
      Node* next = node->next;
      Alloc::Delete(node);
      node = next;
    }
  }
}

PStringCache::Node* PStringCache::NewNode(unsigned length) {
  if (length > kMaxLength) throw std::length_error("interned string too long");
  Node* node = static_cast<Node*>(Alloc::New(PhysicalBytes(length)));
  node->next = nullptr;
  node->previous = nullptr;
  node->length = length;
  node->capacity = NodeCapacity(length);
  node->count = 1;
  node->spare = 0;
  return node;
}

void PStringCache::LinkAtHead(Chain& chain, Node* node) {
  node->previous = nullptr;
  node->next = chain.head;
  if (chain.head) chain.head->previous = node;
  else chain.tail = node;
  chain.head = node;
  ++chain.count;
}

void PStringCache::Unlink(Chain& chain, Node* node) {
  if (node->previous) node->previous->next = node->next;
  else chain.head = node->next;
  if (node->next) node->next->previous = node->previous;
  else chain.tail = node->previous;
  node->next = node->previous = nullptr;
  --chain.count;
}

PStringCache::Node* PStringCache::Intern(const unsigned char* text, unsigned length, Node* prepared) {
  ++stats_.references;
  Chain& chain = chains_[Bucket(text, length)];
  const uint64_t hash = TextHash(text, length);
  Slot& slot = FindSlot(text, length, hash);
  if (Node* node = slot.node) {
    ++stats_.hits;
    if (node != chain.head) {
      Unlink(chain, node);
      LinkAtHead(chain, node);
    }
    if (node->count == 0) ++stats_.liveNodes;
    ++node->count;
    if (prepared) Alloc::Delete(prepared);
    return node;
  }
  Node* node = prepared;
  if (!node) {
    node = NewNode(length);
    std::memcpy(node->text, text, length);
    node->text[length] = '\0';
  }
  ++stats_.created;
  ++stats_.liveNodes;
  LinkAtHead(chain, node);
  IndexInsert(slot, node, hash);
  return node;
}

PStringCache::Node* PStringCache::Create(const unsigned char* text, unsigned length) {
  if (!text) return nullptr;
  Guard lock(mutex_);
  return Intern(text, length, nullptr);
}

PStringCache::Node* PStringCache::Create(const unsigned char* text) {
  if (!text) return nullptr;
  size_t length = std::strlen(reinterpret_cast<const char*>(text));
  if (length > kMaxLength) throw std::length_error("interned string too long");
  return Create(text, static_cast<unsigned>(length));
}

PStringCache::Node* PStringCache::CreateLimited(const char* text, int n) {
  if (!text) return nullptr;
  size_t length;
  if (n < 0) {
    length = std::strlen(text);
  } else {
    const void* end = std::memchr(text, 0, static_cast<size_t>(n));
    length = end ? static_cast<size_t>(static_cast<const char*>(end) - text) : static_cast<size_t>(n);
  }
  if (length > kMaxLength) throw std::length_error("interned string too long");
  return Create(reinterpret_cast<const unsigned char*>(text), static_cast<unsigned>(length));
}

void PStringCache::AddReference(Node* node) {
  if (!node) return;
  Guard lock(mutex_);
  ++node->count;
  ++stats_.references;
}

void PStringCache::DestroyLocked(Node* node) {
  if (node->count == 1) --stats_.liveNodes;
  --stats_.references;
  --node->count;
}

void PStringCache::Destroy(Node* node) {
  if (!node) return;
  Guard lock(mutex_);
  DestroyLocked(node);
}

void PStringCache::CollectGarbage() {
  Guard lock(mutex_);
  cursor_ = cursor_ + 1 < kBuckets ? cursor_ + 1 : 0;
  Chain& chain = chains_[cursor_];
  for (Node* node = chain.tail; node;) {
    Node* previous = node->previous;
    if (node->count == 0) {
      Unlink(chain, node);
      IndexErase(node);
      Alloc::Delete(node);
    }
    node = previous;
  }
}

PStringCache::Node* PStringCache::PrivateCopy(Node* node, unsigned n) {
  if (n > kMaxLength) throw std::length_error("interned string too long");
  if (node->count < 2 && node->capacity >= NodeCapacity(n)) {
    Unlink(chains_[Bucket(Bytes(node), node->length)], node);
    IndexErase(node);
    --stats_.references;
    --stats_.liveNodes;
    return node;
  }
  Node* copy = NewNode(n);
  std::memcpy(copy->text, node->text, node->length + 1);
  copy->length = node->length;
  DestroyLocked(node);
  return copy;
}

PStringCache::Node* PStringCache::Ins(Node* node, const unsigned char* text, unsigned position) {
  if (!node) return Create(text);
  if (!text || !*text || position > node->length) return node;
  size_t n = std::strlen(reinterpret_cast<const char*>(text));
  if (n > kMaxLength - node->length) throw std::length_error("interned string too long");
  // The inserted text may lie inside the node that is about to be edited in place.
  std::string own;
  std::less<const unsigned char*> below;
  if (!below(text, Bytes(node)) && below(text, Bytes(node) + node->capacity)) {
    own.assign(reinterpret_cast<const char*>(text), n);
    text = reinterpret_cast<const unsigned char*>(own.data());
  }
  Guard lock(mutex_);
  unsigned oldLength = node->length;
  unsigned newLength = oldLength + static_cast<unsigned>(n);
  Node* edit = PrivateCopy(node, newLength);
  std::memmove(edit->text + position + n, edit->text + position, oldLength - position + 1);
  std::memcpy(edit->text + position, text, n);
  edit->length = newLength;
  return Intern(Bytes(edit), newLength, edit);
}

PStringCache::Node* PStringCache::Del(Node* node, unsigned position, unsigned count) {
  if (!node || count == 0 || position >= node->length) return node;
  Guard lock(mutex_);
  unsigned oldLength = node->length;
  unsigned newLength = count > oldLength - position ? position : oldLength - count;
  Node* edit = PrivateCopy(node, newLength);
  if (newLength == position) {
    edit->text[position] = '\0';
  } else {
    std::memmove(edit->text + position, edit->text + position + count, oldLength - position - count + 1);
  }
  edit->length = newLength;
  return Intern(Bytes(edit), newLength, edit);
}

PStringCache::Node* PStringCache::ChangeCase(Node* node, bool upper) {
  if (!node || node->length == 0) return node;
  Guard lock(mutex_);
  Node* edit = PrivateCopy(node, node->length);
  unsigned char* p = reinterpret_cast<unsigned char*>(edit->text);
  for (unsigned i = 0; i < edit->length; ++i) p[i] = upper ? CodePage::ToUpper(p[i]) : CodePage::ToLower(p[i]);
  return Intern(p, edit->length, edit);
}

PStringCache::Node* PStringCache::ToLower(Node* node) { return ChangeCase(node, false); }
PStringCache::Node* PStringCache::ToUpper(Node* node) { return ChangeCase(node, true); }

int PStringCache::Find(const Node* node, const unsigned char* text, unsigned start) {
  if (!node || !text) return -1;
  size_t at = View(node).find(reinterpret_cast<const char*>(text), start);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

int PStringCache::Find(const Node* node, unsigned character, unsigned start) {
  if (!node || character > 0xFF) return -1;
  size_t at = View(node).find(static_cast<char>(character), start);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

unsigned PStringCache::GetText(const Node* node, char* buffer, unsigned size) {
  if (!buffer || size == 0) return 0;
  unsigned n = node ? (node->length < size - 1 ? node->length : size - 1) : 0;
  if (n) std::memcpy(buffer, node->text, n);
  buffer[n] = '\0';
  return n;
}

PStringCache::Statistics PStringCache::GetStatistics() {
  Guard lock(mutex_);
  return stats_;
}

unsigned PStringCache::ChainLength(unsigned bucket) {
  Guard lock(mutex_);
  return bucket < kBuckets ? chains_[bucket].count : 0;
}

PStringCache::Node* PStringCache::ChainHead(unsigned bucket) {
  Guard lock(mutex_);
  return bucket < kBuckets ? chains_[bucket].head : nullptr;
}

unsigned PStringCache::CollectionCursor() {
  Guard lock(mutex_);
  return cursor_;
}

} // namespace Vak
