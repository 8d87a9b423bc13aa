#include "assets3d/TextureConversion.h"

#include <cstring>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "Vak/plugins/UId.h"
#include "assets3d/CompressAsciiResource.h"

namespace {

// One opened description. The resource leaves its database's table when
// released, so that the next conversion of the same name reads it afresh.
class TextureHandle : public VADTextureResource {
public:
  TextureHandle(Vak::ResourceDatabase* database, Vak::Resource* resource)
      : database_(database), resource_(resource), texture_(dynamic_cast<CompressAsciiResource*>(resource)) {}
  bool IsCompressible() override { return texture_ != nullptr; }
  // Reading the option lists moves only their cursors; the record keeps the
  // set alive until Release.
  void SetOptions(const Vak::Options& options) override { texture_->SetOptions(const_cast<Vak::Options*>(&options)); }
  bool Load() override { return resource_->LoadAll(); }
  bool Lock() override { return texture_->LockMips(); }
  void Unlock() override { texture_->UnlockCompressed(); }
  bool CompressAndSave(const char* outputPath) override { return texture_->CompressAndSave(outputPath, true); }
  void Release() override {
    if (texture_) texture_->SetOptions(nullptr);
    resource_->ReleaseReference();
    if (database_->RemoveResource(resource_)) resource_->ReleaseHold();
    delete this;
  }

private:
  Vak::ResourceDatabase* database_;
  Vak::Resource* resource_;
  CompressAsciiResource* texture_;
};

} // namespace

void RegisterTextureResourceTypes() {
  new Vak::ResourceType<CompressAsciiResource>(Vak::PString(kConvertTexExtension), Vak::UId(kConvertTexTypeId));
}

VADTextureResource* VelmarTextureService::Open(Vak::ResourceDatabase* database, const Vak::PString&,
                                               const char* name) {
  if (database == nullptr || name == nullptr) return nullptr;
  // The type is found by the extension in front of the description's ".txt".
  std::string resourceName(name);
  if (resourceName.size() > 4 && Vak::CodePage::EndsWithIgnoreCase(resourceName.c_str(), ".txt"))
    resourceName.resize(resourceName.size() - 4);
  Vak::Resource* resource =
      database->Get(Vak::PString(resourceName.c_str()), Vak::ResourceDatabase::kNoQueue | Vak::ResourceDatabase::kNoRemember);
  if (resource == nullptr) return nullptr;
  return new TextureHandle(database, resource);
}
