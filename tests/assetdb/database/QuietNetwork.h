#pragma once
// A network service that does nothing: tests derive from it and override
// only what they watch.
#include "assetdb/VADServices.h"
#include "content/TStream.h"

class QuietNetwork : public VADNetworkService {
public:
  bool ReadUserNames(TStream&) override { return true; }
  void WriteUserNames(TStream&) override {}
  void ResetUserNames() override {}
  Vak::PString GetUserName(int32_t) override { return Vak::PString("-"); }
  bool ReadStation(TStream&) override { return true; }
  void WriteStation(TStream&) override {}
  void ClearStation() override {}
  void StartStationWorker() override {}
  void ResetStation() override {}
  void SetMembership(int32_t, float) override {}
  int32_t GetMembershipStatus() override { return 0; }
  float GetMembershipValue() override { return 0; }
  void ReleaseDownloadTask(void*) override {}
  void ResetThumbnailLookup() override {}
  bool RequestThumbnail(const KUID&) override { return false; }
  Vak::String RequestDescription(const KUID&) override { return Vak::String(); }
  void ProcessDownloadQueue() override {}
};
