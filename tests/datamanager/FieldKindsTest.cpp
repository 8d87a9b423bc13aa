// Field kinds, their exports and the validation rules.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "datamanager/Container.h"
#include "datamanager/ValidationRules.h"
#include "datamanager/Vocabulary.h"
#include "tests/datamanager/ConfigModelSupport.h"

namespace {

using RUZLib::Container;
using RUZLib::Tag;
namespace Rules = RUZLib::Rules;

const char* const kSchema = R"(scenery
{
  top-level 1
  subpossibilities
  {
    kind
    {
      kind "value"
      type "string"
    }
    velmar-build
    {
      kind "value"
      type "float"
    }
    count
    {
      kind "value"
      type "int"
      validation
      {
        isnotzero 1
      }
    }
    scale
    {
      kind "value"
      type "float"
    }
    label
    {
      kind "value"
      type "string"
    }
    level
    {
      kind "value"
      type "int"
    }
    licence
    {
      kind "value"
      type "combobox"
      source "choices.txt"
    }
    colours
    {
      kind "value"
      type "listbox"
      source "choices.txt"
    }
    author
    {
      kind "value"
      type "string"
    }
  }
}
)";

// A node of a hand-made tree.
Container* Node(Container* parent, const char* name, const char* type = "") {
  auto* node = new Container();
  node->name = name;
  node->typeName = type;
  node->parent = parent;
  if (parent) parent->AddChild(node);
  return node;
}

Tag* AddTag(Container* owner, const char* name, const char* value, int kind = RUZLib::kFieldString) {
  Tag* tag = owner->NewTag(static_cast<int32_t>(owner->tags.size()), owner, Vak::PString(name));
  tag->value = value;
  tag->fieldKind = kind;
  owner->AddTag(tag);
  return tag;
}

// Rule arguments from name/value pairs.
ACSChunkPtr Arguments(const std::map<std::string, std::string>& values) {
  ACSChunkPtr chunk;
  chunk.MakeContainer();
  for (const auto& [name, value] : values) chunk.SetChildString(Vak::PString(name.c_str()), value.c_str());
  return chunk;
}

class FieldKinds : public datamanager::test::ConfigModelFixture {
protected:
  void SetUp() override {
    folder_.WriteData("choices.txt", "free\r\nred\r\nblue\r\n2\r\n");
    Start(kSchema);
    Manager().currentBuild = 3.1f;
    root_ = std::make_unique<Container>();
    root_->name = "c";
  }
};

TEST(ParseValueList, EachSeparatorEndsANumber) {
  struct ListCase {
    const char* text;
    std::vector<float> values;
  };
  const ListCase cases[] = {
      {"1,2", {1, 2}}, {"1, 2", {1, 0, 2}}, {"", {0}}, {"3.5", {3.5f}}, {",,", {0, 0, 0}}, {"-1 x 2", {-1, 0, 2}},
  };
  for (const ListCase& c : cases) EXPECT_EQ(RUZLib::ParseValueList(c.text), c.values) << c.text;
  EXPECT_EQ(RUZLib::ParseIntList("1, 2"), (std::vector<int>{1, 0, 2}));
}

using Operation = bool (Container::*)(Tag*, ACSChunkPtr&);

struct ExportCase {
  const char* label;
  Operation operation;
  int kind;
  const char* name;
  const char* value;
  const char* dataType;  // file paths
  bool failingRule;      // an "isnotzero" rule that the value "0" fails
  bool passes;
  std::vector<std::string> records;
  const char* writtenName;
  const char* written;  // as text; null: not checked
};

TEST_F(FieldKinds, EveryExportOperationChecksAndWrites) {
  datamanager::test::FakeIndex index;
  index.assets["<kuid:1:2>"] = {true, "TR"};
  RUZLib::SetAssetIndexQueries(&index);
  using C = Container;
  const ExportCase cases[] = {
      {"float", &C::ExportFloat, 0, "f", "1.5", "", false, true, {}, "f", "1.5"},
      {"float failing", &C::ExportFloat, 0, "f", "0", "", true, false, {"3:157|f"}, "f", "0"},
      {"string", &C::ExportString, 1, "s", "x", "", false, true, {}, "s", "x"},
      {"string empty", &C::ExportString, 1, "s", "", "", false, false, {"3:103|s|c"}, "s", ""},
      {"int", &C::ExportInt, 3, "i", "7", "", false, true, {}, "i", "7"},
      {"int failing", &C::ExportInt, 3, "i", "0", "", true, false, {"3:157|i"}, "i", "0"},
      {"bool", &C::ExportBool, 4, "b", "1", "", false, true, {}, "b", "1"},
      {"bool other text", &C::ExportBool, 4, "b", "yes", "", false, true, {}, "b", "0"},
      {"bool failing", &C::ExportBool, 4, "b", "0", "", true, false, {"3:157|b"}, "b", "0"},
      {"vector2", &C::ExportVector2, 5, "v", "1,2", "", false, true, {}, "v", nullptr},
      {"vector2 with a blank", &C::ExportVector2, 5, "v", "1, 2", "", false, false, {"3:198|v|2|3"}, "v", nullptr},
      {"vector3", &C::ExportVector3, 6, "v", "1,2,3", "", false, true, {}, "v", nullptr},
      {"vector3 short", &C::ExportVector3, 6, "v", "1,2", "", false, false, {"3:198|v|3|2"}, "v", nullptr},
      {"vector4", &C::ExportVector4, 7, "v", "1 2 3 4", "", false, true, {}, "v", nullptr},
      {"vector4 empty", &C::ExportVector4, 7, "v", "", "", false, false, {}, "v", nullptr},
      {"vector5", &C::ExportVector5, 8, "v", "1,2,3,4,5", "", false, true, {}, "v", nullptr},
      {"vector5 long", &C::ExportVector5, 8, "v", "1,2,3,4,5,6", "", false, false, {"3:198|v|5|6"}, "v", nullptr},
      {"float list", &C::ExportFloatList, 9, "l", "1,2,3", "", false, true, {}, "l", nullptr},
      {"float list failing", &C::ExportFloatList, 9, "l", "0", "", true, false, {"3:157|l"}, "l", nullptr},
      {"combobox", &C::ExportComboBox, 10, "o", "free", "", false, true, {}, "o", "free"},
      {"combobox empty", &C::ExportComboBox, 10, "o", "", "", false, false, {"3:101|o|c"}, "o", ""},
      {"intcombobox", &C::ExportIntComboBox, 11, "n", "2", "", false, true, {}, "n", "2"},
      {"intcombobox empty", &C::ExportIntComboBox, 11, "n", "", "", false, false, {"3:101|n|c"}, "n", "0"},
      {"listbox", &C::ExportListBox, 12, "x", "red;blue", "", false, true, {}, "x", "red;blue"},
      {"listbox empty", &C::ExportListBox, 12, "x", "", "", false, false, {"3:102"}, "x", ""},
      {"kuid", &C::ExportKUID, 14, "k", "<kuid:1:2>", "", false, true, {}, "k", nullptr},
      {"kuid failing", &C::ExportKUID, 14, "k", "0", "", true, false, {"3:157|k"}, "k", nullptr},
      {"stringkuid", &C::ExportStringKUID, 17, "Train", "<kuid:1:2>", "", false, true, {}, "train", nullptr},
      {"stringkuid no name", &C::ExportStringKUID, 17, "", "<kuid:1:2>", "", false, false, {"3:97||c"}, "", nullptr},
      {"doublestring", &C::ExportDoubleString, 13, "Name", "Val", "", false, true, {}, "name", "Val"},
      {"doublestring no name", &C::ExportDoubleString, 13, "", "v", "", false, false, {"3:97||c"}, "", "v"},
      {"doublestring no value", &C::ExportDoubleString, 13, "d", "", "", false, true, {"2:96"}, "d", ""},
      {"filepath image", &C::ExportFilePath, 15, "t", "a/b.texture", "image", false, true, {}, "t", "a\\b.texture"},
      {"filepath mesh text", &C::ExportFilePath, 15, "m", "a.lm.txt", "meshes", false, true, {}, "m", "a.lm"},
      {"filepath bad image", &C::ExportFilePath, 15, "t", "a.png", "image", false, false, {"3:94|t|c"}, "t",
       "a.png"},
      {"filepath bad animation", &C::ExportFilePath, 15, "a", "x.im", "animation", false, false, {"3:93|a|c"},
       "a", "x.im"},
      {"filepath bad mesh", &C::ExportFilePath, 15, "m", "x.txt", "meshes", false, false, {"3:95|m|c"}, "m", "x"},
      {"filepath empty", &C::ExportFilePath, 15, "m", "", "meshes", false, false, {"3:96"}, "m", ""},
      {"filepathedit text", &C::ExportFilePathEdit, 16, "m", "x.txt", "meshes", false, true, {}, "m", "x"},
      {"filepathedit bad", &C::ExportFilePathEdit, 16, "m", "x.gif", "meshes", false, false, {"3:95|m|c"}, "m",
       "x.gif"},
      {"kuidbrowser", &C::ExportKUIDBrowser, 18, "k", "<kuid:1:2>", "", false, true, {}, "k", nullptr},
      {"kuidbrowser failing", &C::ExportKUIDBrowser, 18, "k", "<NULL>", "", true, false, {"3:157|k", "2:165|k"}, "k",
       nullptr},
      {"stringkuidbrowser", &C::ExportStringKUIDBrowser, 19, "K", "<kuid:1:2>", "", false, true, {}, "K", nullptr},
      {"stringkuidbrowser no name", &C::ExportStringKUIDBrowser, 19, "", "<kuid:1:2>", "", false, false, {"3:97||c"},
       "", nullptr},
      {"other", &C::ExportOther, 20, "z", "anything", "", false, true, {}, "z", "anything"},
  };
  const RUZLib::TagRule isNotZero = RUZLib::TagRules()[3].function;
  for (const ExportCase& c : cases) {
    SCOPED_TRACE(c.label);
    ClearRecords();
    Tag* tag = AddTag(root_.get(), c.name, c.value, c.kind);
    tag->dataType = c.dataType;
    tag->schemaEntry = Manager().GetSchema().GetChildContainer("scenery").GetChildContainer(
        RUZLib::Words::kSubpossibilities).GetChildContainer("licence");
    if (c.failingRule) tag->AddRule(isNotZero, ACSChunkPtr());
    ACSChunkPtr out;
    out.MakeContainer();
    EXPECT_EQ(((*root_).*(c.operation))(tag, out), c.passes);
    EXPECT_EQ(Records(), c.records);
    EXPECT_TRUE(out.HasChild(Vak::PString(c.writtenName)) || *c.writtenName == 0);
    if (c.written) {
      EXPECT_STREQ(out.GetChildString(Vak::PString(c.writtenName)).c_str(), c.written);
    }
    root_->tags.clear();
    delete tag;
  }
  RUZLib::SetAssetIndexQueries(nullptr);
}

TEST_F(FieldKinds, VectorsAreWrittenAsFloatArrays) {
  Tag* tag = AddTag(root_.get(), "v", "1, 2", RUZLib::kFieldVector3);
  ACSChunkPtr out;
  out.MakeContainer();
  EXPECT_TRUE(root_->ExportVector3(tag, out));
  std::vector<float> values;
  ASSERT_TRUE(out.GetChildFloatArray(Vak::PString("v"), values));
  EXPECT_EQ(values, (std::vector<float>{1, 0, 2}));
  // Before 2.89 the sizes are not held to.
  Manager().currentBuild = 2.88f;
  Tag* shortTag = AddTag(root_.get(), "w", "1", RUZLib::kFieldVector2);
  EXPECT_TRUE(root_->ExportVector2(shortTag, out));
  EXPECT_EQ(Records(), std::vector<std::string>{});
}

TEST_F(FieldKinds, ExportStopsLaterFloatAndStringTagsAfterAFailure) {
  ASSERT_TRUE(Load("kind \"scenery\"\r\nvelmar-build 3.1\r\ncount 0\r\nscale 2\r\nlabel \"x\"\r\nlevel 4\r\n"));
  Tag* kind = root_->FindTag(RUZLib::Words::kKind);
  kind->value = "TUNNEL";
  ACSChunkPtr out;
  out.MakeContainer();
  EXPECT_FALSE(root_->Export(out));
  EXPECT_EQ(Records(), std::vector<std::string>{"3:157|count"});
  EXPECT_STREQ(out.GetChildString(RUZLib::Words::kKind).c_str(), "bridge");
  EXPECT_STREQ(kind->value.c_str(), "bridge");
  EXPECT_TRUE(out.HasChild(Vak::PString("count")));
  EXPECT_FALSE(out.HasChild(Vak::PString("scale")));
  EXPECT_FALSE(out.HasChild(Vak::PString("label")));
  EXPECT_TRUE(out.HasChild(Vak::PString("level")));
}

TEST_F(FieldKinds, KindsAreWrittenUnderTheirConfigWords) {
  const std::pair<const char*, const char*> cases[] = {
      {"tunnel", "bridge"},       {"double-track", "bridge"},    {"chunky-track", "track"},
      {"obsolete-track", "track"}, {"mesh-reducing-track", "track"}, {"scenery-trackside", "scenery"},
      {"Scenery", "scenery"},     {"bridge", "bridge"},
  };
  for (const auto& [kind, written] : cases) {
    Container root;
    AddTag(&root, "kind", kind);
    ACSChunkPtr out;
    out.MakeContainer();
    root.Export(out);
    EXPECT_STREQ(out.GetChildString(RUZLib::Words::kKind).c_str(), written) << kind;
  }
}

TEST_F(FieldKinds, ChoiceValuesComeFromTheFormTemplate) {
  ASSERT_TRUE(Load("kind \"scenery\"\r\nvelmar-build 3.1\r\nlicence \"FREE\"\r\ncolours \"red;green\"\r\n"));
  EXPECT_EQ(Records(), std::vector<std::string>{});
  ASSERT_TRUE(Load("kind \"scenery\"\r\nvelmar-build 3.1\r\nlicence \"dear\"\r\ncolours \"green\"\r\n"));
  EXPECT_EQ(Records(), (std::vector<std::string>{"2:116|dear|licence", "2:116|green|colours"}));
  EXPECT_STREQ(root_->FindTag(Vak::PString("licence"))->value.c_str(), "");
}

TEST_F(FieldKinds, PersonalDetailsFillTextFieldsWithoutAConfig) {
  Manager().EditPersonalDetails().author = "Someone";
  ASSERT_TRUE(Load("kind \"scenery\"\r\nvelmar-build 3.1\r\n"));
  ASSERT_EQ(root_->optionalTags.size(), 7u);
  const Tag* author = nullptr;
  for (const Tag* tag : root_->optionalTags)
    if (tag->name == RUZLib::Words::kAuthor) author = tag;
  ASSERT_NE(author, nullptr);
  EXPECT_STREQ(author->value.c_str(), "Someone");
  ASSERT_TRUE(Load("kind \"scenery\"\r\nvelmar-build 3.1\r\nauthor \"Me\"\r\n"));
  EXPECT_STREQ(root_->FindTag(RUZLib::Words::kAuthor)->value.c_str(), "Me");
  EXPECT_EQ(root_->optionalTags.size(), 6u);
}

struct RuleCase {
  const char* label;
  const char* rule;
  const char* tagName;
  const char* value;
  std::map<std::string, std::string> arguments;
  // Builds what the rule looks at around the tag's container, which is
  // `owner`, a child of `parent`, a child of `top`.
  std::function<void(Container* top, Container* parent, Container* owner)> around;
  bool passes;
  std::vector<std::string> records;
};

TEST_F(FieldKinds, EveryTagRulePassesAndFails) {
  folder_.WriteFile("content/asset/script.gs", "");
  SetDatabaseRootPath(folder_.Path().string().c_str());
  Manager().SetCurrentAsset("asset", "content");
  meshes_.meshes["asset\\body.im"] = {"skin.texture"};
  auto none = [](Container*, Container*, Container*) {};
  auto typed = [](const char* value) {
    return [value](Container*, Container*, Container* owner) { AddTag(owner, "type", value); };
  };
  auto withMesh = [this](Container* top, Container*, Container*) {
    Manager().LoadMeshForField(Vak::PString("asset\\body.im"), top);
  };
  auto withLights = [](Container* top, Container*, Container*) {
    Container* lights = Node(top, "lights");
    Node(lights, "0");
    Node(lights, "2");
  };
  const RuleCase cases[] = {
      {"trackside type", "istracksidetype", "t", "1", {}, typed("trackside"), true, {}},
      {"other type", "istracksidetype", "t", "1", {}, typed("road"), false, {"3:153|type|trackside|t"}},
      {"no type", "istracksidetype", "t", "1", {}, none, false, {"3:154|t|type|trackside"}},
      {"collated", "needcollatemeshes", "n", "1", {},
       [](Container*, Container*, Container* owner) { AddTag(owner, "collate-meshes", "1"); }, true, {}},
      {"not collated", "needcollatemeshes", "n", "1", {}, none, false, {"3:155|n|collate-meshes"}},
      {"positive", "ispositive", "p", "0,2", {}, none, true, {}},
      {"negative", "ispositive", "p", "1,-2", {}, none, false, {"3:156|p"}},
      {"positive empty", "ispositive", "p", "", {}, none, false, {}},
      {"not zero", "isnotzero", "z", "1 2", {}, none, true, {}},
      {"zero", "isnotzero", "z", "1, 2", {}, none, false, {"3:157|z"}},
      {"script", "scriptfileexists", "s", "script.gse", {}, none, true, {}},
      {"script rooted", "scriptfileexists", "s", "/elsewhere", {}, none, true, {}},
      {"script missing", "scriptfileexists", "s", "other.gs", {}, none, false, {"3:197|other.gs"}},
      {"script empty", "scriptfileexists", "s", "", {}, none, false, {}},
      {"in range", "range", "r", "1,5", {{"min", "1"}, {"max", "5"}}, none, true, {}},
      {"out of range", "range", "r", "6", {{"min", "1"}, {"max", "5"}}, none, false, {"3:158|r|1|5"}},
      {"range without bounds", "range", "r", "0", {}, none, true, {}},
      {"range without bounds nonzero", "range", "r", "0.5", {}, none, false, {"3:158|r|0|0"}},
      {"array size", "arraysize", "a", "1,2", {{"size", "2"}}, none, true, {}},
      {"array size wrong", "arraysize", "a", "1, 2", {{"size", "2"}}, none, false, {"3:198|a|2|3"}},
      {"array size without size", "arraysize", "a", "1", {}, none, false, {}},
      {"not own parent", "notownparent", "x", "1", {}, none, true, {}},
      {"own parent", "notownparent", "owner", "1", {}, none, false, {"3:160"}},
      {"mesh texture", "mustbeownparent", "m", "skin.texture", {}, withMesh, true, {}},
      {"not a mesh texture", "mustbeownparent", "m", "bark.texture", {}, withMesh, false,
       {"3:161|bark.texture|asset\\body.im"}},
      {"no mesh", "mustbeownparent", "m", "skin.texture", {}, none, false, {}},
      {"lights present", "mustbeinlightcontainer", "l", "0,2", {}, withLights, true, {}},
      {"lights missing", "mustbeinlightcontainer", "l", "1,2,3", {}, withLights, false, {"3:162|1", "3:162|3"}},
      {"no lights", "mustbeinlightcontainer", "l", "0", {}, none, false, {"3:163"}},
      {"paired", "mustbepaired", "a", "1", {{"0", "a"}, {"1", "b"}},
       [](Container*, Container*, Container* owner) { AddTag(owner, "b", "1"); }, true, {}},
      {"second missing", "mustbepaired", "a", "1", {{"0", "a"}, {"1", "b"}}, none, false, {"3:164|a|b"}},
      {"both missing", "mustbepaired", "c", "1", {{"0", "a"}, {"1", "b"}}, none, false, {"3:164|b|a", "3:164|a|b"}},
      {"initial count zero", "mustbepaired", "initial-count", "0", {{"0", "a"}, {"1", "b"}}, none, true, {}},
      {"initial count one", "mustbepaired", "initial-count", "1", {{"0", "initial-count"}, {"1", "b"}}, none, false,
       {"3:164|initial-count|b"}},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.label);
    ClearRecords();
    Container top;
    top.name = "top";
    Container* parent = Node(&top, "parent");
    Container* owner = Node(parent, "owner");
    c.around(&top, parent, owner);
    Tag* tag = AddTag(owner, c.tagName, c.value);
    const RUZLib::TagRule* rule = nullptr;
    for (const auto& row : RUZLib::TagRules())
      if (row.name == Vak::PString(c.rule)) rule = &row.function;
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ((*rule)(tag, Arguments(c.arguments)), c.passes);
    EXPECT_EQ(Records(), c.records);
  }
  SetDatabaseRootPath("");
}

TEST_F(FieldKinds, RulesRunInOrderAndAllOfThem) {
  ASSERT_TRUE(Load("kind \"scenery\"\r\nvelmar-build 3.1\r\n"));
  Tag* tag = AddTag(root_.get(), "c", "-1, 0");
  tag->ReadValidation(Config("validation\r\n{\r\n  ispositive 1\r\n  nothing 1\r\n  isnotzero 1\r\n}\r\n"));
  ASSERT_EQ(tag->rules.size(), 2u);
  EXPECT_FALSE(tag->RunValidationRules());
  EXPECT_EQ(Records(), (std::vector<std::string>{"3:156|c", "3:157|c"}));
}

TEST_F(FieldKinds, UniqueNamesReportsEveryPair) {
  for (const char* name : {"a", "a", "b", "a"}) Node(root_.get(), name);
  AddTag(root_.get(), "t", "1");
  Tag* second = AddTag(root_.get(), "t", "2");
  EXPECT_FALSE(Rules::UniqueNames(root_.get(), ACSChunkPtr()));
  // Three pairs of children; the third repeats the second's report for the
  // same child.
  EXPECT_EQ(Records(), (std::vector<std::string>{"3:149|a|c", "3:149|a|c", "3:149|t|c"}));
  const auto& records = RUZLib::ErrorHandler::Instance()->GetMessages();
  EXPECT_EQ(records[0]->container, root_->children[1]);
  EXPECT_EQ(records[1]->container, root_->children[3]);
  EXPECT_EQ(records[2]->tag, second);
  ClearRecords();
  Container distinct;
  Node(&distinct, "a");
  Node(&distinct, "b");
  EXPECT_TRUE(Rules::UniqueNames(&distinct, ACSChunkPtr()));
}

TEST_F(FieldKinds, TextureFileRule) {
  folder_.WriteFile("content/asset/ground.texture", "");
  SetDatabaseRootPath(folder_.Path().string().c_str());
  Manager().SetCurrentAsset("asset", "content");
  struct TextureCase {
    const char* tag;
    const char* value;
    bool passes;
    std::vector<std::string> records;
  };
  const TextureCase cases[] = {
      {"texture", "ground.tga", true, {}},
      {"asset-filename", "ground", true, {}},
      {"texture", "grass.bmp", false, {"3:203|grass.bmp"}},
      {"other", "ground", false, {"3:204"}},
  };
  for (const TextureCase& c : cases) {
    SCOPED_TRACE(c.value);
    ClearRecords();
    Container node;
    AddTag(&node, c.tag, c.value);
    EXPECT_EQ(Rules::HasValidTextureFile(&node, ACSChunkPtr()), c.passes);
    EXPECT_EQ(Records(), c.records);
  }
  // Archived content is not looked into.
  folder_.WriteFile("content.va", "");
  Container node;
  EXPECT_TRUE(Rules::HasValidTextureFile(&node, ACSChunkPtr()));
  SetDatabaseRootPath("");
}

TEST_F(FieldKinds, KuidCheckAgainstTheIndex) {
  datamanager::test::FakeIndex index;
  index.assets["<kuid:1:1>"] = {true, "TR;TV"};
  index.assets["<kuid:1:3>"] = {false, "TR"};
  index.assets["<kuid:1:5>"] = {true, "BR"};
  index.replacements["<kuid:1:4>"] = "<kuid:1:1>";
  RUZLib::SetAssetIndexQueries(&index);
  struct KuidCase {
    const char* label;
    const char* tag;
    const char* value;
    const char* category;
    const char* container;
    bool passes;
    std::vector<std::string> records;
  };
  const KuidCase cases[] = {
      {"null", "k", "<NULL>", "", "c", true, {"2:165|k"}},
      {"unknown", "k", "<kuid:1:2>", "", "c", true, {"2:166|<kuid:1:2>"}},
      {"not present", "k", "<kuid:1:3>", "TR", "c", true, {"2:168|<kuid:1:3>"}},
      {"no requirement", "k", "<kuid:1:5>", "", "c", true, {}},
      {"category matches", "k", "<kuid:1:1>", "TR", "c", true, {}},
      {"obsolete replaced", "k", "<kuid:1:4>", "TV", "c", true, {}},
      {"category mismatch", "k", "<kuid:1:5>", "TR", "c", false, {"3:167|k"}},
      {"mesh asset", "mesh-asset", "<kuid:1:5>", "TR", "c", true, {}},
      {"obsolete table", "k", "<kuid:9:9>", "TR", "obsolete-table", true, {}},
  };
  for (const KuidCase& c : cases) {
    SCOPED_TRACE(c.label);
    ClearRecords();
    Container node;
    node.name = c.container;
    Tag* tag = AddTag(&node, c.tag, c.value, RUZLib::kFieldKUIDBrowser);
    tag->category = c.category;
    EXPECT_EQ(RUZLib::CheckKUIDTag(tag), c.passes);
    EXPECT_EQ(Records(), c.records);
  }
  RUZLib::SetAssetIndexQueries(nullptr);
}

TEST_F(FieldKinds, ReferenceCheckOfChoiceFields) {
  ASSERT_TRUE(Load("kind \"scenery\"\r\nvelmar-build 3.1\r\n"));
  meshes_.meshes["body.im"] = {"skin.texture"};
  Manager().meshFailureReported = false;
  Manager().meshAssetSeen = false;
  Container* table = Node(root_.get(), "mesh-table");
  Container* body = Node(table, "body", "mesh-element");
  Manager().LoadMeshForField(Vak::PString("body.im"), body);
  Container* part = Node(table, "part", "mesh-element");
  Container* effects = Node(body, "effects");
  Container* corona = Node(effects, "glow", "effect-corona");
  Container* elsewhere = Node(root_.get(), "queue");
  struct ReferenceCase {
    const char* label;
    Container* owner;
    const char* source;
    const char* value;
    const char* attParent;  // null: none
    bool comboBox;
    bool passes;
    std::vector<std::string> records;
  };
  const ReferenceCase cases[] = {
      {"mesh texture", part, "attachment", "skin.texture", nullptr, true, true, {}},
      {"attachment on the loaded sibling", part, "attachment", "a.x", "body", true, false,
       {"3:104|a.x|part|body.im"}},
      {"attachment without att-parent", part, "attachment", "a.x", nullptr, false, false, {"3:118|part"}},
      {"sibling without mesh", body, "attachment", "a.x", "part", true, true, {}},
      {"corona on the loaded grandparent", corona, "attachment", "a.y", nullptr, true, false,
       {"3:104|a.y|glow|body.im"}},
      {"corona through a listbox", corona, "attachment", "a.y", nullptr, false, false,
       {"3:199|choice|a.y|mesh-table\\body\\effects\\glow"}},
      {"unknown entry", elsewhere, "queues", "q1", nullptr, true, false, {"3:199|choice|q1|queue"}},
  };
  for (const ReferenceCase& c : cases) {
    SCOPED_TRACE(c.label);
    ClearRecords();
    Tag* tag = AddTag(c.owner, "choice", c.value, c.comboBox ? RUZLib::kFieldComboBox : RUZLib::kFieldListBox);
    tag->sourceBound = true;
    tag->source = c.source;
    Tag* parentTag = c.attParent ? AddTag(c.owner, "att-parent", c.attParent) : nullptr;
    ACSChunkPtr out;
    out.MakeContainer();
    EXPECT_EQ(c.comboBox ? c.owner->ExportComboBox(tag, out) : c.owner->ExportListBox(tag, out), c.passes);
    EXPECT_EQ(Records(), c.records);
    std::erase(c.owner->tags, tag);
    std::erase(c.owner->tags, parentTag);
    delete tag;
    delete parentTag;
  }
  // After a mesh failure unknown references are not reported.
  ClearRecords();
  Manager().meshFailureReported = true;
  Tag* tag = AddTag(elsewhere, "choice", "q1", RUZLib::kFieldComboBox);
  tag->sourceBound = true;
  tag->source = "queues";
  ACSChunkPtr out;
  out.MakeContainer();
  EXPECT_TRUE(elsewhere->ExportComboBox(tag, out));
  Manager().meshFailureReported = false;
}

} // namespace

namespace {

class ConfigModelOwnership : public datamanager::test::ConfigModelFixture {
protected:
  void SetUp() override { Start(kSchema); }
};

TEST_F(ConfigModelOwnership, DeletingANodeTakesItsFirstRecordAndItsMesh) {
  meshes_.meshes["body.im"] = {};
  auto* node = new Container();
  Tag* tag = AddTag(node, "t", "1");
  Container other;
  RUZLib::ErrorHandler& handler = *RUZLib::ErrorHandler::Instance();
  handler.ContainerError(Vak::PString("first"), node);
  handler.ContainerError(Vak::PString("second"), node);
  handler.TagError(Vak::PString("tag"), tag);
  handler.ContainerError(Vak::PString("other"), &other);
  Manager().LoadMeshForField(Vak::PString("body.im"), node);
  Manager().AddReference(Vak::PString("queues"), &other);
  ASSERT_EQ(Manager().LoadedObjects().count(node), 1u);
  delete node;
  EXPECT_EQ(Records(), (std::vector<std::string>{"3:second", "3:other"}));
  EXPECT_EQ(Manager().LoadedObjects().count(node), 0u);
  // The reference lists of queues, attached tracks and mesh tables go whole.
  EXPECT_TRUE(Manager().ContainerReferences().at(Vak::PString("queues")).empty());
}

TEST_F(ConfigModelOwnership, ARawExtensionsChunkIsWrittenInsteadOfTheNode) {
  Container node;
  AddTag(&node, "s", "");
  ACSChunkPtr raw;
  raw.MakeContainer();
  raw.SetChildString(Vak::PString("anything"), "kept");
  node.AttachRawChunk(raw);
  raw.SetChildString(Vak::PString("later"), "not kept");
  ACSChunkPtr out;
  out.MakeContainer();
  EXPECT_TRUE(node.Export(out));
  EXPECT_EQ(Records(), std::vector<std::string>{});
  EXPECT_STREQ(out.GetChildContainer(RUZLib::Words::kExtensions).GetChildString(Vak::PString("anything")).c_str(),
               "kept");
  EXPECT_FALSE(out.GetChildContainer(RUZLib::Words::kExtensions).HasChild(Vak::PString("later")));
  EXPECT_FALSE(out.HasChild(Vak::PString("s")));
}

} // namespace
