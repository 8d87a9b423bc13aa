#pragma once
// Base of the compression plug-ins and the cursors they read and write
// through, here over memory: a read cursor over a byte range and a write
// cursor into a buffer of fixed room that refuses to pass it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Vak/Bexlorn/LZBlockCoder.h"
#include "Vak/plugins/PluginInstance.h"

namespace Vak {

class Compress : public PluginInstance {
public:
  class ReadCursor {
  public:
    ReadCursor(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(size) {}

    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    size_t Position() const { return pos_; }
    size_t Left() const { return size_ - pos_; }
    const uint8_t* Here() const { return data_ + pos_; }
    // Moves by up to `count` bytes; returns how far it moved.
    size_t Advance(size_t count) {
      if (count > Left()) count = Left();
      pos_ += count;
      return count;
    }
    void Seek(size_t position) { pos_ = position < size_ ? position : size_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
  };

  class WriteCursor final : public LZBlockCoder::Output {
  public:
    WriteCursor(void* data, size_t room) : data_(static_cast<uint8_t*>(data)), room_(room) {}

    size_t Position() const { return pos_; }
    size_t Left() const { return room_ - pos_; }
    void Seek(size_t position) { pos_ = position < room_ ? position : room_; }

    // Writes what fits of `count` bytes; returns how many were written.
    size_t Write(const void* bytes, size_t count) override {
      if (count > Left()) count = Left();
      if (count > 0) std::memcpy(data_ + pos_, bytes, count);
      pos_ += count;
      return count;
    }
    bool Put(uint8_t b) {
      if (pos_ == room_) return false;
      data_[pos_++] = b;
      return true;
    }
    // Appends `count` bytes copied from `distance` bytes back, overlapping
    // as it goes. Returns the bytes copied: 0 when the distance is 0 or
    // reaches before the start, fewer than asked when the room runs out.
    size_t Copy(size_t distance, size_t count) {
      if (distance == 0 || distance > pos_) return 0;
      if (count > Left()) count = Left();
      const uint8_t* from = data_ + pos_ - distance;
      uint8_t* to = data_ + pos_;
      if (distance >= count) {
        std::memcpy(to, from, count);
      } else {
        for (size_t i = 0; i < count; ++i) to[i] = from[i];
      }
      pos_ += count;
      return count;
    }

  private:
    uint8_t* data_;
    size_t room_;
    size_t pos_ = 0;
  };
};

} // namespace Vak
