#include "util/CommandDispatcher.h"

#include <cstdio>
#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "assetdb/KuidBaseFile.h"
#include "assetdb/VADAssetEdit.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADFilters.h"
#include "assetdb/VADInstall.h"
#include "assetdb/VADKeywords.h"
#include "assetdb/VADRepair.h"
#include "assetdb/VADTask.h"
#include "cdp/ContentPackage.h"
#include "cdp/PackageFiles.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "gscompiler/Driver.h"
#include "gscompiler/ScriptFile.h"
#include "platform/os/NativePath.h"
#include "util/AssetReports.h"
#include "util/ConsistImport.h"
#include "util/EngineContext.h"
#include "util/RepairTask.h"
#include "util/StatusCommands.h"

namespace {

using Vak::PString;

std::string gStartDirectory;

std::string Lower(const char* text) { return Vak::CodePage::AsciiLowered(text ? text : ""); }

// One command line as the handlers see it.
struct Command {
  ResultsLog& log;
  int argc;
  char** argv;
  // The second argument, lower-cased; empty when missing.
  std::string parameter;

  bool HasParameter() const { return !parameter.empty(); }
  // The parameter as a path: as typed when something has that very name
  // (relative to the folder the caller is in now), else lower-cased for the
  // case-insensitive resolution to find.
  std::string PathParameter() const {
    const char* typed = Raw(2);
    return platform::ExistsAsWritten(typed) ? std::string(typed) : parameter;
  }
  const char* Raw(int index) const { return index < argc && argv[index] ? argv[index] : ""; }
  void Error(const char* text) const { log.AddMessage(ResultsLog::kError, nullptr, text); }
  KUID ParameterKuid() const { return KUID::Parse(parameter.c_str(), true); }
};

// Each handler answers true on failure, as RunCommand does.
using Handler = bool (*)(Command& command);

// Changes to a folder for the life of the object and back afterwards.
class FolderChange {
public:
  explicit FolderChange(const char* folder) {
    Vak::File::GetCwd(saved_);
    Vak::File::ChDir(folder);
  }
  ~FolderChange() { Vak::File::ChDir(saved_); }
  FolderChange(const FolderChange&) = delete;
  FolderChange& operator=(const FolderChange&) = delete;

private:
  Vak::File::Path saved_;
};

bool Version(Command&) {
  std::printf("Build %d\n", kVelmarUtilBuild);
  return false;
}

bool Echo(Command& command) {
  for (int i = 2; i < command.argc; ++i) std::printf("%s ", command.Raw(i));
  std::printf("\n");
  return false;
}

bool SetLanguage(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing input langauge id parameter.");
    return true;
  }
  static const char* const kCodes[] = {"us", "uk", "cn", "cz", "nl", "fr", "de", "it", "kr", "pl", "ru", "es", "hu"};
  for (const char* code : kCodes) {
    if (command.parameter != code) continue;
    // A code the index did not take is not set.
    return !VADSetSetting("internet", "language", code, 0);
  }
  command.Error("Unknown language code.");
  return true;
}

bool InstallCdp(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing input filepath parameter.");
    return true;
  }
  bool kept = false;
  return VADInstallFromCDP(command.PathParameter().c_str(), &command.log, kVADInstallCommit, kept, nullptr) == 0;
}

bool InstallFromPath(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing input path parameter.");
    return true;
  }
  const std::string path = command.PathParameter();
  if (!Vak::File::Exists(path.c_str()).Ok()) {
    command.Error("Invalid input path.");
    return true;
  }
  bool kept = false;
  return VADInstallFromPath(path.c_str(), &command.log, 0, kept, nullptr) == 0;
}

bool ImportConsistList(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing input path parameter.");
    return true;
  }
  return !ImportConsists(command.log, command.PathParameter().c_str());
}

bool Edit(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing AssetID parameter.");
    return true;
  }
  const KUID kuid = command.ParameterKuid();
  const VADAssetHandle handle = VADOpenAsset(kuid, true, &command.log);
  Vak::File::Path folder;
  if (!handle.IsValid() || !handle.GetPath(folder)) {
    AddAssetError(command.log, "Unknown AssetID.", kuid);
    return true;
  }
  folder.ReplaceBackSlashes();
  std::printf("+ %s : %s\n", kuid.ToConfigText().c_str(), static_cast<const char*>(folder));
  return false;
}

bool PrintConfig(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing AssetID parameter.");
    return true;
  }
  const KUID kuid = command.ParameterKuid();
  const ACSChunkPtr config = VADGetAssetConfig(kuid);
  if (config.IsNull()) {
    AddAssetError(command.log, "Asset is not local.", kuid);
    return true;
  }
  const PString text = kuid.ToConfigText();
  std::printf("+ Start of %s dump\n", text.c_str());
  std::fflush(stdout);
  config.DumpToConsole();
  std::printf("+ End of %s dump\n", text.c_str());
  return false;
}

bool Compile(Command& command) {
  FolderChange change(GetStartDirectory());
  if (!command.HasParameter()) {
    command.Error("Invalid file path.");
    return true;
  }
  static char empty[] = "";
  command.argv[1] = empty;
  return GSCompiler::RunCommandLine(command.argc, command.argv) != 0;
}

bool Encrypt(Command& command) {
  FolderChange change(GetStartDirectory());
  Vak::File::Path output(command.parameter.c_str());
  const bool usable = command.HasParameter() && output.IsExt("gs") && output.SetExt("gse");
  if (!usable) {
    command.Error("Invalid file path.");
    return true;
  }
  ScriptFile script;
  // A script that could not be written is not done either.
  const bool done = script.Load("", command.PathParameter().c_str()) && script.Save("", output);
  script.Clear();
  if (!done) command.Error("Invalid file path.");
  return !done;
}

bool Commit(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing AssetID parameter.");
    return true;
  }
  VADAssetHandle handle = VADOpenAsset(command.ParameterKuid(), true, &command.log);
  bool kept = false;
  return !VADCommitAssetEdits(handle, 0, &command.log, kept);
}

bool Revert(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing AssetID parameter.");
    return true;
  }
  const VADAssetHandle handle = VADOpenAsset(command.ParameterKuid(), false, &command.log);
  return !VADRevertAsset(handle, nullptr);
}

bool Delete(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing AssetID parameter.");
    return true;
  }
  return !VADDeleteAsset(command.ParameterKuid(), true, nullptr);
}

bool GenerateKuid(Command& command) {
  const KUID kuid = VADGenerateKuid(&command.log);
  if (kuid.IsNull()) return true;
  std::printf("<KUID2:%d:%d:%d>\n", kuid.user, kuid.content, kuid.version);
  return false;
}

bool CompressTexture(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing AssetID parameter.");
    return true;
  }
  const std::string parameter = command.PathParameter();
  const bool absolute = parameter[0] == '/' || (parameter.size() > 3 && parameter[1] == ':' && parameter[2] == '\\');
  Vak::File::Path folder;
  if (absolute) {
    folder = parameter.c_str();
  } else {
    Vak::File::GetCwd(folder);
    folder.AddPath(parameter.c_str());
    folder.Normalize();
  }
  return VADConvertTextures(PString(), folder, command.log) != 2;
}

bool Authors(Command&) {
  VADSearchCriteria criteria;
  criteria.State(1) = VADSearchCriteria::kMust;
  criteria.State(2) = VADSearchCriteria::kMust;
  criteria.State(9) = VADSearchCriteria::kMust;
  KUIDList found;
  VADSearchAssets(criteria, found);
  std::vector<std::string> names;
  for (const KUID& kuid : found) {
    VADAssetStatus status;
    if (!VADGetAssetStatus(kuid, status, 255)) continue;
    PString name;
    if (!VADGetAuthorName(status.userId, name)) continue;
    const std::string text(name.c_str());
    bool seen = false;
    for (const std::string& known : names) seen = seen || known == text;
    if (!seen) names.push_back(text);
  }
  for (const std::string& name : names) std::printf("%s\n", name.c_str());
  return false;
}

bool SearchByCategory(Command& command) {
  VADSearchCriteria criteria;
  std::string list = command.parameter;
  criteria.State(1) = VADSearchCriteria::kMust;
  if (command.parameter == "-a") {
    list = command.Raw(3);
    if (list.empty()) {
      command.Error("Missing category parameter.");
      return true;
    }
    criteria.State(1) = VADSearchCriteria::kAny;
  }
  for (char& c : list)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  criteria.categories = list.c_str();
  KUIDList found;
  VADSearchAssets(criteria, found);
  if (found.Count() == 0) return true;
  std::printf("+ %d : assets matching the specified criteria\n", static_cast<int>(found.Count()));
  int i = 0;
  for (const KUID& kuid : found) std::printf("+ #%d : %s\n", i++, kuid.ToConfigText().c_str());
  return false;
}

bool CreateCdp(Command& command) {
  const char* output = command.Raw(2);
  if (!*output) {
    command.Error("Missing output path parameter.");
    return true;
  }
  if (!Vak::File::Path(output).IsExt("cdp")) {
    command.Error("The output filename must have a .cdp extension.");
    return true;
  }
  ContentPackage package;
  Vak::String error;
  // Read as they are and coded on helper threads while the next are read:
  // the same bytes as reading each asset compressed.
  PackageEncoder encoder;
  for (int i = 3; i < command.argc; ++i) {
    const KUID kuid = KUID::Parse(command.Raw(i), false);
    if (kuid.IsNull()) {
      command.Error("Invalid AssetID.");
      return true;
    }
    // Installed is enough: an asset held only in an archive has no local
    // folder, and one that cannot be read fails below.
    VADAssetStatus status;
    if (!VADGetAssetStatus(kuid, status, 255) || !(status.state & VADAssetStatus::kInstalled)) {
      AddAssetError(command.log, "Asset is not local.", kuid);
      return true;
    }
    const int32_t errors = command.log.GetErrorCount();
    ContentPackageItem read = VADReadAssetForPackage(kuid, &command.log, kVADPackageDropCompiledTextures);
    ContentPackageItem item;
    item.Assign(read);
    // A package without one of the assets asked for is no backup: nothing
    // is written. A read that failed has said why (its item has no KUID).
    if (!package.AddAsset(error, item)) {
      if (command.log.GetErrorCount() == errors) AddAssetError(command.log, static_cast<const char*>(error), kuid);
      return true;
    }
    encoder.Add(item.GetFiles());
  }
  if (!encoder.Finish()) {
    std::fprintf(stderr, "%s\n", "Unable to write archive file. Needs to be .cdp file extension");
    return true;
  }
  if (package.Write(error, output) && *static_cast<const char*>(error) == 0) return false;
  std::fprintf(stderr, "%s\n", static_cast<const char*>(error));
  return true;
}

bool BackupKeywords(Command& command) {
  const std::string name = command.HasParameter() ? command.parameter : "KeywordsBackup.dat";
  Vak::File::Path folder;
  Vak::File::GetCwd(folder);
  return !VADBackupKeywords(folder, name.c_str(), "txt");
}

bool ImportKeywords(Command&) {
  const Vak::File::Path root = GetDatabaseRootPath();
  return !VADImportKeywords(root, "KeywordsDump.dat", "txt");
}

bool Status(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing AssetID parameter.");
    return true;
  }
  return !CommandStatus(command.ParameterKuid(), command.log);
}

bool Validate(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing AssetID parameter.");
    return true;
  }
  return !CommandValidate(command.ParameterKuid(), command.log);
}

bool DLSParse(Command& command) {
  if (!command.HasParameter()) {
    command.Error("Missing CDP filepath.");
    return true;
  }
  return !CommandDLSParse(command.Raw(2), command.log);
}

bool DLSDeleteAll(Command& command) { return !CommandDLSDeleteAll(command.log); }

bool RepairDatabase(Command& command) { return !RunRepairDatabase(command.parameter.c_str(), command.log); }

struct Row {
  const char* word;
  Handler handler;
  // Reads the asset folders only: a batch keeps folder listings across a
  // run of such commands.
  bool readsFoldersOnly = false;
};

constexpr Row kCommands[] = {
    {"version", Version},
    {"echo", Echo},
    {"setlanguage", SetLanguage},
    {"installcdp", InstallCdp},
    {"installfrompath", InstallFromPath},
    {"importconsists", ImportConsistList},
    {"edit", Edit},
    {"printconfig", PrintConfig},
    {"compile", Compile},
    {"encrypt", Encrypt},
    {"commit", Commit},
    {"revert", Revert},
    {"delete", Delete},
    {"generatekuid", GenerateKuid},
    {"compresstexture", CompressTexture},
    {"authors", Authors},
    {"searchbycategory", SearchByCategory},
    {"createcdp", CreateCdp},
    {"backupkeywords", BackupKeywords},
    {"importkeywords", ImportKeywords},
    {"status", Status},
    {"validate", Validate, true},
    {"dlsparse", DLSParse},
    {"dlsdeleteall", DLSDeleteAll},
    {"repairdatabase", RepairDatabase},
};

} // namespace

void SetStartDirectory(const char* folder) { gStartDirectory = folder ? folder : ""; }
const char* GetStartDirectory() { return gStartDirectory.c_str(); }

bool CommandReadsFoldersOnly(const char* word) {
  const PString lowered(Lower(word).c_str());
  for (const Row& row : kCommands)
    if (lowered == PString(row.word)) return row.readsFoldersOnly;
  return false;
}

bool RunCommand(ResultsLog& log, EngineContext&, int argc, char** argv) {
  const PString word(Lower(argc > 1 ? argv[1] : "").c_str());
  Command command{log, argc, argv, argc > 2 ? Lower(argv[2]) : std::string()};
  for (const Row& row : kCommands)
    if (word == PString(row.word)) return row.handler(command);
  command.Error("Invalid argument, please check the help for the list of valid argument\n");
  return true;
}
