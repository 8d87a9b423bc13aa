#include "assetdb/KuidBaseFile.h"

#include <limits>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Rand.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADLock.h"
#include "content/ACSChunkPtr.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"

namespace {

constexpr const char* kUnsetRoot = "-foobar-";
constexpr const char* kTag = "base-kuid";
constexpr int32_t kFirstContent = 1000;

struct State {
  Vak::File::Path root{kUnsetRoot};
  bool rootSet = false;
  KUID base;
  int32_t userId = KuidBaseFile::kAnonymousUser;
};

State& S() {
  static State state;
  return state;
}

Vak::File::Path FilePath() {
  Vak::File::Path path = S().root;
  path.AddPath(KuidBaseFile::kFileName);
  return path;
}

bool SaveBase(const KUID& kuid) {
  ACSChunkPtr tree;
  tree.MakeContainer();
  tree.SetChildKUID(kTag, kuid);
  return tree.Save(nullptr, FilePath());
}

int32_t VersionFor(int32_t user) { return user < 0 ? KUID::kMaxVersion : 0; }

} // namespace

bool VADKuidUserInRange(int32_t user) { return user >= KUID::kMinUser && user <= KUID::kMaxUser; }

void KuidBaseFile::Init(const char* root) {
  S().root = root;
  S().rootSet = true;
  Load();
}

void KuidBaseFile::Load() {
  ACSChunkPtr tree;
  tree.Load(nullptr, FilePath());
  State& s = S();
  s.base = tree.GetChildKUID(kTag, KUID::Null());
  if (!s.base.IsNull() && s.base.user != kAnonymousUser) s.userId = s.base.user;
}

bool KuidBaseFile::SetBase(const KUID& kuid) {
  if (kuid.IsNull()) return false;
  S().base = kuid;
  S().userId = kuid.user;
  return SaveBase(kuid);
}

void KuidBaseFile::Resynchronise() {
  State& s = S();
  if (s.base.user == s.userId) return;
  KUID candidate(s.userId, kFirstContent, VersionFor(s.userId));
  if (!VADKuidUserInRange(s.userId)) candidate = KUID::Null();
  SetBase(candidate);
}

int32_t KuidBaseFile::GetUserId() {
  Resynchronise();
  const KUID base = S().base;
  if (base.IsNull() || (base.user >= -9 && base.user <= 0)) return -1;
  return base.user;
}

KUID KuidBaseFile::Base() { return S().base; }
int32_t KuidBaseFile::UserId() { return S().userId; }

void KuidBaseFile::Reset() {
  S() = State();
}

bool VADKuidInUse(const KUID& kuid) {
  VADAssetStatus status;
  return VADGetAssetStatus(kuid, status, 0);
}

KUID VADGenerateKuid(ResultsLog* log) {
  // Other processes hand out KUIDs from the same file: read, advance and
  // save it under one exclusive hold, or two of them take the same number.
  VADLock lock;
  lock.Acquire(true);
  KuidBaseFile::Load();
  KuidBaseFile::Resynchronise();
  State& s = S();
  int32_t user = s.userId;
  KUID base = s.base;
  if (base.IsNull()) {
    base.content = SharedRandNextInt() / 2;
    user = KuidBaseFile::kAnonymousUser;
  }
  for (;;) {
    if (base.content == std::numeric_limits<int32_t>::max()) {
      VADReportPath(log, ResultsLog::kError, "$vad_kuid_range_used_up", FilePath());
      return KUID::Null();
    }
    KUID candidate(user, base.content + 1, VersionFor(user));
    if (!VADKuidUserInRange(user)) candidate = KUID::Null();
    base = candidate;
    if (candidate.IsNull()) break;
    const KUID replacement = gVadAssetIndex.TableB().Lookup(candidate);
    if (!replacement.IsNull() && replacement != candidate) continue;
    if (VADKuidInUse(candidate)) continue;
    break;
  }
  // A KUID the file does not remember would be handed out again.
  if (!SaveBase(base) && !base.IsNull()) {
    VADReportPath(log, ResultsLog::kError, "$vad_kuid_base_unsaved", FilePath());
    return KUID::Null();
  }
  s.base = base;
  return base;
}
