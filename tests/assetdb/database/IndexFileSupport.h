#pragma once
// What the index file tests share: a network double that stores the three
// network blocks in their own layouts, and a reader of the body of a file in
// memory (unscrambled).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "assetdb/VADDatabaseFile.h"
#include "assetdb/VADServices.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TStreamObfuscated.h"

namespace indexfile {

inline void PutInt64(TStream& out, int64_t value) {
  out.WriteInt(static_cast<uint32_t>(static_cast<uint64_t>(value)));
  out.WriteInt(static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32));
}

inline int64_t GetInt64(TStream& in) {
  const uint64_t low = in.ReadInt();
  const uint64_t high = in.ReadInt();
  return static_cast<int64_t>(low | (high << 32));
}

// The user-name cache, the station state and the membership values.
class FakeNetwork : public VADNetworkService {
public:
  struct User {
    std::string name;
    int32_t id = 0;
    int32_t second = 0;
    bool operator==(const User&) const = default;
  };
  std::vector<User> users;
  std::string lastFile;
  int64_t stationTime = 0;
  std::vector<std::string> urls;
  int32_t status = 0;
  float value = 0.0f;

  bool ReadUserNames(TStream& in) override {
    users.clear();
    if (in.ReadInt() != 0) return false;
    const uint32_t count = in.ReadInt();
    for (uint32_t i = 0; i < count && in.GetError() == 0; ++i) {
      Vak::PString name;
      in.ReadPString(name);
      User user{name.c_str(), static_cast<int32_t>(in.ReadInt()), 0};
      user.second = static_cast<int32_t>(in.ReadInt());
      users.push_back(user);
    }
    return in.GetError() == 0;
  }
  void WriteUserNames(TStream& out) override {
    out.WriteInt(0);
    out.WriteInt(static_cast<uint32_t>(users.size()));
    for (const User& user : users) {
      out.WritePString(Vak::PString(user.name.c_str()));
      out.WriteInt(static_cast<uint32_t>(user.id));
      out.WriteInt(static_cast<uint32_t>(user.second));
    }
  }
  void ResetUserNames() override { users.clear(); }
  Vak::PString GetUserName(int32_t) override { return Vak::PString("-"); }

  bool ReadStation(TStream& in) override {
    urls.clear();
    if (in.ReadInt() != 1) return false;
    Vak::String last;
    in.ReadString(last);
    lastFile = static_cast<const char*>(last);
    stationTime = GetInt64(in);
    const uint32_t count = in.ReadInt();
    for (uint32_t i = 0; i < count && in.GetError() == 0; ++i) {
      Vak::PString url;
      in.ReadPString(url);
      urls.push_back(url.c_str());
    }
    return in.GetError() == 0;
  }
  void WriteStation(TStream& out) override {
    out.WriteInt(1);
    out.WriteString(Vak::String(lastFile.c_str()));
    PutInt64(out, stationTime);
    out.WriteInt(static_cast<uint32_t>(urls.size()));
    for (const std::string& url : urls) out.WritePString(Vak::PString(url.c_str()));
  }
  void ClearStation() override { urls.clear(); }
  void StartStationWorker() override {}
  void ResetStation() override {
    urls.clear();
    lastFile = "0";
    stationTime = 0;
  }
  void SetMembership(int32_t s, float v) override {
    status = s;
    value = v;
  }
  int32_t GetMembershipStatus() override { return status; }
  float GetMembershipValue() override { return value; }
  void ReleaseDownloadTask(void*) override {}
  void ResetThumbnailLookup() override {}
  bool RequestThumbnail(const KUID&) override { return false; }
  Vak::String RequestDescription(const KUID&) override { return Vak::String(); }
  void ProcessDownloadQueue() override {}
};

// Installs the double for one scope.
class NetworkScope {
public:
  explicit NetworkScope(VADNetworkService* network) : saved_(GetVADServices().network) {
    GetVADServices().network = network;
  }
  ~NetworkScope() { GetVADServices().network = saved_; }

private:
  VADNetworkService* saved_;
};

using Bytes = std::vector<uint8_t>;

inline const char* Text(const Vak::String& text) { return text; }

// The body of a file image after its header (and seed), unscrambled.
inline Bytes PlainBody(const Bytes& file) {
  TBuffer inner;
  inner.GetBuffer().Write(file.data(), static_cast<uint32_t>(file.size()));
  inner.GetBuffer().SetPosition(0);
  inner.ReadInt();
  const uint32_t version = inner.ReadInt();
  inner.ReadInt();
  TStreamObfuscated body;
  body.Open(false, &inner,
            version >= vad_file::kFirstScrambled ? TStreamObfuscated::kScrambled : TStreamObfuscated::kPlain);
  Bytes out(file.size());
  const uint32_t n = body.ReadBuffered(static_cast<uint32_t>(out.size()), out.data());
  out.resize(n);
  return out;
}

} // namespace indexfile
