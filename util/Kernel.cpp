#include "util/Kernel.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/Rand.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "Vak/plugins/PluginSystem.h"
#include "Vak/plugins/UId.h"
#include "assetdb/KuidBaseFile.h"
#include "assetdb/VADDataFolders.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADDatabaseFile.h"
#include "assets3d/AlphaBlendCacheUnsorted.h"
#include "assets3d/TextureConversion.h"
#include "assets3d/VelmarAlphaBlendCache.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "content/AppGlobals.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "datamanager/Validate.h"
#include "net/NetworkService.h"
#include "engine/dorvix/RenderKernel.h"
#include "util/CommandDispatcher.h"
#include "util/EngineContext.h"
#include "util/VelmarMeshSource.h"

namespace {

// Filled at start-up; nothing reads it.
Vak::PluginType* gBitmapPluginType = nullptr;

// The data manager's two alpha-blend caches: the sorted one, then the
// unsorted one.
Vak::RenderingCache* MakeAlphaBlendCache(int index) {
  if (index == 0) return new Vak::VelmarAlphaBlendCache;
  return new Vak::AlphaBlendCacheUnsorted;
}

bool IsNoRender(const char* argument) {
  if (!argument) return false;
  constexpr char kWord[] = "norender";
  std::size_t i = 0;
  for (; argument[i] && i < sizeof kWord - 1; ++i)
    if (Vak::CodePage::AsciiLower(argument[i]) != kWord[i]) return false;
  return i == sizeof kWord - 1 && argument[i] == 0;
}

} // namespace

const char* KernelOptionLine(int argc, char** argv) {
  for (int i = 0; i < argc; ++i)
    if (IsNoRender(argv[i])) return "-NullRender -LogFile=/dev/null";
  return "-render=OpenGL -hidewindow -LogFile=/dev/null";
}

int InitKernel(EngineContext& context, const char* programPath, int argc, char** argv) {
  RUZLib::ErrorHandler::Create();
  Vak::File::Path programFolder(programPath);
  programFolder.Normalize();
  programFolder.DelName(false);

  Vak::File::Path start;
  Vak::File::GetCwd(start);
  SetStartDirectory(start);
  Vak::File::ChDir(programFolder);

  Vak::File::Path dataFolder(programFolder);
  dataFolder.Add("RUZData\\");
  dataFolder.ReplaceForwardSlashes();
  if (!RUZLib::DataManager::Startup(dataFolder)) {
    std::fprintf(stderr, "- RUZLib initialisation failed.\n");
    return 255;
  }

  context.os = new Vak::OS("Velmar Util", KernelOptionLine(argc, argv), nullptr, nullptr);
  context.resources = new Vak::ResourceSystem;
  context.render = new Vak::RenderKernel(nullptr, 8.0f);
  if (!Vak::OS::Init()) {
    std::fprintf(stderr, "- Vak OS initialisation failed.\n");
    return 255;
  }
  Vak::Options* options = context.os->GetOptions();
  options->Init("VelmarUtil", "");
  // The option line is the program's own; it outranks the option files.
  options->ProcessRaw(context.os->GetOptionLine());
  Vak::Log::Init(options);
  context.resources->Init(options);
  Vak::Kernel::GlobalRand().Randomise();

  if (!context.render->Init(context.os, 0)) {
    std::fprintf(stderr, "- Unable to initialize render system\n\n");
    return 255;
  }
  RUZLib::DataManager* data = RUZLib::DataManager::Instance();
  data->SetupScene(context.render, static_cast<Vak::View*>(context.view));
  RUZLib::DataManager::SetAlphaBlendCacheFactory(&MakeAlphaBlendCache);
  data->RegisterVelmarBumpVertexType();

  // What the asset database calls above itself: the installation's folder
  // archives ("data" among them) and the download station's state.
  static VelmarResourceDatabaseServices* const resourceDatabases = new VelmarResourceDatabaseServices;
  (void)resourceDatabases;
  InstallNetworkService();
  static VelmarTextureService textures;
  VADSetTextureService(&textures);
  // The asset database validates configs through the data manager.
  static RUZLib::DataManagerValidation validation;
  GetVADServices().validation = &validation;
  // Validation and the legacy upgrade read meshes through the resource types.
  static VelmarMeshSource meshes;
  RUZLib::DataManager::SetMeshSource(&meshes);

  Vak::File::Path root(programFolder);
  root.DelSlash();
  root.DelName(false);
  VADPrepareDataFolders(root);
  VADStartBlock block;
  VADStartParams(block);
  std::snprintf(block.root, sizeof block.root, "%s", static_cast<const char*>(root));
  if (!VADInit(block)) {
    const Vak::File::Path newer = VADNewerIndexFile();
    if (newer.Length() > 0) {
      std::fprintf(stderr,
                   "- \"%s\" is asset index version %u; this program reads up to version %u. "
                   "Nothing was changed.\n",
                   static_cast<const char*>(newer), DatabaseFileVersion(newer), vad_file::kVersion);
      return 255;
    }
  }
  KuidBaseFile::Init(root);
  SetMainThread();

  Vak::PluginSystem::FindPlugin(Vak::UId("4C414E80-BBDA-11d4-9AD7-0001025364B8"), Vak::PString("bmp"),
                                gBitmapPluginType);
  return 0;
}

bool ShutdownKernel(EngineContext& context) {
  // The process ends next (EndProcess): freeing a large index costs more
  // than the rest of a small command.
  const bool indexWritten = VADShutdown(VADShutdownMode::kProcessEnds);
  if (RUZLib::DataManager* data = RUZLib::DataManager::TryInstance()) data->ReleaseDummyMaterials();
  RUZLib::DataManager::Shutdown();
  VADUnmountDataFolders();
  delete context.render;
  context.render = nullptr;
  delete context.resources;
  context.resources = nullptr;
  delete context.os;
  context.os = nullptr;
  // Last: everything above may still report to it.
  RUZLib::ErrorHandler::Destroy();
  return indexWritten;
}
