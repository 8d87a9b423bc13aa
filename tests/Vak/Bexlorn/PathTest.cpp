#include "Vak/Bexlorn/File.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Path = Vak::File::Path;

std::string Str(const Path& p) { return static_cast<const char*>(p); }

struct EditCase {
  const char* input;
  const char* expected;
};

template <class Edit>
void CheckEdits(const std::vector<EditCase>& cases, Edit edit) {
  for (const auto& c : cases) {
    Path p(c.input);
    edit(p);
    EXPECT_EQ(Str(p), c.expected) << "input '" << c.input << "'";
  }
}

TEST(Path, ConstructionAndLength) {
  EXPECT_EQ(Str(Path()), "");
  EXPECT_EQ(Str(Path(nullptr)), "");
  Path p("a\\b.txt");
  EXPECT_EQ(p.Length(), 7u);
  EXPECT_EQ(p.LastChar(), 't');
  EXPECT_EQ(Path().LastChar(), 0);
  p = nullptr;
  EXPECT_EQ(Str(p), "");
  p = "x";
  EXPECT_EQ(Str(p), "x");
  p = static_cast<const char*>(p);  // own text
  EXPECT_EQ(Str(p), "x");
}

TEST(Path, OverLongTextLeavesPathEmpty) {
  const std::string fits(Path::kMaxLength, 'a');
  const std::string tooLong(Path::kSize, 'a');

  Path p;
  EXPECT_TRUE(p.Set(fits.c_str()));
  EXPECT_EQ(p.Length(), Path::kMaxLength);

  EXPECT_FALSE(p.Set(tooLong.c_str()));
  EXPECT_EQ(Str(p), "");

  EXPECT_EQ(Str(Path(tooLong.c_str())), "");
  Path q("keep");
  q = tooLong.c_str();
  EXPECT_EQ(Str(q), "");

  // An unterminated field of exactly 260 characters is measured without
  // reading beyond it.
  char raw[Path::kSize];
  std::memset(raw, 'b', sizeof raw);
  EXPECT_FALSE(p.Set(raw));
  EXPECT_EQ(Str(p), "");
}

TEST(Path, AddAppendsAsIs) {
  Path p("a");
  EXPECT_TRUE(p.Add("\\b"));
  EXPECT_TRUE(p.Add(nullptr));
  EXPECT_TRUE(p.Add("c"));
  EXPECT_EQ(Str(p), "a\\bc");
  EXPECT_TRUE(p.Add(p));  // own text
  EXPECT_EQ(Str(p), "a\\bca\\bc");
}

TEST(Path, AddPath) {
  struct Case {
    const char* path;
    const char* text;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"", "\\x", "\\x"},  // an empty path takes the text as it is
      {"", "x", "x"},
      {"a", "x", "a/x"},
      {"a/", "x", "a/x"},
      {"a\\", "\\\\x", "a\\x"},
      {"a", "/x", "a/x"},
      {"a", "", "a/"},
      {"data:", "x", "data:/x"},
      {"a", nullptr, "a/"},
  };
  for (const auto& c : cases) {
    Path p(c.path);
    EXPECT_TRUE(p.AddPath(c.text));
    EXPECT_EQ(Str(p), c.expected) << c.path << " + " << (c.text ? c.text : "(null)");
  }

  Path p("a");
  EXPECT_TRUE(p.AddPath("xyz", 2));
  EXPECT_EQ(Str(p), "a/xy");
  p = "a";
  EXPECT_TRUE(p.AddPath("\\xyz", 2));  // the skipped separator counts
  EXPECT_EQ(Str(p), "a/x");

  p = "a/b";
  EXPECT_TRUE(p.AddPath(p.GetFileName()));  // own text, separator written first
  EXPECT_EQ(Str(p), "a/b/b");
}

TEST(Path, SlashEdits) {
  CheckEdits({{"a", "a/"}, {"a\\", "a\\"}, {"a/", "a/"}, {"", ""}},
             [](Path& p) { EXPECT_TRUE(p.AddSlash()); });
  CheckEdits({{"a/", "a"}, {"a\\", "a"}, {"a//", "a/"}, {"a", "a"}, {"", ""}},
             [](Path& p) { p.DelSlash(); });
  CheckEdits({{"a/b\\c", "a\\b\\c"}}, [](Path& p) { p.ReplaceForwardSlashes(); });
  CheckEdits({{"a/b\\c", "a/b/c"}}, [](Path& p) { p.ReplaceBackSlashes(); });
}

TEST(Path, DelName) {
  struct Case {
    const char* path;
    const char* keepSeparator;
    const char* dropSeparator;
  };
  const std::vector<Case> cases = {
      {"C:\\x\\y.txt", "C:\\x\\", "C:\\x"},
      {"C:y.txt", "C:", "C:"},  // a colon always stays
      {"data:a/b", "data:a/", "data:a"},
      {"y.txt", "", ""},
      {"a/", "a/", "a"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    Path p(c.path);
    p.DelName(false);
    EXPECT_EQ(Str(p), c.keepSeparator) << c.path;
    p = c.path;
    p.DelName(true);
    EXPECT_EQ(Str(p), c.dropSeparator) << c.path;
  }
}

TEST(Path, DelPathKeepsName) {
  CheckEdits({{"C:\\x\\y.txt", "y.txt"}, {"data:y", "y"}, {"y", "y"}, {"a/b/", ""}, {"", ""}},
             [](Path& p) { p.DelPath(); });
}

TEST(Path, DelBaseName) {
  CheckEdits({{"dir/name.txt", "dir/.txt"},
              {"dir/name", "dir/"},
              {"a.b/c", "a.b/"},
              {"name.tar.gz", ".gz"},
              {"C:x.y", "C:.y"},
              {"", ""}},
             [](Path& p) { p.DelBaseName(); });
}

TEST(Path, DelDirs) {
  CheckEdits({{"C:\\a\\b\\c.txt", "C:c.txt"},
              {"C:\\c.txt", "C:c.txt"},  // the separator after the colon goes too
              {"\\a\\b\\c", "\\c"},
              {"/a/b\\c", "/c"},
              {"a\\b\\c", "c"},
              {"abc", "abc"},
              {"\\abc", "\\abc"},
              {"data:a\\b\\c", "data:a\\c"},  // root up to the first separator
              {"data:a\\b", "data:a\\b"},
              {"data:x", "data:x"},
              {"", ""}},
             [](Path& p) { p.DelDirs(); });
}

TEST(Path, PrevDir) {
  CheckEdits({{"a/b/c", "a/c"},
              {"b/c", "c"},
              {"c", "c"},
              {"a/b/", "a/"},
              {"data:b/c", "data:c"},
              {"C:\\a\\b\\c.txt", "C:\\a\\c.txt"},
              {"", ""}},
             [](Path& p) { p.PrevDir(); });
}

TEST(Path, Del) {
  struct Case {
    const char* path;
    unsigned position;
    unsigned count;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"abcdef", 1, 2, "adef"},     {"abc", 0, 0, "abc"},  {"abc", 3, 1, "abc"},
      {"abc", 5, 1, "abc"},         {"abcdef", 4, 10, "abcd"},
      {"abc", 1, UINT_MAX, "a"},  // position + count wraps
      {"abc", 0, 3, ""},
  };
  for (const auto& c : cases) {
    Path p(c.path);
    p.Del(c.position, c.count);
    EXPECT_EQ(Str(p), c.expected) << c.path << " " << c.position << "," << c.count;
  }
}

TEST(Path, SetExt) {
  struct Case {
    const char* path;
    const char* ext;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"a.b\\c", ".dds", "a.b\\c.dds"},
      {"c.tga", ".dds", "c.dds"},
      {"c.tga", "dds", "c.dds"},
      {"c.tga", nullptr, "c"},
      {"c", nullptr, "c"},
      {"dir.d/x.y.z", "w", "dir.d/x.y.w"},
      {"data:x", "txt", "data:x.txt"},
      {"", "txt", ".txt"},
  };
  for (const auto& c : cases) {
    Path p(c.path);
    EXPECT_TRUE(p.SetExt(c.ext));
    EXPECT_EQ(Str(p), c.expected) << c.path << " " << (c.ext ? c.ext : "(null)");
  }

  Path p("a.b");
  EXPECT_TRUE(p.SetExt(p.GetExt()));  // own text
  EXPECT_EQ(Str(p), "a.b");
}

TEST(Path, IsExtIgnoresCase) {
  struct Case {
    const char* path;
    const char* ext;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"a.TGA", "tga", true},   {"a.tga", ".TGA", true},     {"a.b\\c", "b", false},
      {"a", "", false},         {"a.", "", true},            {"a.tgax", "tga", false},
      {"a.tga", "tgax", false}, {"a.\xC9", "\xE9", true},  // Windows-1252 letters
      {"a.tga", nullptr, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Path(c.path).IsExt(c.ext), c.expected) << c.path << " " << (c.ext ? c.ext : "(null)");
  }
}

TEST(Path, NameAndExtension) {
  struct Case {
    const char* path;
    const char* name;
    const char* ext;  // null: none
  };
  const std::vector<Case> cases = {
      {"C:\\x\\y.txt", "y.txt", "txt"}, {"data:y", "y", nullptr},    {"y", "y", nullptr},
      {"a/", "", nullptr},             {"a.b\\c", "c", nullptr},    {"c.", "c.", ""},
      {"a.b/c.d.e", "c.d.e", "e"},     {"", "", nullptr},
  };
  for (const auto& c : cases) {
    const Path p(c.path);
    EXPECT_STREQ(p.GetFileName(), c.name) << c.path;
    if (c.ext) {
      EXPECT_STREQ(p.GetExt(), c.ext) << c.path;
    } else {
      EXPECT_EQ(p.GetExt(), nullptr) << c.path;
    }
  }
}

TEST(Path, ExtractFirstPath) {
  struct Case {
    const char* path;
    const char* component;
    const char* rest;
  };
  const std::vector<Case> cases = {
      {"C:\\a\\b", "a", "b"},
      {"/x/y/z", "x", "y/z"},
      {"data:meshes/a.im", "meshes", "a.im"},
      {"abc", "abc", ""},
      {"data:\\\\x", "x", ""},
      {"a//b", "a", "/b"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    Path p(c.path);
    const Path component = p.ExtractFirstPath();
    EXPECT_EQ(Str(component), c.component) << c.path;
    EXPECT_EQ(Str(p), c.rest) << c.path;
  }
}

TEST(Path, Normalize) {
  CheckEdits({{"..\\..\\x", "x"},  // the second ".." removes the first
              {"..\\x", "../x"},
              {"a\\b\\..\\c", "a/c"},
              {"\\a\\.\\b", "/a/b"},
              {"a/b/../..", ""},
              {"a//b/./", "a/b"},
              {"./a", "a"},
              {"C:\\x\\..\\y", "C:/y"},
              {"data:a\\..\\b", "data:/b"},
              {"/", "/"},
              {"", ""}},
             [](Path& p) { EXPECT_TRUE(p.Normalize()); });
}

TEST(Path, Join) {
  struct Case {
    const char* path;
    const char* name;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"data", "x.txt", "data:/x.txt"},  // a bare word names a substitute
      {"data:", "x", "data:/x"},
      {"C:\\dir\\", "a.txt", "C:\\dir\\a.txt"},
      {"C:\\dir\\file.txt", "x", "C:\\dir\\x"},
      {".", "x", "./x"},
      {"", "\\x", "x"},
      {nullptr, "x", "x"},
      {"dir/", "//x", "dir//x"},  // one separator is skipped
      {"dir/", nullptr, "dir/"},
  };
  for (const auto& c : cases) {
    Path out("old");
    EXPECT_TRUE(Path::Join(out, c.path, c.name));
    EXPECT_EQ(Str(out), c.expected) << (c.path ? c.path : "(null)") << " + " << (c.name ? c.name : "(null)");
  }

  Path out("C:\\dir\\file");
  EXPECT_TRUE(Path::Join(out, out, out.GetFileName()));  // out is both inputs
  EXPECT_EQ(Str(out), "C:\\dir\\file");
}

TEST(Path, JoinPathForUnboundedText) {
  struct Case {
    const char* folder;
    const char* name;
    const char* expected;
    char separator = '/';
  };
  const std::vector<Case> cases = {
      {"a", "b", "a/b"},
      {"local", "hash-0A", "local\\hash-0A", '\\'},  // stored texts
      {"a/", "b", "a/b", '\\'},
      {"a\\", "b", "a\\b"},
      {"", "b", "b"},
      {nullptr, "b", "b"},
      {"a", "", "a"},
      {"a", nullptr, "a"},
      {"a", "/b", "a//b"},  // the name is taken as it is
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Vak::JoinPath(c.folder, c.name, c.separator), c.expected)
        << (c.folder ? c.folder : "(null)") << " + " << (c.name ? c.name : "(null)");
  }
  const std::string deep(300, 'd');
  EXPECT_EQ(Vak::JoinPath(deep.c_str(), "x"), deep + "/x") << "no path-length bound";
}

TEST(Path, MakeRelativeTo) {
  struct Case {
    const char* path;
    const char* base;
    bool ok;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"C:\\Data\\local\\a\\b", "c:/data/", true, "local\\a\\b"},
      {"C:\\data\\local", "C:\\data", true, "local"},
      {"C:\\data\\\\local", "C:\\data", true, "local"},
      {"C:\\data", "C:\\data\\", true, ""},
      {"C:\\data", "C:\\data", true, ""},
      {"C:\\database\\x", "C:\\data", false, "C:\\database\\x"},
      {"C:\\dat", "C:\\data", false, "C:\\dat"},
      {"D:\\x", "C:\\", false, "D:\\x"},
      {"x", "", false, "x"},
      {"x", nullptr, false, "x"},
  };
  for (const auto& c : cases) {
    Path p(c.path);
    EXPECT_EQ(p.MakeRelativeTo(c.base), c.ok) << c.path << " to " << (c.base ? c.base : "(null)");
    EXPECT_EQ(Str(p), c.expected) << c.path << " to " << (c.base ? c.base : "(null)");
  }
}

TEST(Path, SubstNameLength) {
  struct Case {
    const char* path;
    int expected;
  };
  const std::vector<Case> cases = {
      {"C:\\x", -1}, {"C:/x", -1},   {"data:x", 4}, {"data:/x", 4}, {"data:", 4},
      {"C:x", 1},  // no separator after the colon: a substitute named C
      {"ab:\\x", 2}, {"x", -1},      {":x", -1},    {"", -1},       {nullptr, -1},
      {"/tmp/a:b", -1}, {"\\a:b", -1},  // absolute paths name no substitute
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Path::SubstNameLength(c.path), c.expected) << (c.path ? c.path : "(null)");
  }
}

// Edits at the edge of the field: one that fits reaches 259 characters, one
// that does not leaves the path as it was.
TEST(Path, EditsThatWouldNotFitAreRefused) {
  const std::string a258(258, 'a');

  Path p(a258.c_str());
  EXPECT_TRUE(p.Add("x"));
  EXPECT_EQ(p.Length(), 259u);
  EXPECT_FALSE(p.Add("y"));
  EXPECT_EQ(Str(p), a258 + "x");

  p = a258.c_str();
  EXPECT_FALSE(p.AddPath("b"));  // separator + b = 260
  EXPECT_EQ(Str(p), a258);
  const std::string a257(257, 'a');
  p = (a257 + "/").c_str();
  EXPECT_TRUE(p.AddPath("/b"));  // the text's separator is skipped
  EXPECT_EQ(Str(p), a257 + "/b");

  p = (a258 + "a").c_str();
  EXPECT_FALSE(p.AddSlash());
  EXPECT_EQ(p.Length(), 259u);

  const std::string stem = std::string(255, 'a') + ".";
  p = (stem + "tg").c_str();
  EXPECT_TRUE(p.SetExt("dds"));
  EXPECT_EQ(Str(p), stem + "dds");
  EXPECT_FALSE(p.SetExt("ddsx"));
  EXPECT_EQ(Str(p), stem + "dds");
  p = std::string(258, 'a').c_str();
  EXPECT_FALSE(p.SetExt("x"));  // the added dot does not fit
  EXPECT_EQ(Str(p), a258);

  Path out("old");
  EXPECT_TRUE(Path::Join(out, "dir/file", std::string(255, 'n').c_str()));
  EXPECT_EQ(out.Length(), 259u);
  out = "old";
  EXPECT_FALSE(Path::Join(out, "dir/file", std::string(256, 'n').c_str()));
  EXPECT_EQ(Str(out), "old");
  EXPECT_FALSE(Path::Join(out, std::string(258, 'd').c_str(), "x"));  // "d...d:/x"
  EXPECT_EQ(Str(out), "old");
}

TEST(Path, NormalizeAtTheEdge) {
  // The result is never longer than the text; a full field normalises whole.
  const std::string name(256, 'n');
  Path p(("..\\" + name).c_str());
  ASSERT_EQ(p.Length(), 259u);
  EXPECT_TRUE(p.Normalize());
  EXPECT_EQ(Str(p), "../" + name);

  p = ("\\" + name + "\\.").c_str();
  ASSERT_EQ(p.Length(), 259u);
  EXPECT_TRUE(p.Normalize());
  EXPECT_EQ(Str(p), "/" + name);
}

} // namespace
