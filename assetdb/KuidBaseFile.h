#pragma once
// The user's KUID base: the last KUID handed out, kept in "settings/kuid.txt"
// under the installation's data root, and the user id derived from it. New
// assets take the next free KUID of the user's range from here.
#include <cstdint>

#include "content/KUID.h"

class KuidBaseFile {
public:
  // The settings file, relative to the data root.
  static constexpr const char* kFileName = "settings/kuid.txt";
  static constexpr int32_t kAnonymousUser = -2;

  // Stores the data root, then Load.
  static void Init(const char* root);
  // The base from the file; a missing file or tag gives the null KUID. A
  // base of a real user makes its user id the user id.
  static void Load();
  // The null KUID changes nothing and gives false. Otherwise the base and
  // the user id follow the KUID and the file is replaced; the save's result.
  static bool SetBase(const KUID& kuid);
  // -1 for no real user (null base, or user ids -9 to 0), else the base's.
  static int32_t GetUserId();

  static KUID Base();
  static int32_t UserId();
  // Back to the state before Init (tests).
  static void Reset();

  // When the base's user differs from the user id, the base becomes
  // (user id, 1000), or stays when that is out of range.
  static void Resynchronise();
};

class ResultsLog;

// The next free KUID of the user's range: obsolete KUIDs and KUIDs of
// known assets are skipped. The base is read from the file, advanced and
// saved under the exclusive index lock. The null KUID, with an error in
// `log`, when the base is the last content id or cannot be saved.
KUID VADGenerateKuid(ResultsLog* log = nullptr);
// An asset with this KUID is known to the index (under a shared lock).
bool VADKuidInUse(const KUID& kuid);
// The KUID's user id lies in the stored range.
bool VADKuidUserInRange(int32_t user);
