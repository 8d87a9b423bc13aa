#pragma once
// Texture descriptions and their images in a temporary folder, loaded into
// CompressAsciiResource objects with an option set of the test's choosing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/Options.h"
#include "assets3d/CompressAsciiResource.h"
#include "tests/engine/kernelx/ImageFiles.h"
#include "tests/platform/os/TempFolder.h"

namespace texturetest {

class TextureFixture : public ::testing::Test {
protected:
  // Writes `name`.tga (32 bits) and `name`.texture.txt naming it, with the
  // extra description lines; the description's path.
  std::string Describe(const imagefiles::Image& image, const std::string& extra = "", const std::string& name = "t") {
    folder_.WriteFile(name + ".tga", imagefiles::Tga(image, 32, false));
    folder_.WriteFile(name + ".texture.txt", "Primary=" + name + ".tga\n" + extra);
    return folder_ / (name + ".texture.txt");
  }

  // A resource over the description with the option text attached (none
  // when null); null when LoadTxt fails.
  std::unique_ptr<CompressAsciiResource> Load(const std::string& description, const char* optionText) {
    auto texture = std::make_unique<CompressAsciiResource>(Vak::PString("t.texture"), nullptr);
    if (optionText) {
      options_.push_back(std::make_unique<Vak::Options>());
      options_.back()->ProcessRaw(optionText);
      texture->SetOptions(options_.back().get());
    }
    if (!texture->LoadTxt(description.c_str()).Ok()) return nullptr;
    return texture;
  }

  platform::test::TempFolder folder_;
  std::vector<std::unique_ptr<Vak::Options>> options_;
};

} // namespace texturetest
