#include "datamanager/DataManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "Vak/Cindrel/ResourceDatabase.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/VADServices.h"
#include "content/AppGlobals.h"
#include "content/VelmarEx.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/elthrac/Particle.h"
#include "platform/os/ThreadLocale.h"
#include "tests/content/LogCapture.h"
#include "tests/datamanager/DataManagerSupport.h"

namespace {

using datamanager::test::DataFolder;
using datamanager::test::StartedDataManager;
using datamanager::test::StringTableText;
using RUZLib::DataManager;

std::vector<std::string> Texts(const std::vector<Vak::PString>& list) {
  std::vector<std::string> texts;
  for (const Vak::PString& s : list) texts.push_back(s.c_str());
  return texts;
}

TEST(DataManager, StringTableReadsNamesBelowTheChildCount) {
  DataFolder folder;
  folder.WriteData("stringtable.txt", "0 \"zero\"\r\n1 \"one\"\r\n3 \"three\"\r\n");
  StartedDataManager manager(folder);
  ASSERT_TRUE(manager.Started());
  ASSERT_EQ(manager->StringCount(), 3u);
  EXPECT_STREQ(manager->GetString(0).c_str(), "zero");
  EXPECT_STREQ(manager->GetString(1).c_str(), "one");
  EXPECT_STREQ(manager->GetString(2).c_str(), "");
  // Past the end: the empty text, never a read outside the table.
  EXPECT_STREQ(manager->GetString(3).c_str(), "");
  EXPECT_STREQ(manager->GetString(100000).c_str(), "");
  EXPECT_STREQ(manager->GetString(-1).c_str(), "");
}

TEST(DataManager, MissingStringTableGivesAnEmptyTableAndStartupGoesOn) {
  DataFolder folder;
  folder.WriteData("other.txt", "a b\n");
  StartedDataManager manager(folder);
  EXPECT_TRUE(manager.Started());
  EXPECT_EQ(manager->StringCount(), 0u);
  EXPECT_STREQ(manager->GetString(RUZLib::Msg::kErrorPrefix).c_str(), "");
}

TEST(DataManager, FormTemplateLinesSplitAtTheFirstBlank) {
  DataFolder folder;
  folder.WriteData("choices.txt", "word some text with blanks\none\r\nkey value\r\nlast\r\n");
  StartedDataManager manager(folder);
  ASSERT_TRUE(manager.Started());
  const auto& templates = manager->FormTemplates();
  ASSERT_EQ(templates.count("choices.txt"), 1u);
  const auto& lines = templates.at("choices.txt");
  struct Expected {
    const char* key;
    const char* value;  // null: no value
  };
  const Expected expected[] = {
      {"word", "some text with blanks"}, {"one", nullptr}, {"key", "value"}, {"last", nullptr}};
  ASSERT_EQ(lines.size(), std::size(expected));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_STREQ(lines[i].key.c_str(), expected[i].key) << i;
    if (expected[i].value) {
      EXPECT_STREQ(lines[i].value.c_str(), expected[i].value) << i;
    } else {
      EXPECT_TRUE(lines[i].value.IsNull()) << i;
    }
  }
}

TEST(DataManager, NewFormTemplateLinesAreLowerCasedAndEndWithBridge) {
  DataFolder folder;
  folder.WriteData("newFormTemplate.txt", "Track\r\nScenery\r\n");
  StartedDataManager manager(folder);
  ASSERT_TRUE(manager.Started());
  EXPECT_EQ(Texts(manager->NewFormTemplateLines()), (std::vector<std::string>{"track", "scenery", "bridge"}));
}

TEST(DataManager, SubFolderDoesNotStopStartup) {
  DataFolder folder;
  folder.WriteData("stringtable.txt", StringTableText({{0, "zero"}}));
  // Named like a file, so the data folder's "*.*" search finds it.
  folder.WriteData("backup.old/inner.txt", "x y\n");
  StartedDataManager manager(folder);
  EXPECT_TRUE(manager.Started());
  EXPECT_EQ(manager->FormTemplates().count("backup.old"), 0u);
  EXPECT_EQ(manager->FormTemplates().count("stringtable.txt"), 1u);
}

TEST(DataManager, MissingFolderFailsStartupButLeavesTheSingleton) {
  DataFolder folder;
  RUZLib::ErrorHandler::Create();
  EXPECT_FALSE(DataManager::Startup((folder / "absent").c_str()));
  EXPECT_NE(DataManager::TryInstance(), nullptr);
  DataManager::Shutdown();
  RUZLib::ErrorHandler::Destroy();
  // Teardown wrote nothing into a folder that was never there.
  EXPECT_FALSE(folder.Has("absent"));
}

TEST(DataManager, InstanceWithoutSingletonThrows) {
  ASSERT_EQ(DataManager::TryInstance(), nullptr);
  content::test::LogCapture log;
  try {
    DataManager::Instance();
    FAIL() << "no exception";
  } catch (const VelmarEx& e) {
    EXPECT_NE(std::string(e.Reason()).find("DataManager::Instance> datamanger not initialised"), std::string::npos);
  }
  EXPECT_EQ(log.Count("DataManager::Instance> datamanger not initialised"), 1);
}

TEST(DataManager, ShutdownWithoutStartupDoesNothing) {
  ASSERT_EQ(DataManager::TryInstance(), nullptr);
  DataManager::Shutdown();
  EXPECT_EQ(DataManager::TryInstance(), nullptr);
}

TEST(DataManager, SchemaMergesLaterFilesOverEarlierOnesOnce) {
  DataFolder folder;
  folder.WriteData("inheritance.txt", "traincar\r\n{\r\n  from \"inheritance\"\r\n}\r\nasset\r\n{\r\n  a 1\r\n}\r\n");
  folder.WriteData("kind.txt", "traincar\r\n{\r\n  from \"kind\"\r\n}\r\nplain 5\r\n");
  StartedDataManager manager(folder);
  ASSERT_TRUE(manager.Started());
  EXPECT_FALSE(manager->SchemaLoaded());
  manager->LoadSchema();
  ACSChunkPtr schema = manager->GetSchema();
  EXPECT_STREQ(schema.GetChildContainer("traincar").GetChildString("from").c_str(), "kind");
  EXPECT_EQ(schema.GetChildContainer("asset").GetChildInt("a", 0), 1);
  // A value child stands as an empty container.
  EXPECT_EQ(schema.GetChildType("plain"), 1);
  // The second call reads nothing: a changed file stays unseen.
  folder.WriteData("kind.txt", "traincar\r\n{\r\n  from \"changed\"\r\n}\r\n");
  manager->LoadSchema();
  EXPECT_STREQ(manager->GetSchema().GetChildContainer("traincar").GetChildString("from").c_str(), "kind");
}

TEST(DataManager, PersonalDetailsRoundTrip) {
  DataFolder folder;
  folder.WriteData("stringtable.txt", StringTableText({{0, "zero"}}));
  {
    StartedDataManager manager(folder);
    ASSERT_TRUE(manager.Started());
    EXPECT_TRUE(manager->GetPersonalDetails().isinputboxon);
    RUZLib::PersonalDetails& details = manager->EditPersonalDetails();
    details.author = "A. Author";
    details.organisation = "Org";
    details.email = "a@example.org";
    details.website = "example.org";
    details.license = "free";
    details.isinputboxon = false;
  }
  ASSERT_TRUE(folder.Has("RUZData/personalDetails.txt"));
  // Written through a temporary beside it: nothing else is left there.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path() / "RUZData"))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"personalDetails.txt", "stringtable.txt"}));
  StartedDataManager manager(folder);
  const RUZLib::PersonalDetails& details = manager->GetPersonalDetails();
  EXPECT_STREQ(details.author.c_str(), "A. Author");
  EXPECT_STREQ(details.organisation.c_str(), "Org");
  EXPECT_STREQ(details.email.c_str(), "a@example.org");
  EXPECT_STREQ(details.website.c_str(), "example.org");
  EXPECT_STREQ(details.license.c_str(), "free");
  EXPECT_FALSE(details.isinputboxon);
}

TEST(DataManager, UnreadablePersonalDetailsSurviveTeardown) {
  DataFolder folder;
  // A NUL ends the text reader's input before any entry.
  const std::string unreadable("\0author \"kept\"\r\n", 17);
  folder.WriteData("personalDetails.txt", unreadable);
  {
    StartedDataManager manager(folder);
    ASSERT_TRUE(manager.Started());
    EXPECT_STREQ(manager->GetPersonalDetails().author.c_str(), "");
  }
  EXPECT_EQ(folder.ReadFile("RUZData/personalDetails.txt"), unreadable);
}

TEST(DataManager, LanguageLocaleTable) {
  const struct {
    const char* code;
    uint32_t id;
  } cases[] = {{"de", 1031}, {"DE", 1031}, {"xx", 3081}, {nullptr, 3081}, {"", 3081}, {"EN", 3081},
               {"uk", 2057}, {"fr", 1036}, {"ES", 3082}, {"CH", 4108}, {"hu", 1038}, {"kr", 1042}};
  for (const auto& c : cases) {
    platform::SetThreadLocale(0);
    DataManager::ApplyLanguageLocale(c.code);
    EXPECT_EQ(platform::GetThreadLocale(), c.id) << (c.code ? c.code : "(none)");
  }
}

TEST(DataManager, StartupAppliesTheDefaultLocaleWithoutADatabase) {
  DataFolder folder;
  folder.WriteData("x.txt", "");
  platform::SetThreadLocale(0);
  StartedDataManager manager(folder);
  EXPECT_EQ(platform::GetThreadLocale(), 3081u);
}

TEST(DataManager, FormatChecksTheEntryAgainstItsArguments) {
  DataFolder folder;
  folder.WriteData("stringtable.txt",
                   StringTableText({{131, "Mesh '%s' missing"}, {132, "Mesh %d failed"}, {158, "%s %g..%g"}}));
  StartedDataManager manager(folder);
  content::test::LogCapture log;
  EXPECT_STREQ(manager->Format(RUZLib::Msg::kMeshResourceMissing, "a.im").c_str(), "Mesh 'a.im' missing");
  EXPECT_STREQ(manager->Format(RUZLib::Msg::kOutOfRange, "v", 0.5, 2.0).c_str(), "v 0.5..2");
  // A misfit entry is used as written and logged once.
  EXPECT_STREQ(manager->Format(RUZLib::Msg::kMeshLoadFailed, "a.im").c_str(), "Mesh %d failed");
  EXPECT_STREQ(manager->Format(RUZLib::Msg::kMeshLoadFailed, "b.im").c_str(), "Mesh %d failed");
  EXPECT_EQ(log.Count("String table entry 132 does not fit"), 1);
  // An entry past the table's end is empty.
  EXPECT_STREQ(manager->Format(RUZLib::Msg::kTextureMissing, "t").c_str(), "");
}

TEST(DataManager, PersonalDetailsAreReplacedNotRewrittenInPlace) {
  DataFolder folder;
  folder.WriteData("personalDetails.txt", "author \"old\"\r\nisinputboxon 1\r\n");
  // A second name for the same file: a rewrite in place would change it too.
  folder.WriteFile("linked.txt", "");
  std::filesystem::remove(folder.Path() / "linked.txt");
  std::filesystem::create_hard_link(folder.Path() / "RUZData" / "personalDetails.txt", folder.Path() / "linked.txt");
  {
    StartedDataManager manager(folder);
    ASSERT_TRUE(manager.Started());
    EXPECT_STREQ(manager->GetPersonalDetails().author.c_str(), "old");
    manager->EditPersonalDetails().author = "new";
  }
  EXPECT_EQ(folder.ReadFile("linked.txt"), "author \"old\"\r\nisinputboxon 1\r\n");
  StartedDataManager manager(folder);
  EXPECT_STREQ(manager->GetPersonalDetails().author.c_str(), "new");
}

TEST(DataManager, LanguageCodesPickTheStringTableSuffix) {
  DataFolder folder;
  folder.WriteData("stringtable.txt", StringTableText({{0, "english"}}));
  folder.WriteData("stringtable-DE.txt", StringTableText({{0, "deutsch"}}));
  StartedDataManager manager(folder);
  // Start-up passes no code.
  EXPECT_STREQ(manager->GetString(0).c_str(), "english");
  const struct {
    const char* code;
    const char* text;
  } cases[] = {{"de", "deutsch"}, {"DE", "deutsch"}, {"UK", "english"}, {"", "english"}, {"FR", ""}};
  for (const auto& c : cases) {
    manager->LoadStringTable(c.code, folder.Data().c_str());
    EXPECT_STREQ(manager->GetString(0).c_str(), c.text) << c.code;
  }
}

TEST(DataManager, ConstructionDefaults) {
  DataFolder folder;
  folder.WriteData("x.txt", "");
  StartedDataManager manager(folder);
  EXPECT_FLOAT_EQ(manager->currentBuild, 3.1f);
  EXPECT_FALSE(manager->archivePresent);
  EXPECT_FALSE(manager->meshFailureReported);
  EXPECT_FALSE(manager->meshAssetSeen);
  EXPECT_FALSE(manager->SchemaLoaded());
  EXPECT_EQ(manager->GetRenderKernel(), nullptr);
  EXPECT_STREQ(manager->DataFolder().c_str(), folder.Data().c_str());
}

TEST(DataManager, CurrentAssetAndContentFolder) {
  DataFolder folder;
  folder.WriteData("x.txt", "");
  StartedDataManager manager(folder);
  const std::string root = folder.Path().string();
  ASSERT_TRUE(SetDatabaseRootPath(root.c_str()));
  // Without a top folder the database root serves.
  EXPECT_STREQ(manager->GetContentFolder().c_str(), static_cast<const char*>(GetDatabaseRootPath()));
  manager->SetCurrentAsset((root + "/editing/kuid 1 2/sub").c_str(), "");
  EXPECT_STREQ(manager->GetContentFolder().c_str(), "editing");
  EXPECT_STREQ(manager->GetCurrentAssetFolder().c_str(), "kuid 1 2\\sub");
  manager->SetCurrentAsset("asset", "local");
  EXPECT_STREQ(manager->GetContentFolder().c_str(), "local");
  EXPECT_STREQ(manager->GetCurrentAssetFolder().c_str(), "asset");
  SetDatabaseRootPath("");
}

alignas(8) char gTags[4];
RUZLib::Tag* T(int i) { return reinterpret_cast<RUZLib::Tag*>(&gTags[i]); }
Vak::PString TagFile(RUZLib::Tag* tag) { return tag == T(1) ? Vak::PString("named.texture") : Vak::PString(""); }

TEST(DataManager, TagListsAndReferences) {
  DataFolder folder;
  folder.WriteData("x.txt", "");
  StartedDataManager manager(folder);
  manager->AddToNamedList("queues", T(0));
  manager->AddToNamedList("queues", T(1));
  manager->AddToNamedList("mesh-table", T(0));
  manager->AddReference("attached-track", T(1));
  manager->AddUniqueItem(T(0));
  manager->AddUniqueItem(T(0));
  manager->AddUniqueItem(T(2));
  manager->AddItem(T(2));
  manager->AddItem(T(2));
  EXPECT_EQ(manager->UniqueItems(), (DataManager::TagList{T(0), T(2)}));
  EXPECT_EQ(manager->Items(), (DataManager::TagList{T(2), T(2)}));

  DataManager::SetTagFileNameFunction(&TagFile);
  EXPECT_TRUE(manager->IsFileReferenced("named.texture", "attached-track"));
  EXPECT_FALSE(manager->IsFileReferenced("named.texture", "queues"));
  EXPECT_FALSE(manager->IsFileReferenced("other.texture", "attached-track"));
  manager->ClearReferenceList("attached-track");
  EXPECT_FALSE(manager->IsFileReferenced("named.texture", "attached-track"));
  DataManager::SetTagFileNameFunction(nullptr);

  manager->RemoveTagFromLists(T(0));
  EXPECT_EQ(manager->NamedLists().at("queues"), (DataManager::TagList{T(1)}));
  EXPECT_TRUE(manager->NamedLists().at("mesh-table").empty());
  EXPECT_EQ(manager->UniqueItems(), (DataManager::TagList{T(2)}));
  manager->RemoveTagFromLists(T(2));
  EXPECT_TRUE(manager->UniqueItems().empty());
  EXPECT_TRUE(manager->Items().empty());
}

TEST(DataManager, PurgeFreesWhatTheSceneGraphAwaitsDeleting) {
  DataFolder folder;
  folder.WriteData("x.txt", "");
  Vak::RenderKernel kernel(nullptr, 8.0f);
  StartedDataManager manager(folder);
  manager->SetupScene(&kernel);
  kernel.GetSceneGraph().QueueDeletion(new Vak::Particle());
  EXPECT_EQ(kernel.GetSceneGraph().AwaitingDeletion(), 1u);
  manager->PurgeLoadedData();
  EXPECT_EQ(kernel.GetSceneGraph().AwaitingDeletion(), 0u);
}

class PlainDatabase : public Vak::ResourceDatabase {
public:
  explicit PlainDatabase(const char* name) : Vak::ResourceDatabase(Vak::PString(name)) {}
};

class PlainDatabases : public VADResourceDatabaseFactory {
public:
  Vak::ResourceDatabase* Create(const char* name, const char*, bool) override { return new PlainDatabase(name); }
};

TEST(DataManager, TopContentFolderHoldsOneUseOfItsArchiveDatabase) {
  DataFolder folder;
  folder.WriteData("x.txt", "");
  PlainDatabases factory;
  GetVADServices().resourceDatabases = &factory;
  ASSERT_TRUE(SetDatabaseRootPath(folder.Path().string().c_str()));
  {
    StartedDataManager manager(folder);
    manager->SetCurrentAsset("asset", "content");
    EXPECT_EQ(AssetArchiveCache::UseCount("content"), 1);
    ASSERT_NE(manager->GetResourceDatabase(), nullptr);
    EXPECT_STREQ(manager->GetResourceDatabase()->GetName().c_str(), "content");
    manager->SetCurrentAsset("asset", "other");
    EXPECT_EQ(AssetArchiveCache::UseCount("content"), 0);
    EXPECT_EQ(AssetArchiveCache::UseCount("other"), 1);
  }
  // Teardown released it.
  EXPECT_EQ(AssetArchiveCache::UseCount("other"), 0);
  AssetArchiveCache::Purge();
  GetVADServices().resourceDatabases = nullptr;
  SetDatabaseRootPath("");
}

TEST(DataManager, FolderGivenWithATrailingBackSlash) {
  DataFolder folder;
  folder.WriteData("stringtable.txt", StringTableText({{0, "zero"}}));
  RUZLib::ErrorHandler::Create();
  EXPECT_TRUE(DataManager::Startup((folder.Data() + "\\").c_str()));
  EXPECT_STREQ(DataManager::Instance()->GetString(0).c_str(), "zero");
  EXPECT_EQ(DataManager::Instance()->FormTemplates().count("stringtable.txt"), 1u);
  DataManager::Shutdown();
  RUZLib::ErrorHandler::Destroy();
  EXPECT_TRUE(folder.Has("RUZData/personalDetails.txt"));
}

} // namespace
