#pragma once
// The asset database's network seam over the real classes: the download
// station, the user-name cache and the asset look-ups.
#include "assetdb/VADServices.h"

class AssetDescriptionLookup;
class AssetThumbnailLookup;
class UserNameLookup;
class VADDownloadStation;

class NetworkService : public VADNetworkService {
public:
  // Over the process-wide objects.
  NetworkService();
  // Over the given ones (tests).
  NetworkService(VADDownloadStation& station, UserNameLookup& userNames, AssetThumbnailLookup& thumbnails,
                 AssetDescriptionLookup& descriptions);

  bool ReadUserNames(TStream& stream) override;
  void WriteUserNames(TStream& stream) override;
  void ResetUserNames() override;
  Vak::PString GetUserName(int32_t userId) override;

  bool ReadStation(TStream& stream) override;
  void WriteStation(TStream& stream) override;
  void ClearStation() override;
  void StartStationWorker() override;
  void ResetStation() override;

  void SetMembership(int32_t status, float value) override;
  int32_t GetMembershipStatus() override;
  float GetMembershipValue() override;

  void ReleaseDownloadTask(void* task) override;
  void ResetThumbnailLookup() override;
  bool RequestThumbnail(const KUID& kuid) override;
  Vak::String RequestDescription(const KUID& kuid) override;
  void ProcessDownloadQueue() override;

private:
  VADDownloadStation& station_;
  UserNameLookup& userNames_;
  AssetThumbnailLookup& thumbnails_;
  AssetDescriptionLookup& descriptions_;
};

// Installs the process-wide service as the asset database's network seam;
// the programs call it at start-up, before the database starts.
void InstallNetworkService();
