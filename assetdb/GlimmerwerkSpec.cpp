#include "assetdb/GlimmerwerkSpec.h"

GlimmerwerkSpec::GlimmerwerkSpec(const KUID& kuid) : key_{kuid, this} {}

GlimmerwerkSpec::~GlimmerwerkSpec() { ReleaseArchive(); }

void GlimmerwerkSpec::Load() { dirty_ = 1; }

void GlimmerwerkSpec::SetArchive(GWSpecArchive* archive) {
  ReleaseArchive();
  archive_ = archive;
}

void GlimmerwerkSpec::ReleaseArchive() {
  GWSpecArchive* archive = archive_;
  archive_ = nullptr;
  if (archive != nullptr) archive->Release();
}

void GlimmerwerkSpec::ReleaseContents() {
  ReleaseArchive();
  for (Vak::PString& text : texts_) text = Vak::PString();
  config_.Release();
}
