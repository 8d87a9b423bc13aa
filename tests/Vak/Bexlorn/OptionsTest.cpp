#include "Vak/Bexlorn/Options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/File.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::Options;
using platform::test::TempFolder;

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Entries(const Options& options) {
  Pairs out;
  for (const Options::Entry* e = options.First(); e; e = e->next) out.emplace_back(e->key, e->value);
  return out;
}

TEST(OptionsTest, SyntaxTable) {
  struct Case {
    const char* text;
    Pairs expected;  // in insertion order
  };
  const std::vector<Case> cases = {
      {"-NoLog -LogFile=my.txt +Log=Net:Diag +Log=Res:Prog",
       {{"nolog", ""}, {"logfile", "my.txt"}, {"log", "Net:Diag,Res:Prog"}}},
      {"-Path='C:\\Program Files\\x' -Quiet", {{"path", "C:\\Program Files\\x"}, {"quiet", ""}}},
      {"/Render=OpenGL /HideWindow +Plain", {{"render", "OpenGL"}, {"hidewindow", ""}, {"plain", ""}}},
      {"Key=value Bare -b", {{"key", "value Bare"}, {"b", ""}}},
      // A key ended by '-' or '+' takes that character; the next item may follow at once.
      {"-Flag- /Other+ -Joined-Next=1", {{"flag", "-"}, {"other", "+"}, {"joined", "-"}, {"next", "1"}}},
      // Unquoted values keep spaces up to a word that starts with a prefix.
      {"-Title=My Tool  Name  -x", {{"title", "My Tool  Name"}, {"x", ""}}},
      {"-a=x-y+z -b=c/d", {{"a", "x-y+z"}, {"b", "c/d"}}},
      {"-Key=   spaced   ", {{"key", "spaced"}}},
      {"-Neg=-5", {{"neg", "-5"}}},
      {"-Empty= ", {{"empty", ""}}},
      // Quotes of either kind end a quoted value; an unclosed one runs to the end.
      {"-a=\"double quoted\" -b='mixed\" -c='open end", {{"a", "double quoted"}, {"b", "mixed"}, {"c", "open end"}}},
      {"-a='' -b=\"\"", {{"a", ""}, {"b", ""}}},
      // Line ends and tabs separate items, as in an option file.
      {"-A=1\r\n-B=two words\n\t-C", {{"a", "1"}, {"b", "two words"}, {"c", ""}}},
      // One entry per key, whatever the case; plain items replace.
      {"-LOGFILE=a -logfile=b -LogFile", {{"logfile", ""}}},
      {"+List=a -List=b", {{"list", "b"}}},
      {"+List +List=a +LIST=b", {{"list", "a,b"}}},
      // Windows-1252 letters fold too.
      {"-\xC9T\xC9=1 -\xE9t\xE9=2", {{"\xE9t\xE9", "2"}}},
      // A lone prefix or '=' names nothing.
      {"- / + =x", {}},
      {"", {}},
      {"   \r\n ", {}},
  };
  for (const Case& c : cases) {
    Options options;
    options.ProcessRaw(c.text);
    EXPECT_EQ(Entries(options), c.expected) << c.text;
    EXPECT_EQ(options.Count(), c.expected.size()) << c.text;
  }
  Options options;
  options.ProcessRaw(nullptr);
  EXPECT_EQ(options.Count(), 0u);
}

TEST(OptionsTest, ManyKeysAndAppendsKeepOrderAndLastValues) {
  // Thousands of keys in a scrambled order, each set again later under
  // another case, and one list that grows by appends, is reset half-way
  // and grows on in a second text.
  constexpr int kKeys = 3000;
  constexpr int kItems = 2000;
  std::string text;
  Pairs expected;
  for (int i = 0; i < kKeys; ++i) {
    const int k = i * 7919 % kKeys;
    text += "-Key" + std::to_string(k) + "=first ";
    expected.emplace_back("key" + std::to_string(k), "");
    if (i == kKeys / 2) {
      text += "+List=early ";
      expected.emplace_back("list", "");
    }
  }
  std::string list;
  for (int i = 0; i < kItems; ++i) {
    if (i == kItems / 2) {
      text += "-LIST=reset\r\n";
      list = "reset";
    }
    text += "+List=" + std::to_string(i) + "\r\n";
    if (i >= kItems / 2) list += "," + std::to_string(i);
  }
  for (int k = 0; k < kKeys; ++k) text += "/KEY" + std::to_string(k) + "=v" + std::to_string(k) + " ";
  Options options;
  options.ProcessRaw(text.c_str());
  options.ProcessRaw("+list=more");
  list += ",more";
  for (auto& [key, value] : expected) value = key == "list" ? list : "v" + key.substr(3);
  EXPECT_EQ(Entries(options), expected);
  EXPECT_EQ(options.Count(), static_cast<unsigned>(kKeys + 1));
  // A cursor set before a later text does not survive it.
  options.SetSeparators("list", ",");
  Vak::String item;
  ASSERT_TRUE(options.GetNext("List", item));
  EXPECT_STREQ(item, "reset");
  options.ProcessRaw("+List=last");
  EXPECT_FALSE(options.GetNext("list", item));
  options.SetSeparators("list", ",");
  std::vector<std::string> items;
  while (options.GetNext("list", item)) items.emplace_back(item);
  ASSERT_EQ(items.size(), static_cast<std::size_t>(kItems / 2 + 3));
  EXPECT_EQ(items[1], std::to_string(kItems / 2));
  EXPECT_EQ(items.back(), "last");
}

TEST(OptionsTest, FindIgnoresCase) {
  Options options;
  options.ProcessRaw("-LogFile=x");
  ASSERT_NE(options.Find("LOGFILE"), nullptr);
  EXPECT_EQ(options.Find("logfile"), options.Find("LogFile"));
  EXPECT_EQ(options.Find("logfil"), nullptr);
  EXPECT_EQ(options.Find(nullptr), nullptr);
  EXPECT_STREQ(options.GetString("LOGFILE"), "x");
  EXPECT_EQ(options.GetString("other"), nullptr);
}

TEST(OptionsTest, BooleanReading) {
  struct Case {
    const char* value;  // null: the option is absent
    bool defaultValue;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"", false, true},      {"", true, false},        // a bare switch flips
      {"off", true, false},   {"OFF", true, false},     {"false", true, false}, {"False", false, false},
      {"-", true, false},     {"-anything", true, false},
      {"on", false, true},    {"On", false, true},      {"true", false, true},  {"TRUE", true, true},
      {"+", false, true},     {"+x", false, true},
      {"maybe", false, true}, {"maybe", true, false},   {"offline", false, true},
      {nullptr, false, false}, {nullptr, true, true},
  };
  for (const Case& c : cases) {
    Options options;
    if (c.value) options.ProcessRaw(("-Key='" + std::string(c.value) + "'").c_str());
    bool value = c.defaultValue;
    EXPECT_EQ(options.Get("key", value), c.value != nullptr) << (c.value ? c.value : "absent");
    EXPECT_EQ(value, c.expected) << (c.value ? c.value : "absent") << " default " << c.defaultValue;
    EXPECT_EQ(options.GetBool("KEY", c.defaultValue), c.expected);
  }
}

TEST(OptionsTest, OneArgumentGetDefaultsToFalse) {
  Options options;
  options.ProcessRaw("-Bare -Off=off -On=on");
  EXPECT_TRUE(options.Get("bare"));
  EXPECT_FALSE(options.Get("off"));
  EXPECT_TRUE(options.Get("on"));
  EXPECT_FALSE(options.Get("absent"));
}

TEST(OptionsTest, StringAndNumberReading) {
  Options options;
  options.ProcessRaw("-Name=abc -N=42 -Empty -Word=abc -Huge=99999999999 -Lead=' 17x'");
  Vak::String s("default");
  EXPECT_FALSE(options.Get("absent", s));
  EXPECT_STREQ(s, "default");
  EXPECT_TRUE(options.Get("NAME", s));
  EXPECT_STREQ(s, "abc");

  struct Case {
    const char* key;
    bool present;
    unsigned expected;
  };
  const std::vector<Case> cases = {
      {"n", true, 42},      {"empty", true, 0},          {"word", true, 0},
      {"huge", true, UINT_MAX}, {"lead", true, 17},      {"absent", false, 7},
  };
  for (const Case& c : cases) {
    unsigned value = 12345;
    EXPECT_EQ(options.Get(c.key, value, 7), c.present) << c.key;
    EXPECT_EQ(value, c.expected) << c.key;
  }
}

TEST(OptionsTest, GetNextWalksAList) {
  Options options;
  options.ProcessRaw("-Log='Net:Diag, Res:Prog ,,Fs  ' -Sizes=1;2 ; 30");
  Vak::String item;
  EXPECT_FALSE(options.GetNext("log", item)) << "no cursor before SetSeparators";
  EXPECT_FALSE(options.GetNext("absent", item));
  options.SetSeparators("absent", ",");  // nothing to do

  options.SetSeparators("LOG", ",");
  std::vector<std::string> items;
  while (options.GetNext("log", item)) items.emplace_back(item);
  EXPECT_EQ(items, (std::vector<std::string>{"Net:Diag", "Res:Prog", "Fs"}));
  EXPECT_FALSE(options.GetNext("log", item)) << "stays at the end";

  options.SetSeparators("log", ",");  // starts over
  ASSERT_TRUE(options.GetNext("log", item));
  EXPECT_STREQ(item, "Net:Diag");

  options.SetSeparators("sizes", ";");
  std::vector<unsigned> numbers;
  unsigned n = 0;
  while (options.GetNext("sizes", n)) numbers.push_back(n);
  EXPECT_EQ(numbers, (std::vector<unsigned>{1, 2, 30}));
}

TEST(OptionsTest, GetNextStopsAtAnEmptyItemAndAfterTheValueChanges) {
  Options options;
  options.ProcessRaw("-A=,x -B=x,y");
  Vak::String item;
  options.SetSeparators("a", ",");
  EXPECT_FALSE(options.GetNext("a", item));

  options.SetSeparators("b", ",");
  ASSERT_TRUE(options.GetNext("b", item));
  // The cursor pointed into the old text: it must not be followed.
  options.ProcessRaw("+B=z");
  EXPECT_FALSE(options.GetNext("b", item));
  options.SetSeparators("b", ",");
  std::vector<std::string> items;
  while (options.GetNext("b", item)) items.emplace_back(item);
  EXPECT_EQ(items, (std::vector<std::string>{"x", "y", "z"}));
}

TEST(OptionsTest, ProgramBase) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"/opt/bin/tool_7s.exe", "tool"}, {"C:\\x\\Tool_7S.EXE", "Tool"}, {"tool", "tool"},
      {"/a.b/prog", "prog"},            {"/x/_7s", ""},                 {"", ""},
      {"/x/a_7s_7s.exe", "a_7s"},
  };
  for (const auto& [path, base] : cases) EXPECT_STREQ(Options::ProgramBase(path), base) << path;
}

// Sets an environment variable for one scope and puts back what was there.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

private:
  std::string name_;
  std::optional<std::string> old_;
};

// Runs with a working folder of its own and puts the old one back.
class OptionsFilesTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Vak::File::GetCwd(saved_)); }
  void TearDown() override { EXPECT_TRUE(Vak::File::ChDir(saved_)); }
  void Enter(const std::string& folder) { ASSERT_TRUE(Vak::File::ChDir(folder.c_str())); }

  TempFolder temp_;
  Vak::File::Path saved_;
  ScopedEnv options_{"Options", nullptr};
};

TEST_F(OptionsFilesTest, PrecedenceOfEnvironmentFilesAndOptionText) {
  temp_.WriteFile("bin/AppOptions.txt", "-a=binapp -b=binapp -c=binapp -d=binapp -e=binapp");
  temp_.WriteFile("bin/toolOptions.txt", "-b=binprog -c=binprog\r\n-d=binprog -e=binprog");
  temp_.WriteFile("work/APPOPTIONS.TXT", "-c=workapp -d=workapp -e=workapp");  // any case finds it
  temp_.WriteFile("work/toolOptions.txt", "-d=workprog -e=workprog");
  ScopedEnv env("Options", "-z=env -a=env -w=env");
  ScopedEnv app("AppOptions", "-y=app -z=app");
  ScopedEnv prog("toolOptions", "-x=prog -y=prog");
  Enter(temp_ / "work");

  Options options;
  options.Init("App", (temp_ / "bin/tool_7s.exe").c_str());
  options.ProcessRaw("-e=line");
  const Pairs expected = {{"w", "env"},       {"x", "prog"},      {"y", "prog"},      {"z", "app"},
                          {"a", "binapp"},    {"b", "binprog"},   {"c", "workapp"},   {"d", "workprog"},
                          {"e", "line"}};
  Pairs got = Entries(options);
  std::sort(got.begin(), got.end());
  Pairs want = expected;
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
}

TEST_F(OptionsFilesTest, EachSourceIsReadOnce) {
  // Same keys (the program base matches the application name without regard
  // to case) and the working folder is the program folder: one file, read once.
  temp_.WriteFile("bin/ToolOptions.txt", "+List=file");
  ScopedEnv env("Options", "+Env=options");
  ScopedEnv app("ToolOptions", "+List=env");
  Enter(temp_ / "bin");

  Options options;
  options.Init("Tool", (temp_ / "bin/tool_7s.exe").c_str());
  EXPECT_STREQ(options.GetString("list"), "env,file");
  EXPECT_STREQ(options.GetString("env"), "options");

  // An empty application name makes the application key "Options" itself.
  Options unnamed;
  unnamed.Init("", (temp_ / "bin/tool_7s.exe").c_str());
  EXPECT_STREQ(unnamed.GetString("env"), "options");
}

TEST_F(OptionsFilesTest, MissingFilesAndFolderlessProgramPath) {
  temp_.WriteFile("work/AppOptions.txt", "-Here");
  Enter(temp_ / "work");
  Options options;
  options.Init("App", "prog.exe");  // no folder: the working folder
  EXPECT_TRUE(options.Get("here"));
  EXPECT_EQ(options.Count(), 1u);

  Options none;
  none.Init("Nothing", (temp_ / "nowhere/prog").c_str());
  EXPECT_EQ(none.Count(), 0u);
}

TEST_F(OptionsFilesTest, Utf16OptionFile) {
  // "-Name='Caf\u00E9 \u0416' -Quiet", UTF-16LE with a byte-order mark.
  // Long enough to need several reads.
  std::u16string text;
  for (int i = 0; i < 3000; ++i) text += u"+Pad=x ";
  text += u"-Name='Caf\u00E9 \u0416'\r\n-Quiet";
  std::string bytes = "\xFF\xFE";
  for (char16_t u : text) Vak::AppendLE16(bytes, u);
  temp_.WriteFile("AppOptions.txt", bytes);
  Enter(temp_.Path().string());
  Options options;
  options.Init("App", (temp_ / "prog").c_str());
  EXPECT_STREQ(options.GetString("name"), "Caf\xE9 ?");
  EXPECT_TRUE(options.Get("quiet"));
  EXPECT_EQ(options.Count(), 3u);
  EXPECT_EQ(std::string(options.GetString("pad")).size(), 3000u * 2 - 1);
}

TEST_F(OptionsFilesTest, InitFromModuleParsesTheTextLast) {
  temp_.WriteFile("OptsModuleTestOptions.txt", "-k=file -f=file");
  Enter(temp_.Path().string());
  Options options;
  options.InitFromModule("OptsModuleTest", "-k=text");
  EXPECT_STREQ(options.GetString("k"), "text");
  EXPECT_STREQ(options.GetString("f"), "file");

  Options nullText;
  nullText.InitFromModule("OptsModuleTest", nullptr);
  EXPECT_STREQ(nullText.GetString("k"), "file");
}

} // namespace
