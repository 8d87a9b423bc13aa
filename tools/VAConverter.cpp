// VAConverter: makes a patch set from two engine archives (patchdiff) or
// applies one to an archive (patchapply).
#include <cstdio>

#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "tools/PatchConverter.h"

int main(int argc, char** argv) {
  Vak::OS::Init();
  Vak::OS* os = new Vak::OS("", "-render=OpenGL -hidewindow", nullptr, nullptr);
  // Lives until the process ends.
  Vak::ResourceSystem* resources = new Vak::ResourceSystem;
  resources->Init(os->GetOptions());
  // The archive cache opens the input archive through these.
  static VelmarResourceDatabaseServices* const databases = new VelmarResourceDatabaseServices;
  (void)databases;

  PatchConverter* converter = nullptr;
  if (argc >= 3) {
    const Vak::PString word(argv[1]);
    if (word.Compare("patchdiff") == 0 || word.Compare("patchapply") == 0) converter = new PatchConverter;
  }
  if (!converter) {
    std::printf("usage: VAConverter patchdiff|patchapply <archive>.va <archive>.va [output path]\n");
    std::fflush(stdout);
    delete os;
    Vak::OS::Shutdown();
    return 1;
  }
  int code = 1;
  if (converter->ParseArguments(argc, argv)) {
    code = converter->Run();
  } else {
    converter->PrintMoreUsage();
  }
  delete converter;
  delete os;
  Vak::OS::Shutdown();
  return code;
}
