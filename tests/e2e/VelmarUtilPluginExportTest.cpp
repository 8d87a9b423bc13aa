// VelmarUtil is a plug-in module: its entry is exported by name.
#include "tests/e2e/E2ESupport.h"

namespace {

TEST(VelmarUtilPluginExport, ExportsVakGetPlugins) {
  platform::test::TempFolder scratch;
  const e2e::Result result = e2e::RunProgram(
      {"/usr/bin/nm", "-D", "--defined-only", std::string(E2E_BUILD_DIR) + "/util/VelmarUtil"}, scratch.Path().string());
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.out.find(" T VakGetPlugins\n"), std::string::npos) << result.out.substr(0, 2000);
}

} // namespace
