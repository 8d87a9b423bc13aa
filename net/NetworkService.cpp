#include "net/NetworkService.h"

#include "net/AssetWebLookups.h"
#include "net/DownloadManager.h"
#include "net/DownloadTask.h"
#include "net/UserNameLookup.h"
#include "net/VADDownloadStation.h"

NetworkService::NetworkService()
    : NetworkService(VADDownloadStation::Global(), UserNameLookup::Global(), AssetThumbnailLookup::Global(),
                     AssetDescriptionLookup::Global()) {}

NetworkService::NetworkService(VADDownloadStation& station, UserNameLookup& userNames,
                               AssetThumbnailLookup& thumbnails, AssetDescriptionLookup& descriptions)
    : station_(station), userNames_(userNames), thumbnails_(thumbnails), descriptions_(descriptions) {}

bool NetworkService::ReadUserNames(TStream& stream) { return userNames_.Read(stream); }
void NetworkService::WriteUserNames(TStream& stream) { userNames_.Write(stream); }
void NetworkService::ResetUserNames() { userNames_.Reset(); }
Vak::PString NetworkService::GetUserName(int32_t userId) { return userNames_.GetName(userId); }

bool NetworkService::ReadStation(TStream& stream) { return station_.Read(stream); }
void NetworkService::WriteStation(TStream& stream) { station_.Write(stream); }
void NetworkService::ClearStation() { station_.Clear(); }
void NetworkService::StartStationWorker() { station_.StartWorker(); }
void NetworkService::ResetStation() { station_.Reset(); }

void NetworkService::SetMembership(int32_t status, float value) { station_.SetMembership(status, value); }
int32_t NetworkService::GetMembershipStatus() { return station_.GetMembershipState(); }
float NetworkService::GetMembershipValue() { return station_.GetMembershipTimeLeft(); }

void NetworkService::ReleaseDownloadTask(void* task) { DownloadTask::Release(static_cast<DownloadTask*>(task)); }
void NetworkService::ResetThumbnailLookup() { thumbnails_.Reset(); }
bool NetworkService::RequestThumbnail(const KUID& kuid) { return thumbnails_.Request(kuid); }

Vak::String NetworkService::RequestDescription(const KUID& kuid) {
  descriptions_.Request(kuid);
  return descriptions_.Answer(kuid);
}

void NetworkService::ProcessDownloadQueue() {
  if (DownloadManager* manager = DownloadManager::Instance()) manager->ProcessQueue();
}

void InstallNetworkService() {
  // Never destroyed: the database may call it from exit-time code.
  static NetworkService* const service = new NetworkService;
  GetVADServices().network = service;
}
