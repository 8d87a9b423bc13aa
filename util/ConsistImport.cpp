#include "util/ConsistImport.h"

#include <algorithm>
#include <vector>

#include "assetdb/VADAssetEdit.h"
#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADFilters.h"
#include "content/ACSChunkPtr.h"
#include "content/ResultsLog.h"

namespace {

using Vak::PString;

PString Numbered(const char* pattern, int n) {
  PString name;
  name.Setf(pattern, n);
  return name;
}

bool ConsistExists(const PString& name) {
  VADFilterElementGroup filter(new VADFilterElementString(VADFilterElementString::kCategoryList, "CN"));
  filter.Add(new VADFilterElementBool(VADFilterElementBool::kLocal));
  filter.Add(new VADFilterElementBool(VADFilterElementBool::kLocallyAvailable));
  filter.Add(new VADFilterElementBool(VADFilterElementBool::kListingPrivilege));
  auto* notObsolete = new VADFilterElementGroup(new VADFilterElementBool(VADFilterElementBool::kObsolete));
  notObsolete->SetNegate(true);
  filter.Add(notObsolete);
  KUIDList found;
  VADSelectAssets(filter, found);
  for (const KUID& kuid : found)
    if (std::string_view(static_cast<const char*>(VADGetAssetName(kuid))) == name.c_str()) return true;
  return false;
}

bool KuidOrder(const KUID& a, const KUID& b) {
  const auto key = [](const KUID& k) {
    return std::make_tuple(static_cast<uint32_t>(k.user), static_cast<uint32_t>(k.content),
                           static_cast<uint32_t>(k.version));
  };
  return key(a) < key(b);
}

// Fills a new consist config from the train's car list.
void FillConsist(ACSChunkPtr& config, const PString& name, const ACSChunkPtr& cars) {
  config.SetChildString(PString("kind"), "consist");
  config.SetChildString(PString("username"), name.c_str());
  config.SetChildFloat(PString("velmar-build"), 3.1f);
  ACSChunkPtr list;
  list.MakeContainer();
  std::vector<KUID> table;
  for (int n = 0; cars.HasChild(Numbered("car-%d", n)); ++n) {
    const KUID kuid = cars.GetChildKUID(Numbered("car-%d", n), KUID::Null());
    ACSChunkPtr car;
    car.MakeContainer();
    car.SetChildKUID(PString("car-kuid"), kuid);
    car.SetChildInt(PString("car-num"), cars.GetChildInt(Numbered("num-%d", n), 0));
    car.SetChildBool(PString("car-dir"), cars.GetChildBool(Numbered("dir-%d", n), false));
    list.SetChild(Numbered("car-%d", n), car);
    if (std::find(table.begin(), table.end(), kuid) == table.end()) table.push_back(kuid);
  }
  std::sort(table.begin(), table.end(), KuidOrder);
  ACSChunkPtr kuids;
  kuids.MakeContainer();
  for (std::size_t i = 0; i < table.size(); ++i) kuids.SetChildKUID(Numbered("%d", static_cast<int>(i)), table[i]);
  config.SetChild(PString("consist-list"), list);
  config.SetChild(PString("kuid-table"), kuids);
}

// One new consist asset; false when any step of it failed.
bool CreateConsist(ResultsLog& log, const PString& name, const ACSChunkPtr& cars) {
  VADAssetHandle handle = VADCreateAsset(KUID::Null(), true, nullptr);
  Vak::File::Path file;
  if (!handle.IsValid() || !handle.GetPath(file) || !file.AddPath("config.txt")) return false;
  ACSChunkPtr config;
  if (!config.Load(nullptr, file) || config.IsNull()) {
    VADRevertAsset(handle, nullptr);
    return false;
  }
  FillConsist(config, name, cars);
  if (!config.Save(nullptr, file)) {
    VADRevertAsset(handle, nullptr);
    return false;
  }
  bool kept = false;
  return VADCommitAssetEdits(handle, 0, &log, kept);
}

} // namespace

bool ImportConsists(ResultsLog& log, const char* path) {
  ACSChunkPtr root;
  if (!root.Load(nullptr, path) || root.IsNull()) {
    log.AddMessage(ResultsLog::kError, nullptr, "Invalid input path.");
    return false;
  }
  bool failed = false;
  for (int n = 0; root.HasChild(Numbered("train-%d", n)); ++n) {
    const ACSChunkPtr train = root.GetChildContainer(Numbered("train-%d", n));
    const PString name = train.GetChildString(PString("name"));
    const ACSChunkPtr cars = train.GetChildContainer(PString("list"));
    if (name.Length() == 0 || cars.IsNull()) continue;
    if (ConsistExists(name)) continue;
    if (!CreateConsist(log, name, cars)) failed = true;
  }
  return !failed;
}
