#include "content/ResultsLog.h"

#include <gtest/gtest.h>

#include <string>

#include "Vak/Bexlorn/FileSubst.h"
#include "tests/datamanager/DataManagerSupport.h"

namespace {

Vak::PString FakeInterfaceText(const Vak::PString& key) {
  if (std::string(key.c_str()) == "$vad_unreadable_cdp") return "Unreadable package $(FILE_PATH)";
  if (std::string(key.c_str()) == "$vad_pair") return "$(A) then $(b)";
  return key;
}

// The resolver in force for one scope.
class Resolver {
public:
  explicit Resolver(ResultsLog::TextResolver resolver) : saved_(ResultsLog::GetTextResolver()) {
    ResultsLog::SetTextResolver(resolver);
  }
  ~Resolver() { ResultsLog::SetTextResolver(saved_); }

private:
  ResultsLog::TextResolver saved_;
};

std::string OnlyLine(const ResultsLog& log) {
  std::string text;
  log.Lock();
  for (const ResultsLog::Line& line : log.GetLines()) text = static_cast<const char*>(line.text);
  log.Unlock();
  return text;
}

ACSChunkPtr Parameters(std::initializer_list<std::pair<const char*, const char*>> values) {
  ACSChunkPtr parameters;
  parameters.MakeContainer();
  for (const auto& [name, value] : values) parameters.SetChildString(name, value);
  return parameters;
}

TEST(ResultsLogText, KeyIsResolvedBeforeItsParametersAreFilled) {
  Resolver resolver(&FakeInterfaceText);
  const struct {
    const char* text;
    ACSChunkPtr parameters;
    const char* expected;
  } cases[] = {
      {"$vad_unreadable_cdp", Parameters({{"file_path", "a/b.cdp"}}), "Unreadable package a/b.cdp"},
      {"$vad_pair", Parameters({{"a", "1"}, {"B", "2"}}), "1 then 2"},
      // A key without a text stays itself.
      {"$vad_not_there", Parameters({{"x", "1"}}), "$vad_not_there"},
      // Not a key: a text holding parameters is filled as given.
      {"$(FILE_PATH) is bad", Parameters({{"file_path", "p"}}), "p is bad"},
      {"plain $vad_unreadable_cdp", Parameters({}), "plain $vad_unreadable_cdp"},
      {"$", Parameters({}), "$"},
  };
  for (const auto& c : cases) {
    ResultsLog log;
    log.AddMessage(ResultsLog::kError, nullptr, c.text, c.parameters);
    EXPECT_EQ(OnlyLine(log), c.expected) << c.text;
  }
}

TEST(ResultsLogText, WithoutResolverKeysStayAsGiven) {
  Resolver resolver(nullptr);
  ResultsLog log;
  log.AddMessage(ResultsLog::kWarning, nullptr, "$vad_unreadable_cdp", Parameters({{"file_path", "x"}}));
  EXPECT_EQ(OnlyLine(log), "$vad_unreadable_cdp");
  EXPECT_EQ(log.GetWarningCount(), 1);
}

TEST(ResultsLogText, StartupResolvesThroughTheInterfaceText) {
  platform::test::TempFolder interfaceText;
  interfaceText.WriteFile("interfacetext.txt", "$vad_unreadable_cdp \"Cannot read $(FILE_PATH)\"\r\n");
  ASSERT_TRUE(Vak::File::Subst(Vak::PString("data"), (interfaceText.Path().string() + "/").c_str(), false));
  Resolver restore(ResultsLog::GetTextResolver());
  {
    datamanager::test::DataFolder folder;
    folder.WriteData("x.txt", "");
    datamanager::test::StartedDataManager manager(folder);
    ResultsLog log;
    log.AddMessage(ResultsLog::kError, nullptr, "$vad_unreadable_cdp", Parameters({{"FILE_PATH", "pkg.cdp"}}));
    EXPECT_EQ(OnlyLine(log), "Cannot read pkg.cdp");
  }
  Vak::FileSubstList::Get().Remove(Vak::PString("data"), false);
}

} // namespace
