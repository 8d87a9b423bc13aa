#pragma once
// The config model: one asset config (a chunk tree) turned into a tree of
// containers holding typed tags. Each node and tag is typed by an entry of the
// data manager's kind schema; loading builds the tree and gives every tag its
// field kind, exporting writes it back into a chunk tree and runs the field
// checks and the rules the schema names. Every finding goes to the error
// handler as a formatted string-table entry.
//
// Main thread only.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"

struct VADAssetStatus;

namespace RUZLib {

class Container;
class Tag;

using TagRule = bool (*)(Tag* tag, const ACSChunkPtr& arguments);
using ContainerRule = bool (*)(Container* container, const ACSChunkPtr& arguments);

// The field kind of a tag, from the "type" word of its schema sub-entry.
enum FieldKind : int32_t {
  kFieldFloat = 0,
  kFieldString = 1,
  kFieldNone = 2,
  kFieldInt = 3,
  kFieldBool = 4,
  kFieldVector2 = 5,
  kFieldVector3 = 6,
  kFieldVector4 = 7,
  kFieldVector5 = 8,
  kFieldFloatList = 9,
  kFieldComboBox = 10,
  kFieldIntComboBox = 11,
  kFieldListBox = 12,
  kFieldDoubleString = 13,
  kFieldKUID = 14,
  kFieldFilePath = 15,
  kFieldFilePathEdit = 16,
  kFieldStringKUID = 17,
  kFieldKUIDBrowser = 18,
  kFieldStringKUIDBrowser = 19,
  kFieldOther = 20,
};

class Tag {
public:
  Tag(int32_t index, Container* owner, const Vak::PString& name);
  Tag(const Tag&) = delete;
  Tag& operator=(const Tag&) = delete;
  // Removes the first record it owns and its place in the data manager's
  // lists.
  virtual ~Tag();
  // Takes the tag rules the sub-entry's "validation" names.
  virtual void ReadValidation(const ACSChunkPtr& subEntry);

  // Every rule runs; false when any failed.
  bool RunValidationRules();
  void AddRule(TagRule rule, const ACSChunkPtr& arguments);

  static int LiveCount();

  Vak::PString name;
  Vak::PString value;
  int32_t fieldKind = kFieldOther;
  int32_t index = -1;
  Container* owner = nullptr;
  Vak::PString dataType;
  bool sourceBound = false;
  Vak::PString source;
  bool required = true;
  std::vector<TagRule> rules;
  std::vector<ACSChunkPtr> ruleArguments;
  bool disabled = false;
  bool isFile = false;
  ACSChunkPtr schemaEntry;
  Vak::PString spare;
  Vak::PString category;
  Vak::PString filter;
  bool marked = false;
};

class Container {
public:
  Container();
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;
  // Removes the first record it owns and the mesh loaded for it, empties the
  // reference lists of attached tracks, queues and mesh tables, and deletes
  // what it owns.
  virtual ~Container();

  // Builds the tree from a config on a new root; false when the config has
  // no kind the schema can type, or a child could not be made.
  virtual bool Load(ACSChunkPtr config);
  virtual void ApplySchema(const ACSChunkPtr& entry, int flag);
  // Writes the tree into `out`, running the field checks and tag rules, and
  // the container rules of each child; false when any failed.
  virtual bool Export(ACSChunkPtr out);
  virtual void AddTag(Tag* tag);
  virtual ACSChunkPtr FindSchemaEntry(const Vak::PString& name) const;
  virtual bool BuildFromConfig(const ACSChunkPtr& config, const ACSChunkPtr& entry, Container* owner);
  virtual void RemoveOptionalTag(const Vak::PString& name);

  // One export per field kind: checks, then the value written to `out`.
  virtual bool ExportFloat(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportString(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportInt(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportBool(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportVector2(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportVector3(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportVector4(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportVector5(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportFloatList(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportComboBox(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportIntComboBox(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportListBox(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportKUID(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportStringKUID(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportDoubleString(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportFilePath(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportFilePathEdit(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportKUIDBrowser(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportStringKUIDBrowser(Tag* tag, ACSChunkPtr& out);
  virtual bool ExportOther(Tag* tag, ACSChunkPtr& out);

  // The value is a line of the form template the sub-entry's "source" names.
  virtual bool CheckComboBoxValue(const Vak::PString& value, const ACSChunkPtr& subEntry);
  virtual bool CheckIntComboBoxValue(const Vak::PString& value, const ACSChunkPtr& subEntry);
  // Some ';'-separated piece of the value is such a line.
  virtual bool CheckListBoxValue(const Vak::PString& value, const ACSChunkPtr& subEntry);
  virtual void SetupTagFromSchema(Tag* tag, const ACSChunkPtr& subEntry, const ACSChunkPtr& config,
                                  Container* owner);
  virtual bool CheckChildName(const ACSChunkPtr& entry, const Vak::PString& name, Container* owner,
                              ACSChunkPtr& subEntry);
  virtual Vak::PString ChooseContainerType(const ACSChunkPtr& subEntry, const Vak::PString& name);
  virtual std::vector<Vak::PString> GetCompulsoryNames(const ACSChunkPtr& entry);
  virtual void ReadObsoleteTags(const ACSChunkPtr& entry);
  // Takes the container rules of the entry's "validation", merged with those
  // of every entry it inherits, into `target`.
  virtual void ReadValidation(const ACSChunkPtr& entry, Container* target);
  virtual ACSChunkPtr FindChildEntry(const ACSChunkPtr& entry, const Vak::PString& name);
  virtual Tag* NewTag(int32_t index, Container* owner, const Vak::PString& name);
  // Null when the owner holds a tag of that name already.
  virtual Tag* CreateTag(Container* owner, const Vak::PString& name, const ACSChunkPtr& subEntry,
                         const ACSChunkPtr& config);
  // Null, with a container error, when the type names no container entry.
  virtual Container* NewChild(const Vak::PString& name, Container* owner, const Vak::PString& typeName,
                              int32_t index, const ACSChunkPtr& config);
  virtual void AttachRawChunk(const ACSChunkPtr& chunk);

  void AddChild(Container* child);
  void AddContainerRule(ContainerRule rule, const ACSChunkPtr& arguments);
  // Every rule runs; false when any failed.
  bool RunValidationRules();
  // The element name and the schema entry of its type; a name is kept once.
  void AddElementType(const Vak::PString& name, const ACSChunkPtr& type);

  // The texture files under the folder and its sub-folders: a ".texture"
  // needs its description, a description's images must load, be powers of
  // two and agree in size. True when nothing was recorded.
  bool CheckTextureFiles(const char* folder);

  // The "kind" of the config the tree was loaded from.
  Vak::PString ConfigKind() const;
  // The first tag (identity tags included) of that name, or null.
  Tag* FindTag(const Vak::PString& name) const;
  // The names from below the root down to this node, joined by '\'.
  Vak::PString PathFromRoot() const;
  Container* Grandparent() const { return parent && parent->parent ? parent->parent : nullptr; }

  static int LiveCount();

  int32_t spare1 = 25;
  int32_t spare2 = 25;
  int32_t index = -1;
  Vak::PString name;
  Vak::PString typeName;
  Vak::PString keyName;
  Vak::PString spareName;
  std::vector<ACSChunkPtr> elementTypes;
  std::vector<ACSChunkPtr> compulsoryElementTypes;
  std::vector<Container*> children;
  std::vector<Tag*> tags;
  std::vector<Tag*> identityTags;
  std::vector<Tag*> optionalTags;
  std::vector<Vak::PString> obsoleteNames;
  std::vector<Vak::PString> elementNames;
  ACSChunkPtr tagArray;
  Container* parent = nullptr;
  ACSChunkPtr config;
  ACSChunkPtr schema;
  uint8_t loaded = 0;
  uint8_t spareFlag = 1;
  std::vector<ContainerRule> rules;
  std::vector<ACSChunkPtr> ruleArguments;
  std::vector<Vak::PString> inheritedNames;
  int32_t spare3 = 0;
  ACSChunkPtr extensions;

private:
  bool ExportVector(Tag* tag, ACSChunkPtr& out, int size);
  bool ExportFile(Tag* tag, ACSChunkPtr& out);
  bool ExportKuidValue(Tag* tag, ACSChunkPtr& out, bool emptyNameCheck, bool lowerName, bool kuidCheck);
  bool ExportChoiceText(Tag* tag, ACSChunkPtr& out, bool listBox);
  bool ReferenceCheck(Tag* tag, bool comboBox);
  bool BuildChild(Container* child, const ACSChunkPtr& typeEntry, const ACSChunkPtr& childConfig, Container* owner);
};

// The schema entry of a kind (lower-cased) that may type a config's root;
// the schema is read again once when the entry found is not top-level. Null
// when there is none.
ACSChunkPtr FindKindSchemaEntry(const Vak::PString& kind);
// The sub-entry that types a tag: the entry's "subpossibilities", then those
// of the inherited entries, then their "tagarray"s, then the entry's own.
ACSChunkPtr FindTagSchemaEntry(const Vak::PString& name, const ACSChunkPtr& entry,
                               const std::vector<ACSChunkPtr>& inherited);
// Walks the entries `entry` inherits, depth first in child order, each one's
// own inheritance before it. An entry already on the path from `entry` is
// passed over, so a schema whose entries inherit from each other ends.
struct InheritanceVisitor {
  virtual ~InheritanceVisitor() = default;
  // Before the entry's own inheritance is walked; `inherited` may be null.
  virtual void Enter(const Vak::PString& name, const ACSChunkPtr& inherited) { (void)name, (void)inherited; }
  // After it.
  virtual void Leave(const Vak::PString& name, const ACSChunkPtr& inherited) = 0;
};
void WalkInheritance(const ACSChunkPtr& schema, const ACSChunkPtr& entry, InheritanceVisitor& visitor);
// Every entry the walk meets, in the order it enters them.
std::vector<ACSChunkPtr> InheritedEntries(const ACSChunkPtr& schema, const ACSChunkPtr& entry);
// Merges the "subpossibilities", "tagarray" and "array-element" children of
// every inherited entry, then the entry's own over them, and records the
// inherited names.
struct MergedSchema {
  ACSChunkPtr subpossibilities;
  ACSChunkPtr tagArray;
  ACSChunkPtr arrayElements;
  std::vector<Vak::PString> inheritedNames;
};
MergedSchema MergeInheritedSchema(const ACSChunkPtr& schema, const ACSChunkPtr& entry);
// The entry's "validation" children with those of every inherited entry
// merged over them.
ACSChunkPtr CollectInheritedValidation(const ACSChunkPtr& schema, const ACSChunkPtr& entry);
// The identity tags go to the front of the tag list, in their own order.
void MoveIdentityTagsFirst(Container* container);
// Each blank or comma ends a number (atof), two adjacent ones give a 0; never
// empty.
std::vector<float> ParseValueList(const char* text);
// The same splitting with atoi.
std::vector<int> ParseIntList(const char* text);
// The KUID check of KUID-browser fields against the asset index.
bool CheckKUIDTag(Tag* tag);

// What the KUID check asks the asset index; the program's own answers come
// from the asset database, tests put a fake in.
class AssetIndexQueries {
public:
  virtual ~AssetIndexQueries() = default;
  virtual KUID Resolve(const KUID& kuid) = 0;
  // False for an asset the index does not know.
  virtual bool GetStatus(const KUID& kuid, VADAssetStatus& status) = 0;
};
// Null restores the asset database's answers.
void SetAssetIndexQueries(AssetIndexQueries* queries);

} // namespace RUZLib
