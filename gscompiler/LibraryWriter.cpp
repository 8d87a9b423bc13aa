#include "gscompiler/LibraryWriter.h"

#include <bit>
#include <cstring>
#include <string>

#include "gscompiler/GSCClass.h"

namespace GSCompiler {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint32_t kClassFlagMask = 0x4C;
constexpr uint32_t kFunctionFlagMask = 0x3B;
constexpr uint32_t kConstructor = 0x20;

// A tagged record: its length word is written once the payload is.
class Record {
public:
  Record(CodeBuffer& out, uint32_t tag) : out_(out), start_(out.Position()) {
    out_.AppendU32(0);
    out_.AppendU32(tag);
  }
  void Close() {
    const uint32_t end = out_.Position();
    out_.SetPosition(start_);
    out_.AppendU32(end - start_);
    out_.SetPosition(end);
  }

private:
  CodeBuffer& out_;
  uint32_t start_;
};

void PadTo4(CodeBuffer& out, uint8_t fill) {
  while (out.Position() % 4 != 0 && out.Flags() == 0) out.AppendBytes(&fill, 1);
}

void AppendI32(CodeBuffer& out, int32_t value) { out.AppendU32(static_cast<uint32_t>(value)); }

class Writer {
public:
  Writer(CompileContext& context, MessageSink* sink) : context_(context), sink_(sink) {}

  bool Classes(CodeBuffer& out);
  bool Functions(CodeBuffer& out);
  bool ClassBodies(CodeBuffer& out);

private:
  uint32_t Id(const std::string& text) { return InternString(text.c_str(), context_); }
  bool ClassBody(CodeBuffer& out, const GSCClass& cls);
  bool FunctionRecord(CodeBuffer& out, const GSCFunction& fn);
  bool Initialiser(CodeBuffer& out, const GSCClass& cls);
  bool Overrides(CodeBuffer& out, const GSCClass& cls);
  static void FrameWords(CodeBuffer& out, int32_t c, int32_t a, int32_t b, int32_t e, int32_t r);
  static void Code(CodeBuffer& out, const CodeEmitter& code);

  CompileContext& context_;
  MessageSink* sink_;
};

bool FitsShort(int32_t value) { return value >= INT16_MIN && value <= INT16_MAX; }

bool Writer::Classes(CodeBuffer& out) {
  Record record(out, kTagClasses);
  out.AppendU32(static_cast<uint32_t>(context_.knownClasses.size()));
  for (const LibraryClassEntry& cls : context_.knownClasses) {
    // The count covers every class; an entry left out would shift every
    // later section.
    if (cls.declaringSlot < 0) return false;
    AppendI32(out, cls.declaringSlot);
    out.AppendU32(Id(cls.name));
  }
  record.Close();
  return true;
}

bool Writer::Functions(CodeBuffer& out) {
  Record record(out, kTagFunctions);
  out.AppendU32(static_cast<uint32_t>(context_.functions.size()));
  for (const LibraryFunctionEntry& fn : context_.functions) {
    if (!FitsShort(fn.virtualSlot)) return false;
    AppendI32(out, fn.classIndex);
    out.AppendU32(Id(fn.signature));
    AppendI32(out, fn.virtualSlot);
  }
  record.Close();
  return true;
}

bool Writer::ClassBodies(CodeBuffer& out) {
  Record record(out, kTagClassBodies);
  out.AppendU32(static_cast<uint32_t>(context_.classes.size()));
  for (const auto& cls : context_.classes)
    if (!ClassBody(out, *cls)) return false;
  record.Close();
  return true;
}

void Writer::FrameWords(CodeBuffer& out, int32_t c, int32_t a, int32_t b, int32_t e, int32_t r) {
  for (int32_t word : {a + b + 4, 1 - c, a + b + 1, e + a + b + 4, c, a, b, r}) AppendI32(out, word);
}

void Writer::Code(CodeBuffer& out, const CodeEmitter& code) {
  out.AppendU32(code.code.Length());
  out.AppendBytes(code.code.Data(), code.code.Length());
  PadTo4(out, 0xFF);
}

bool Writer::FunctionRecord(CodeBuffer& out, const GSCFunction& fn) {
  if (fn.Failed() || fn.depth != 0 || !FitsShort(fn.virtualSlot)) return false;
  Record record(out, kTagFunction);
  out.AppendU32(Id(fn.signature));
  AppendI32(out, fn.returnType);
  AppendI32(out, fn.returnClass);
  out.AppendU32(fn.flags & kFunctionFlagMask);
  AppendI32(out, fn.virtualSlot);
  FrameWords(out, fn.c, fn.a, fn.b, fn.maxDepth, static_cast<int32_t>(fn.referenceSlots.size()));
  for (int32_t slot : fn.referenceSlots) AppendI32(out, slot);
  Code(out, fn);
  out.AppendBytes("lgbd", 4);
  out.AppendU32(static_cast<uint32_t>(fn.lines.size()));
  for (const LineDebugInfo& line : fn.lines) {
    out.AppendU32(line.offset);
    AppendI32(out, line.line);
  }
  PadTo4(out, 0);
  record.Close();
  return true;
}

bool Writer::Initialiser(CodeBuffer& out, const GSCClass& cls) {
  const CodeEmitter& code = cls.initialiser;
  if (code.Failed() || code.depth != 0) return false;
  Record record(out, kTagFunction);
  out.AppendU32(Id("::" + cls.name + "()"));
  out.AppendU32(0);
  out.AppendU32(kNone);
  out.AppendU32(kConstructor);
  out.AppendU32(kNone);
  FrameWords(out, 1, 0, cls.initialiserTemporaries, code.maxDepth, 0);
  Code(out, code);
  record.Close();
  return true;
}

bool Writer::Overrides(CodeBuffer& out, const GSCClass& cls) {
  Record record(out, kTagOverrides);
  std::vector<std::pair<int32_t, int32_t>> entries;
  for (const auto& fn : cls.functions) {
    for (const GSCClass::BaseFunction& base : cls.baseFunctions) {
      if (base.signature != fn->signature) continue;
      if (base.returnType != fn->returnType || base.returnClass != fn->returnClass) {
        if (sink_ != nullptr) sink_->Add(("Wrong return type on function: " + fn->signature + "\n").c_str());
        return false;
      }
      entries.emplace_back(fn->functionIndex, base.slot);
      break;
    }
  }
  out.AppendU32(static_cast<uint32_t>(entries.size()));
  for (auto [index, slot] : entries) {
    AppendI32(out, index);
    AppendI32(out, slot);
  }
  record.Close();
  return true;
}

bool Writer::ClassBody(CodeBuffer& out, const GSCClass& cls) {
  Record record(out, kTagClassBody);
  out.AppendU32(Id(cls.name));
  out.AppendU32(cls.flags & kClassFlagMask);
  out.AppendU32(static_cast<uint32_t>(cls.bases.size()));
  for (const GSCClass::Base& base : cls.bases) {
    AppendI32(out, base.classIndex);
    AppendI32(out, base.memberOffset);
    out.AppendU32(base.direct ? 1 : 0);
  }

  Record functions(out, kTagClassFunctions);
  out.AppendU32(static_cast<uint32_t>(cls.functions.size() + 1));
  for (const auto& fn : cls.functions)
    if (!FunctionRecord(out, *fn)) return false;
  if (!Initialiser(out, cls)) return false;
  functions.Close();

  Record members(out, kTagMembers);
  out.AppendU32(static_cast<uint32_t>(cls.members.size()));
  for (const GSCClass::Member& m : cls.members) {
    out.AppendU32(Id(m.name));
    AppendI32(out, m.type);
    AppendI32(out, m.classIndex);
    out.AppendU32(m.isPublic ? 1 : 0);
    AppendI32(out, m.slot);
  }
  members.Close();

  if (!Overrides(out, cls)) return false;

  Record layout(out, kTagLayout);
  AppendI32(out, cls.firstMemberSlot + cls.memberCount + 3);
  out.AppendU32(static_cast<uint32_t>(2 * cls.bases.size() + 1));
  for (const GSCClass::Base& base : cls.bases) {
    for (int32_t word : {0, base.memberOffset, -base.memberOffset, 1, base.memberOffset + 1, base.functionOffset})
      AppendI32(out, word);
  }
  for (uint32_t word : {1u, 1u, 0u}) out.AppendU32(word);
  out.AppendU32(static_cast<uint32_t>(cls.referenceMemberSlots.size()));
  for (int32_t slot : cls.referenceMemberSlots) AppendI32(out, slot);
  layout.Close();

  record.Close();
  return true;
}

// Roughly the side buffer's size: the records of every function and class.
uint64_t SideEstimate(const CompileContext& context) {
  uint64_t bytes = 64 + 8 * context.knownClasses.size() + 12 * context.functions.size();
  for (const auto& cls : context.classes) {
    bytes += 256 + 20 * cls->members.size() + 24 * cls->bases.size() + 4 * cls->referenceMemberSlots.size() +
             8 * cls->baseFunctions.size() + cls->initialiser.code.Length();
    for (const auto& fn : cls->functions)
      bytes += 96 + fn->code.Length() + 4 * fn->referenceSlots.size() + 8 * fn->lines.size();
  }
  return bytes;
}

// At least the bytes that WriteHead writes, once the records have interned
// every name they use, rounded up to 4 so that the records keep their
// alignment: the texts there are, and every name a record could add.
uint32_t HeadBound(const CompileContext& context, const char* sourcePath) {
  uint64_t bytes = 64 + std::strlen(sourcePath) + 8 * uint64_t{context.dependencies.size()};
  for (uint32_t id = 0; id < context.strings.Count(); ++id) bytes += context.strings.Text(id).size() + 5;
  for (const LibraryClassEntry& entry : context.knownClasses) bytes += entry.name.size() + 5;
  for (const LibraryFunctionEntry& entry : context.functions) bytes += entry.signature.size() + 5;
  for (const auto& cls : context.classes) {
    bytes += 2 * (cls->name.size() + 5) + 4;  // its name, and "::name()"
    for (const GSCClass::Member& m : cls->members) bytes += m.name.size() + 5;
    for (const auto& fn : cls->functions) bytes += fn->signature.size() + 5;
  }
  bytes = (bytes + 3) / 4 * 4;
  return bytes > UINT32_MAX / 2 ? UINT32_MAX / 2 : static_cast<uint32_t>(bytes);
}

// The file's header, its dependencies and its string table; the length word
// counts the `sideLength` bytes of records that follow.
bool WriteHead(CodeBuffer& out, const CompileContext& context, const char* sourcePath, uint32_t sideLength) {
  uint64_t stringBytes = 0;
  for (uint32_t id = 0; id < context.strings.Count(); ++id) stringBytes += context.strings.Text(id).size() + 5;
  out.Ensure(std::strlen(sourcePath) + 64 + context.dependencies.size() * 8 + stringBytes);
  out.AppendU32(0);
  out.AppendU32(kLibraryMagic);
  out.AppendU32(std::bit_cast<uint32_t>(kLibraryVersion));
  out.AppendU32(context.root.textCrc);
  out.AppendU32(context.root.nameCrc);
  const auto pathLength = static_cast<uint32_t>(std::strlen(sourcePath) + 1);
  out.AppendU32(pathLength);
  out.AppendBytes(sourcePath, pathLength);

  Record dependencies(out, kTagDependencies);
  out.AppendU32(static_cast<uint32_t>(context.dependencies.size()));
  for (const LibraryDependency& d : context.dependencies) {
    out.AppendU32(d.textCrc);
    out.AppendU32(d.nameCrc);
  }
  dependencies.Close();

  Record strings(out, kTagStrings);
  const StringTable& table = context.strings;
  out.AppendU32(table.Count());
  std::vector<uint32_t> offsets(table.Count());
  uint32_t at = 0;
  const std::vector<uint32_t> order = table.StoredOrder();
  for (uint32_t id : order) {
    offsets[id] = at;
    at += static_cast<uint32_t>(table.Text(id).size() + 1);
  }
  for (uint32_t offset : offsets) out.AppendU32(offset);
  for (uint32_t id : order) out.AppendBytes(table.Text(id).c_str(), static_cast<uint32_t>(table.Text(id).size() + 1));
  PadTo4(out, 0);
  strings.Close();

  const uint64_t end = uint64_t{out.Position()} + sideLength;
  if (end > UINT32_MAX) return false;
  out.SetPosition(0);
  out.AppendU32(static_cast<uint32_t>(end));
  out.SetPosition(out.Length());
  return out.Flags() == 0;
}

} // namespace

uint32_t InternString(const char* text, CompileContext& context) { return context.strings.Intern(text); }

bool WriteLibrary(CodeBuffer& out, CompileContext& context, MessageSink* sink, const char* sourcePath) {
  // The records of classes and functions intern the names they use, so the
  // string table, which comes first, is known only after them. They are
  // written behind a gap of at least the size of what goes before them,
  // which is then filled and closed up: a large library needs no second
  // buffer and no copy of its records.
  out.Reset();
  const uint32_t gap = HeadBound(context, sourcePath);
  out.Ensure(uint64_t{gap} + SideEstimate(context));
  out.AppendFill(0, gap);
  Writer writer(context, sink);
  if (!writer.Classes(out) || !writer.Functions(out) || !writer.ClassBodies(out)) return false;
  if (out.Flags() != 0) return false;
  const uint32_t sideLength = out.Length() - gap;

  CodeBuffer head(CodeBuffer::kSideStep);
  head.Reset();
  if (!WriteHead(head, context, sourcePath, sideLength)) return false;
  if (head.Length() > gap) {
    // Not reached while HeadBound holds; kept so that a miss costs only time.
    const std::vector<uint8_t> side(out.Data() + gap, out.Data() + out.Length());
    out.Reset();
    out.Ensure(uint64_t{head.Length()} + side.size());
    out.AppendBytes(head.Data(), head.Length());
    out.AppendBytes(side.data(), static_cast<uint32_t>(side.size()));
    return out.Flags() == 0;
  }
  out.SetPosition(0);
  out.AppendBytes(head.Data(), head.Length());
  out.Erase(head.Length(), gap - head.Length());
  return out.Flags() == 0;
}

} // namespace GSCompiler
