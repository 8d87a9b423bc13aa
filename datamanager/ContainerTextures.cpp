// The texture files of an asset's folder, checked after its config.
#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Path.h"
#include "datamanager/BuildNumber.h"
#include "datamanager/ConfigReports.h"
#include "datamanager/Container.h"
#include "datamanager/DataManager.h"
#include "engine/kernelx/Bitmap.h"
#include "platform/os/FileSystem.h"

namespace RUZLib {

namespace {

constexpr int kLegacyBuild = 290;
// Characters of a description line, line end included.
constexpr unsigned long kLineLength = 512;

bool IsDotName(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

bool Exists(const char* path) { return Vak::File::Exists(path) == Vak::File::RES_OK; }

std::string Lower(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(Vak::CodePage::ToLower(static_cast<unsigned char>(c)));
  return out;
}

// The text after `key` when the line starts with it (either case).
bool ValueOf(const char* line, const char* key, std::string& value) {
  const std::size_t length = std::char_traits<char>::length(key);
  if (Vak::CodePage::CompareIgnoreCaseN(line, key, length) != 0) return false;
  value = line + length;
  return true;
}

class TextureWalk {
public:
  bool Folder(const std::string& folder) {
    // A folder met again on the way down (a mount of an ancestor, or any
    // other way round) would be walked for ever.
    platform::FileId id;
    const bool known = platform::GetFileId(folder.c_str(), id) == platform::Error::None;
    if (known) {
      for (const platform::FileId& above : path_)
        if (above == id) return true;
      path_.push_back(id);
    }
    bool passed = true;
    Vak::File::Find find;
    bool found = false;
    try {
      found = find.Open((folder + "/*").c_str());
    } catch (const Vak::Exception&) {
      found = false;
    }
    for (; found; found = find.Next()) {
      if (IsDotName(find.name)) continue;
      const std::string path = folder + "/" + find.name;
      if (find.attributes & Vak::File::Entry::kFolder) {
        if (!Folder(path)) passed = false;
        continue;
      }
      const Vak::File::Path file(path.c_str());
      if (file.IsExt("texture")) {
        if (!TextureFile(path)) passed = false;
      } else if (file.IsExt("txt")) {
        Vak::File::Path stem(file);
        stem.SetExt(nullptr);
        if (stem.IsExt("convert-tex")) {
          Report::Error(Msg::kUnreadableImage, path);
          passed = false;
        } else if (stem.IsExt("texture") && !Description(folder, path)) {
          passed = false;
        }
      }
    }
    if (known) path_.pop_back();
    return passed;
  }

private:
  bool TextureFile(const std::string& path) {
    DataManager* manager = DataManager::Instance();
    if (manager->archivePresent || Exists((path + ".txt").c_str())) return true;
    if (BuildHundredths(manager->currentBuild, kBuildBiasDouble) < kLegacyBuild)
      Report::Warning(Msg::kMissingTextureDescription, path);
    else
      Report::Error(Msg::kMissingTextureDescription, path);
    return false;
  }

  bool Description(const std::string& folder, const std::string& path) {
    std::string primary, alpha;
    Vak::File file;
    if (file.Open(path.c_str(), Vak::File::kReadStored).Ok()) {
      char line[kLineLength + 2];
      while (!file.Eof()) {
        const unsigned long n = file.ReadLine(line, sizeof line);
        if (n == 0) break;
        std::string text(line);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
        std::string value;
        if (ValueOf(text.c_str(), "Primary=", value)) primary = value;
        else if (ValueOf(text.c_str(), "Alpha=", value)) alpha = value;
      }
    }
    bool passed = true;
    uint32_t size[2][2] = {};
    bool loaded[2] = {false, false};
    const std::string* names[2] = {&primary, &alpha};
    for (int i = 0; i < 2; ++i) {
      if (names[i]->empty()) continue;
      const std::string image = folder + "/" + Lower(*names[i]);
      if (!Exists(image.c_str())) {
        Report::Error(Msg::kTextureMissing, image);
        passed = false;
        continue;
      }
      if (!Vak::Bitmap::ReadSize(image.c_str(), size[i][0], size[i][1])) {
        Report::Error(Msg::kUnreadableImage, image);
        passed = false;
        continue;
      }
      loaded[i] = true;
      if (!IsPowerOfTwo(size[i][0]) || !IsPowerOfTwo(size[i][1])) {
        Report::Error(Msg::kImageNotPowerOfTwo);
        passed = false;
      }
    }
    if (loaded[0] && loaded[1] && (size[0][0] != size[1][0] || size[0][1] != size[1][1])) {
      Report::Error(Msg::kImageSizesDiffer);
      passed = false;
    }
    return passed;
  }

  static bool IsPowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

  std::vector<platform::FileId> path_;
};

} // namespace

bool Container::CheckTextureFiles(const char* folder) {
  Vak::File::Path start(folder ? folder : "");
  start.ReplaceBackSlashes();
  start.DelSlash();
  TextureWalk walk;
  return walk.Folder(static_cast<const char*>(start));
}

} // namespace RUZLib
