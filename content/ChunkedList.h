#pragma once
// A list of fixed-capacity blocks linked in a ring: few allocations and linear
// walks for the content code's lists of KUIDs, pointers and lines.
//
// The list itself is one pointer to its first block (null until something is
// stored); the first block's previous pointer is the last block. Every slot
// of a block holds a live T: a new block is value-initialised (a block of
// KUIDs starts as null KUIDs) and a slot vacated by an erase goes back to T(),
// so nothing stays referenced behind the item count. T must therefore be
// default-constructible.
//
// Size arithmetic of the 32-bit layout: two block pointers and a 32-bit count
// (12 bytes), then N items. On x86_64 the pointers are 8 bytes wide.
//
// Not locked: owners lock.
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "Vak/Bexlorn/Alloc.h"

template <typename T, unsigned N>
class ChunkedList {
  static_assert(N >= 1, "a block holds at least one item");
  static_assert(alignof(T) <= Vak::Alloc::kAlign, "blocks are 16-byte aligned");

public:
  struct Block {
    Block* next;
    Block* previous;
    uint32_t count;
    T items[N];
  };
  static_assert(sizeof(Block) < 0xFFFFFFFFu, "a block fits one allocator request");

  static constexpr unsigned kCapacity = N;
  static constexpr unsigned kBlockHeaderBytes32 = 12;
  // Bytes of one block in the 32-bit layout, given the item's 32-bit size.
  static constexpr unsigned BlockBytes32(unsigned itemBytes32) { return kBlockHeaderBytes32 + N * itemBytes32; }

  // Three words: the item (null at the end), the list's first block and the
  // block that holds the item. Walks stop when they come round to `first`.
  class Iterator {
  public:
    T* item = nullptr;
    Block* first = nullptr;
    Block* block = nullptr;

    Iterator() = default;
    Iterator(T* i, Block* f, Block* b) : item(i), first(f), block(b) {}

    bool IsEnd() const { return item == nullptr; }
    unsigned Index() const { return static_cast<unsigned>(item - block->items); }
    T& operator*() const { return *item; }
    T* operator->() const { return item; }
    bool operator==(const Iterator& other) const { return item == other.item; }

    Iterator& Next() { return Forward(1); }
    // A negative count walks the other way; passing either end gives the end.
    Iterator& Advance(int64_t n) { return n < 0 ? Backward(0 - static_cast<uint64_t>(n)) : Forward(static_cast<uint64_t>(n)); }
    Iterator& Retreat(int64_t n) { return n < 0 ? Forward(0 - static_cast<uint64_t>(n)) : Backward(static_cast<uint64_t>(n)); }

    Iterator& operator++() { return Next(); }

  private:
    void SetEnd() { item = nullptr; block = nullptr; }

    Iterator& Forward(uint64_t n) {
      if (!item) return *this;
      uint64_t pos = Index() + n;
      for (;;) {
        if (pos < block->count) {
          item = block->items + pos;
          return *this;
        }
        pos -= block->count;
        block = block->next;
        if (block == first) {
          SetEnd();
          return *this;
        }
      }
    }

    Iterator& Backward(uint64_t n) {
      if (!item) return *this;
      uint64_t index = Index();
      while (n > index) {
        // Step to the last item of the previous block.
        n -= index + 1;
        do {
          if (block == first) {
            SetEnd();
            return *this;
          }
          block = block->previous;
        } while (block->count == 0);
        index = block->count - 1;
      }
      item = block->items + (index - n);
      return *this;
    }
  };

  ChunkedList() = default;
  ChunkedList(const ChunkedList& other) { CopyFrom(other); }
  ChunkedList(ChunkedList&& other) noexcept : first_(std::exchange(other.first_, nullptr)) {}
  ChunkedList& operator=(const ChunkedList& other) {
    if (this != &other) {
      ChunkedList copy(other);
      Swap(copy);
    }
    return *this;
  }
  ChunkedList& operator=(ChunkedList&& other) noexcept {
    if (this != &other) {
      Clear();
      first_ = std::exchange(other.first_, nullptr);
    }
    return *this;
  }
  ~ChunkedList() { Clear(); }

  void Swap(ChunkedList& other) noexcept { std::swap(first_, other.first_); }

  Block* FirstBlock() const { return first_; }

  // After the last item of the last block; a full last block gets a new one
  // linked after it.
  Iterator Append(const T& value) { return Append(T(value)); }
  Iterator Append(T&& value) {
    if (!first_) first_ = NewBlock();
    Block* last = first_->previous;
    if (last->count == N) {
      Block* block = NewBlock();
      LinkAfter(last, block);
      last = block;
    }
    T* slot = last->items + last->count;
    *slot = std::move(value);
    ++last->count;
    return Iterator(slot, first_, last);
  }

  // Into the first block, in ring order, that has room; else a new last block.
  Iterator AddFirstFree(const T& value) {
    if (first_) {
      Block* block = first_;
      do {
        if (block->count < N) {
          T* slot = block->items + block->count;
          *slot = value;
          ++block->count;
          return Iterator(slot, first_, block);
        }
        block = block->next;
      } while (block != first_);
    }
    return Append(value);
  }

  // Before `where`; an end iterator appends. Returns the new item's iterator.
  // A full block is split in half (the first N/2 items stay) unless the item
  // goes to the block's front, where it takes the end of the previous block
  // or a new block between the two.
  Iterator Insert(const Iterator& where, T value) {
    if (where.IsEnd() || !first_) return Append(std::move(value));
    Block* block = where.block;
    unsigned pos = where.Index();
    if (block->count == N) {
      if (pos == 0) {
        if (block == first_) {
          Block* fresh = NewBlock();
          LinkAfter(first_->previous, fresh);
          first_ = fresh;
          return PutAt(fresh, 0, std::move(value));
        }
        Block* previous = block->previous;
        if (previous->count < N) return PutAt(previous, previous->count, std::move(value));
        Block* fresh = NewBlock();
        LinkAfter(previous, fresh);
        return PutAt(fresh, 0, std::move(value));
      }
      constexpr unsigned kKeep = N / 2;
      Block* fresh = NewBlock();
      LinkAfter(block, fresh);
      for (unsigned i = kKeep; i < N; ++i) {
        fresh->items[i - kKeep] = std::move(block->items[i]);
        block->items[i] = T();
      }
      fresh->count = N - kKeep;
      block->count = kKeep;
      if (pos > kKeep) return PutAt(fresh, pos - kKeep, std::move(value));
    }
    return PutAt(block, pos, std::move(value));
  }

  // First item equal to `key` in ring order.
  Iterator Find(const T& key) const {
    if (!first_) return End();
    Block* block = first_;
    do {
      for (uint32_t i = 0; i < block->count; ++i)
        if (block->items[i] == key) return Iterator(block->items + i, first_, block);
      block = block->next;
    } while (block != first_);
    return End();
  }

  // Unordered: the block's last item fills the gap. Returns the iterator at
  // the same place, or at the next block's first item.
  Iterator Erase(const Iterator& where) {
    Block* block = where.block;
    unsigned pos = where.Index();
    uint32_t last = block->count - 1;
    if (pos != last) block->items[pos] = std::move(block->items[last]);
    block->items[last] = T();
    block->count = last;
    return After(block, pos);
  }

  // Ordered: the items behind move down. Returns the next item's iterator.
  Iterator EraseOrdered(const Iterator& where) {
    Block* block = where.block;
    unsigned pos = where.Index();
    uint32_t last = block->count - 1;
    for (uint32_t i = pos; i < last; ++i) block->items[i] = std::move(block->items[i + 1]);
    block->items[last] = T();
    block->count = last;
    return After(block, pos);
  }

  // Takes the first item off, keeping the order of the rest.
  bool PopFront(T* value = nullptr) {
    Iterator it = Begin();
    if (it.IsEnd()) return false;
    if (value) *value = std::move(*it);
    EraseOrdered(it);
    return true;
  }

  bool Remove(const T& key) {
    Iterator it = Find(key);
    if (it.IsEnd()) return false;
    Erase(it);
    return true;
  }

  Iterator Begin() const { return first_ ? StartOf(first_) : End(); }
  Iterator End() const { return Iterator(nullptr, first_, nullptr); }
  Iterator At(uint64_t n) const {
    Iterator it = Begin();
    return n > static_cast<uint64_t>(INT64_MAX) ? End() : it.Advance(static_cast<int64_t>(n));
  }
  Iterator begin() const { return Begin(); }
  Iterator end() const { return End(); }

  bool IsEmpty() const { return !first_ || first_->count == 0; }

  uint64_t Count() const {
    uint64_t n = 0;
    if (first_) {
      Block* block = first_;
      do {
        n += block->count;
        block = block->next;
      } while (block != first_);
    }
    return n;
  }

  void Clear() {
    if (!first_) return;
    Block* block = first_;
    first_->previous->next = nullptr;
    while (block) {
      Block* next = block->next;
      FreeBlock(block);
      block = next;
    }
    first_ = nullptr;
  }

private:
  static Block* NewBlock() {
    void* memory = Vak::Alloc::New(static_cast<unsigned>(sizeof(Block)));
    Block* block;
    try {
      block = new (memory) Block();
    } catch (...) {
      Vak::Alloc::Delete(memory);
      throw;
    }
    block->next = block;
    block->previous = block;
    block->count = 0;
    return block;
  }

  static void FreeBlock(Block* block) {
    block->~Block();
    Vak::Alloc::Delete(block);
  }

  static void LinkAfter(Block* where, Block* block) {
    block->previous = where;
    block->next = where->next;
    where->next->previous = block;
    where->next = block;
  }

  // Opens a slot at `pos` (the block has room) and stores the item there.
  Iterator PutAt(Block* block, unsigned pos, T&& value) {
    for (uint32_t i = block->count; i > pos; --i) block->items[i] = std::move(block->items[i - 1]);
    block->items[pos] = std::move(value);
    ++block->count;
    return Iterator(block->items + pos, first_, block);
  }

  // First item of `block` or of the next non-empty block, stopping at the ring's end.
  Iterator StartOf(Block* block) const {
    while (block->count == 0) {
      block = block->next;
      if (block == first_) return End();
    }
    return Iterator(block->items, first_, block);
  }

  // Where a walk goes on after an item at `pos` of `block` was taken out:
  // the same place, else the next block; an emptied block is freed.
  Iterator After(Block* block, unsigned pos) {
    if (pos < block->count) return Iterator(block->items + pos, first_, block);
    Block* next = block->next;
    bool wraps = next == first_;
    if (block->count == 0) {
      if (next == block) {
        first_ = nullptr;
      } else {
        block->previous->next = next;
        next->previous = block->previous;
        if (block == first_) first_ = next;
      }
      FreeBlock(block);
    }
    if (!first_ || wraps) return End();
    return StartOf(next);
  }

  void CopyFrom(const ChunkedList& other) {
    if (!other.first_) return;
    Block* source = other.first_;
    try {
      do {
        Block* block = NewBlock();
        if (first_) {
          LinkAfter(first_->previous, block);
        } else {
          first_ = block;
        }
        for (uint32_t i = 0; i < source->count; ++i) block->items[i] = source->items[i];
        block->count = source->count;
        source = source->next;
      } while (source != other.first_);
    } catch (...) {
      Clear();
      throw;
    }
  }

  Block* first_ = nullptr;
};
