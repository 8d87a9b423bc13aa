// Checks of the program's own data files against the code: the string table
// against the registry of the entries the code formats, and the interface
// text against the keys the sources name. They read the source tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "content/ACSChunkPtr.h"
#include "datamanager/CheckedFormat.h"
#include "datamanager/Messages.h"

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = VELMAR_SOURCE_ROOT;

// The folders whose code may format string-table entries or name
// interface-text keys.
const char* const kScannedFolders[] = {"content", "assetdb", "util", "datamanager"};
// The one place string-table numbers are written.
const fs::path kRegistry = fs::path("datamanager") / "Messages.h";

struct SourceFile {
  fs::path relative;
  std::string text;
};

// Read once for every check.
const std::vector<SourceFile>& Sources() {
  static const std::vector<SourceFile> sources = [] {
    std::vector<SourceFile> files;
    for (const char* folder : kScannedFolders) {
      if (!fs::exists(kRoot / folder)) continue;
      for (const auto& entry : fs::recursive_directory_iterator(kRoot / folder)) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        files.push_back({fs::relative(entry.path(), kRoot), text.str()});
      }
    }
    return files;
  }();
  return sources;
}

int LineOf(const std::string& text, std::size_t offset) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

ACSChunkPtr LoadChunkFile(const fs::path& path) {
  ACSChunkPtr root;
  EXPECT_TRUE(root.Load(nullptr, path.string().c_str())) << path;
  EXPECT_FALSE(root.IsNull()) << path;
  return root;
}

TEST(DataFiles, RegistryDeclaresEachEntryOnce) {
  std::set<int> numbers;
  for (const RUZLib::MessageSpec& spec : RUZLib::MessageRegistry()) {
    EXPECT_TRUE(numbers.insert(spec.number).second) << spec.number;
    EXPECT_EQ(RUZLib::FindMessage(spec.number), &spec);
    for (const char* k = spec.kinds; *k; ++k) EXPECT_NE(std::string("sif").find(*k), std::string::npos) << spec.name;
  }
  EXPECT_EQ(RUZLib::FindMessage(0), nullptr);
}

TEST(DataFiles, StringTableHoldsEveryRegistryEntryWithMatchingConversions) {
  ACSChunkPtr table = LoadChunkFile(kRoot / "data" / "RUZData" / "stringtable.txt");
  const int count = table.GetChildCount();
  // The loader reads the names below the child count; one gap would lose
  // every later entry.
  for (int i = 0; i < count; ++i) EXPECT_EQ(std::string(table.GetChildName(i).c_str()), std::to_string(i));
  std::set<int> declared;
  for (const RUZLib::MessageSpec& spec : RUZLib::MessageRegistry()) {
    declared.insert(spec.number);
    ASSERT_LT(spec.number, count) << spec.name;
    const Vak::PString name(std::to_string(spec.number).c_str());
    const std::string text = table.GetChildString(name).c_str();
    EXPECT_FALSE(text.empty()) << spec.number << " " << spec.name;
    std::string kinds;
    EXPECT_TRUE(RUZLib::FormatConversions(text, kinds)) << spec.number << ": " << text;
    EXPECT_EQ(kinds, spec.kinds) << spec.number << ": " << text;
  }
  for (RUZLib::Msg prefix : {RUZLib::Msg::kErrorPrefix, RUZLib::Msg::kWarningPrefix, RUZLib::Msg::kNotePrefix}) {
    const Vak::PString name(std::to_string(RUZLib::Number(prefix)).c_str());
    // Used as written in front of a report: not even "%%".
    EXPECT_EQ(std::string(table.GetChildString(name).c_str()).find('%'), std::string::npos);
  }
  for (int i = 0; i < count; ++i) {
    if (declared.count(i)) continue;
    const Vak::PString name(std::to_string(i).c_str());
    EXPECT_STREQ(table.GetChildString(name).c_str(), "") << "entry " << i << " is used by no code";
  }
}

TEST(DataFiles, NoStringTableNumberOutsideTheRegistry) {
  const std::regex numbered(
      R"(\b(GetString|FormatEntry)\s*\(\s*-?[0-9]|static_cast\s*<\s*(RUZLib::)?Msg\s*>|\bMsg\s*[({]\s*[0-9])");
  std::vector<std::string> found;
  for (const SourceFile& file : Sources()) {
    if (file.relative == kRegistry) continue;
    // The regular expression is slow; most files cannot match.
    if (file.text.find("Msg") == std::string::npos && file.text.find("GetString") == std::string::npos &&
        file.text.find("FormatEntry") == std::string::npos)
      continue;
    for (auto it = std::sregex_iterator(file.text.begin(), file.text.end(), numbered); it != std::sregex_iterator();
         ++it)
      found.push_back(file.relative.string() + ":" + std::to_string(LineOf(file.text, it->position())));
  }
  EXPECT_TRUE(found.empty()) << "string-table numbers used outside " << kRegistry << ": "
                             << ::testing::PrintToString(found);
}

// The parameters each key is given where it is added; keys not listed are
// given none. Asset operations give "asset_kuid".
const std::map<std::string, std::set<std::string>> kParameters = [] {
  std::map<std::string, std::set<std::string>> table;
  for (const char* key :
       {"$vad_already_open_for_edit", "$vad_commit_database_error", "$vad_commit_file_error",
        "$vad_commit_invalid_files", "$vad_commit_missing_config", "$vad_commit_open_for_edit", "$vad_commit_perm",
        "$vad_commit_wrong_kuid", "$vad_copy_file_error", "$vad_edit_perm", "$vad_failed_install", "$vad_installed",
        "$vad_log_asset_created", "$vad_log_commit_success", "$vad_log_delete_err_archive",
        "$vad_log_delete_success", "$vad_log_openforedit_success", "$vad_log_revert_success", "$vad_not_committed",
        "$vad_open_file_error", "$vad_overwrite_error", "$vad_write_error", "$vadtask_repair_damaged"})
    table[key] = {"asset_kuid"};
  for (const char* key : {"$vad_unreadable_cdp", "$vad_package_file_read_err", "$vad_package_file_too_large",
                          "$vad_skipping_asset_at", "$vad_unable_read_config_at", "$vad_validating_crash",
                          "$vad_kuid_base_unsaved", "$vad_kuid_range_used_up"})
    table[key] = {"file_path"};
  table["$vad_package_unknown_compression"] = {"file_path", "comp_type"};
  table["$vad_package_folder_err"] = table["$vad_package_folder_read_err"] = {"folder_path"};
  table["$vad_package_file_bad_ext"] = table["$vad_package_file_bad_name"] = {"file_name"};
  table["$vad_package_file_link"] = {"file_name"};
  table["$vad_log_repair_end"] = {"warn_count", "error_count"};
  table["$vad_prompt_skipped"] = table["$vad_prompt_overwritten"] = {"asset_name", "action"};
  table["$cm_general_bps"] = {"bytes"};
  table["$cm_general_kbps"] = {"kilobytes"};
  table["$cm_general_mbps"] = {"megabytes"};
  return table;
}();

TEST(DataFiles, EveryInterfaceTextKeyOfTheSourcesHasAText) {
  ACSChunkPtr texts = LoadChunkFile(kRoot / "data" / "interfacetext.txt");
  const std::regex key(R"re("(\$(vadtask|vad|ruz|cm)_[A-Za-z0-9_]+)")re");
  std::map<std::string, std::string> missing;  // key, first place
  for (const SourceFile& file : Sources()) {
    if (file.text.find("\"$") == std::string::npos) continue;
    for (auto it = std::sregex_iterator(file.text.begin(), file.text.end(), key); it != std::sregex_iterator(); ++it) {
      const std::string name = (*it)[1].str();
      if (texts.GetChildString(Vak::PString(name.c_str())).Length() > 0) continue;
      missing.emplace(name, file.relative.string() + ":" + std::to_string(LineOf(file.text, it->position())));
    }
  }
  std::string list;
  for (const auto& [name, where] : missing) list += "\n  " + name + " (" + where + ")";
  EXPECT_TRUE(missing.empty()) << missing.size() << " interface-text keys have no text in data/interfacetext.txt:"
                               << list;
}

TEST(DataFiles, InterfaceTextsUseOnlyTheParametersTheirKeysAreGiven) {
  ACSChunkPtr texts = LoadChunkFile(kRoot / "data" / "interfacetext.txt");
  const std::regex parameter(R"(\$\(([^)]*)\))");
  std::vector<std::string> wrong;
  for (int i = 0; i < texts.GetChildCount(); ++i) {
    const std::string name = texts.GetChildName(i).c_str();
    const std::string text = texts.GetChildString(texts.GetChildName(i)).c_str();
    EXPECT_FALSE(text.empty()) << name;
    auto given = kParameters.find(name);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), parameter); it != std::sregex_iterator(); ++it) {
      std::string used = (*it)[1].str();
      for (char& c : used) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (given == kParameters.end() || !given->second.count(used))
        wrong.push_back(name + ": $(" + (*it)[1].str() + ")");
    }
  }
  EXPECT_TRUE(wrong.empty()) << "parameters a key is not given: " << ::testing::PrintToString(wrong);
}

} // namespace
