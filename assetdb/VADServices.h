#pragma once
// What the asset database needs of the code above it: the data manager's
// validation, the download station's stored state and look-ups, and the
// product's resource databases. The programs install the real objects at
// start-up; tests install fakes or the real classes. Nothing installed means
// the service is absent: validation finds nothing to check, the network
// answers as if no download manager existed, and archives do not open.
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "content/KUID.h"

class ResultsLog;
class TStream;

namespace Vak {
class ResourceDatabase;
}

// The validation of one asset's config by the data manager.
class VADValidationService {
public:
  virtual ~VADValidationService() = default;
  // Sets the data manager's archive-present field, makes `folder` the asset
  // being checked (`topFolderName` names its top content folder, null when
  // none), loads `configFileName` ("config.chump" or "config.txt") from it
  // into a new config container, and checks the container into `results`.
  // False when no config loaded; `kindUnchanged` tells whether the config's
  // kind survived the checks. May throw: the caller reports that.
  virtual bool ValidateAsset(const char* folder, const char* topFolderName, const char* configFileName,
                             bool archivePresent, ResultsLog& results, bool& kindUnchanged) = 0;
  // Frees the loaded mesh data and whatever the validation left cached; run
  // on the main thread after each validation.
  virtual void PurgeLoadedData() = 0;
  // Clears the data manager's mesh-failure-reported field when a validation
  // ends.
  virtual void ClearMeshFailureReported() = 0;
};

// The download station's client state, its look-ups and the user-name cache.
// No download manager exists in these programs, so nothing here starts a
// transfer.
class VADNetworkService {
public:
  virtual ~VADNetworkService() = default;

  // The user-name cache block of the index file; Read empties it first and
  // leaves it empty when it refuses the block.
  virtual bool ReadUserNames(TStream& stream) = 0;
  virtual void WriteUserNames(TStream& stream) = 0;
  // Empties the cache and its queues; releases the pending request.
  virtual void ResetUserNames() = 0;
  // Never empty for a non-zero id.
  virtual Vak::PString GetUserName(int32_t userId) = 0;

  // The download-station block of the index file; false when refused (the
  // queue is then empty).
  virtual bool ReadStation(TStream& stream) = 0;
  virtual void WriteStation(TStream& stream) = 0;
  // Stops the worker, releases the pending requests, empties the queue.
  virtual void ClearStation() = 0;
  virtual void StartStationWorker() = 0;
  // The state of a station that never searched: queue empty, last received
  // list "0", times and the retry forgotten; the worker runs again when the
  // station is enabled.
  virtual void ResetStation() = 0;

  // The membership status and its time left in seconds.
  virtual void SetMembership(int32_t status, float value) = 0;
  virtual int32_t GetMembershipStatus() = 0;
  virtual float GetMembershipValue() = 0;

  // Drops one hold on a pending download task (opaque to the database); null
  // is ignored.
  virtual void ReleaseDownloadTask(void* task) = 0;
  virtual void ResetThumbnailLookup() = 0;
  // True while a web thumbnail may still come; false when none will.
  virtual bool RequestThumbnail(const KUID& kuid) = 0;
  // Asks the web service for the description of an asset that is not
  // installed; the description when one has come, else empty.
  virtual Vak::String RequestDescription(const KUID& kuid) = 0;
  // Runs each queued URL of the download manager once, when one exists.
  virtual void ProcessDownloadQueue() = 0;
};

// The product's resource database over one engine archive or folder. The
// archive cache owns what Create returns and deletes it (through the base's
// virtual destructor) when it purges the entry.
class VADResourceDatabaseFactory {
public:
  virtual ~VADResourceDatabaseFactory() = default;
  // `archiveExists`: root + name + ".va" is an archive, mounted read-only
  // under the name; else the folder root + name + "/" is mounted writable.
  virtual Vak::ResourceDatabase* Create(const char* name, const char* root, bool archiveExists) = 0;
};

// The free bytes on the disk that holds `path`; false when unknown.
using VADFreeSpaceFunction = bool (*)(const char* path, uint64_t& bytes);
bool VADPlatformFreeSpace(const char* path, uint64_t& bytes);

// The installed services; null when absent. Set at start-up, before any
// thread of the database runs.
struct VADServices {
  VADValidationService* validation = nullptr;
  VADNetworkService* network = nullptr;
  VADResourceDatabaseFactory* resourceDatabases = nullptr;
  // Tests replace it to play a full disk.
  VADFreeSpaceFunction freeSpace = VADPlatformFreeSpace;
};

VADServices& GetVADServices();
