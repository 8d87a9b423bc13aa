#pragma once
// A transport over bytes in memory: reads hand out the input (at most
// `piece` bytes at a time, so callers meet short reads), writes are kept.
// For tests and fuzz targets of the readers above the transports.
#include <algorithm>
#include <cstring>
#include <string>

#include "net/NetTransport.h"

namespace nettest {

class MemoryTransport : public NetTransport {
public:
  explicit MemoryTransport(std::string input, size_t piece = 1 << 20) : input_(std::move(input)), piece_(piece) {}

  int32_t Read(void* buffer, int32_t length) override {
    const int32_t n = Peek(buffer, length);
    if (n > 0) position_ += static_cast<size_t>(n);
    return n;
  }
  int32_t Peek(void* buffer, int32_t length) override {
    if (GetStatus() == kNetClosed || length < 0) return -1;
    const size_t n = std::min({static_cast<size_t>(length), input_.size() - position_, piece_});
    memcpy(buffer, input_.data() + position_, n);
    return static_cast<int32_t>(n);
  }
  int32_t Write(const void* data, int32_t length) override {
    if (GetStatus() == kNetClosed || length < 0) return -1;
    written_.append(static_cast<const char*>(data), static_cast<size_t>(length));
    return length;
  }
  void Close() override { SetStatus(kNetClosed); }
  NetTransport* Reconnect(int32_t) override { return nullptr; }
  bool DataAvailable() override { return position_ < input_.size(); }

  // What is still to be read, and what was written.
  std::string Rest() const { return input_.substr(position_); }
  const std::string& Written() const { return written_; }

private:
  std::string input_;
  size_t piece_;
  size_t position_ = 0;
  std::string written_;
};

} // namespace nettest
