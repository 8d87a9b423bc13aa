#include "content/ACSChunkPtr.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "content/ACSFile.h"
#include "content/DynamicBuffer.h"
#include "content/FileHelpers.h"
#include "content/TDBTags.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"
#include "platform/os/File.h"
#include "platform/os/FileSystem.h"

namespace {

using Vak::GetLE32;
using Vak::PutLE32;

ACSRawDataPtr WordsValue(const uint32_t* words, uint32_t count) {
  if (count == 0) return ACSRawDataPtr();
  uint8_t bytes[8];
  if (count <= 2) {
    for (uint32_t i = 0; i < count; ++i) PutLE32(bytes + 4 * i, words[i]);
    return ACSRawDataCore::CreateCopy(count * 4, bytes);
  }
  auto* heap = static_cast<uint8_t*>(Vak::Alloc::New(count * 4));
  for (uint32_t i = 0; i < count; ++i) PutLE32(heap + 4 * i, words[i]);
  return ACSRawDataCore::Create(count * 4, heap);
}

enum class FileForm { kUnknown, kText, kBinary };

// By the text after the name's last '.', without regard to case.
FileForm FormOf(const char* name) {
  const char* dot = name ? std::strrchr(name, '.') : nullptr;
  if (!dot) return FileForm::kUnknown;
  const Vak::PString extension(dot + 1);
  if (extension.EqualsIgnoreCase("txt")) return FileForm::kText;
  if (extension.EqualsIgnoreCase("chump") || extension.EqualsIgnoreCase("cdp") || extension.EqualsIgnoreCase("cdp2")) {
    return FileForm::kBinary;
  }
  return FileForm::kUnknown;
}

} // namespace

// ---- pointer management ----

ACSChunkPtr::ACSChunkPtr(ACSChunk* chunk) : chunk_(chunk) {
  if (chunk_) chunk_->AddReference();
}

ACSChunkPtr::ACSChunkPtr(const ACSChunkPtr& other) : chunk_(other.chunk_) {
  if (chunk_) chunk_->AddReference();
}

ACSChunkPtr::~ACSChunkPtr() {
  if (chunk_) chunk_->ReleaseReference();
}

// The new chunk gains its reference before the old one loses its own.
ACSChunkPtr& ACSChunkPtr::operator=(const ACSChunkPtr& other) {
  ACSChunk* old = chunk_;
  if (other.chunk_) other.chunk_->AddReference();
  chunk_ = other.chunk_;
  if (old) old->ReleaseReference();
  return *this;
}

ACSChunkPtr& ACSChunkPtr::operator=(ACSChunkPtr&& other) noexcept {
  if (this != &other) {
    ACSChunk* old = chunk_;
    chunk_ = other.chunk_;
    other.chunk_ = nullptr;
    if (old) old->ReleaseReference();
  }
  return *this;
}

void ACSChunkPtr::Release() {
  ACSChunk* old = chunk_;
  chunk_ = nullptr;
  if (old) old->ReleaseReference();
}

bool ACSChunkPtr::IsNull() const {
  return !chunk_ || ACSChunk::IsNullChunk(chunk_) || chunk_->GetType() == kACSEmpty;
}

void ACSChunkPtr::MakeContainer() {
  // The shared null chunk ignores every edit, so it is replaced as well.
  if (IsNull()) *this = ACSChunkPtr(new TDBContainerTag);
}

ACSChunkPtr ACSChunkPtr::GetContainer() {
  MakeContainer();
  return *this;
}

void ACSChunkPtr::DeepCopy(const ACSChunkPtr& source) {
  *this = ACSChunkPtr(new TDBContainerTag);
  if (source.chunk_ && source->GetChildCount() > 0) ACSChunk::CopyFrom(chunk_, source.chunk_);
}

void ACSChunkPtr::DumpToConsole() const {
  DynamicBuffer buffer(512);
  {
    TBuffer stream(&buffer);
    WriteChunkFileText(*this, stream);
  }
  std::fwrite(buffer.Data(), 1, buffer.Size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// ---- files ----

bool ACSChunkPtr::Load(const char* folder, const char* name) {
  if (!name) return false;
  Vak::File file;
  const bool opened = folder && *folder ? file.Open(Vak::PString(folder), name, Vak::File::kRead).Ok()
                                        : file.Open(name, Vak::File::kReadStored).Ok();
  if (!opened) return false;
  const FileForm form = FormOf(name);
  if (form == FileForm::kUnknown) {
    file.Close();
    return false;
  }
  TFile stream(&file);
  if (form == FileForm::kText) {
    ReadChunkFileText(*this, stream, false);
  } else {
    auto* binary = new TDBBinaryFile;
    MPHandle keep(binary);  // the root's nodes hold it from here on
    binary->Read(stream);
    ACSChunkPtr root = binary->GetRoot();
    *this = ACSChunk::AsContainer(root.Get());
  }
  return true;
}


bool ACSChunkPtr::Save(const char* folder, const char* name) const {
  if (!name) return false;
  const FileForm form = FormOf(name);
  if (form == FileForm::kUnknown) return false;
  // The tree is built in memory and goes out in one write: the writers seek
  // back to patch lengths, and a seek on the file drops a failed flush.
  DynamicBuffer buffer;
  {
    TBuffer stream(&buffer);
    if (form == FileForm::kText) {
      WriteChunkFileText(*this, stream);
    } else {
      WriteChunkFileBinary(*this, stream);
    }
  }
  if (!(folder && *folder)) return WriteWholeFile(name, buffer.Data(), buffer.Size());
  Vak::File file;
  if (!file.Open(Vak::PString(folder), name, Vak::File::kWrite | Vak::File::kCreate).Ok()) return false;
  const unsigned long size = buffer.Size();
  bool written = size == 0 || file.Write(buffer.Data(), size, 1) == size;
  written = file.Flush() && written;
  return file.Close() == 0 && written;
}

// ---- reading children ----

int ACSChunkPtr::GetChildCount() const { return chunk_ ? chunk_->GetChildCount() : 0; }

Vak::PString ACSChunkPtr::GetChildName(int index) const {
  return chunk_ ? chunk_->GetChildName(index) : Vak::PString("");
}

bool ACSChunkPtr::HasChild(const Vak::PString& name) const {
  return chunk_ && chunk_->FindChild(name)->GetType() != kACSEmpty;
}

int ACSChunkPtr::GetChildType(const Vak::PString& name) const {
  return chunk_ ? chunk_->FindChild(name)->GetType() : kACSEmpty;
}

ACSChunkPtr ACSChunkPtr::GetChildContainer(const Vak::PString& name) const {
  if (!chunk_) return ACSChunkPtr();
  ACSChunkPtr child = chunk_->FindChild(name);
  return child->GetType() == kACSContainer ? child : ACSChunkPtr();
}

ACSChunkPtr ACSChunkPtr::GetChildContainerAt(int index) const {
  if (!chunk_) return ACSChunkPtr();
  return GetChildContainer(chunk_->GetChildName(index));
}

ACSRawDataPtr ACSChunkPtr::GetChildData(const Vak::PString& name) const {
  if (!chunk_) return ACSRawDataPtr();
  ACSChunkPtr child = chunk_->FindChild(name);
  if (ACSChunk::IsNullChunk(child.Get())) return ACSRawDataPtr();
  return ACSRawDataCore::FromChunk(child.Get());
}

ACSRawDataPtr ACSChunkPtr::ChildValueAs(const Vak::PString& name, int type) const {
  ACSRawDataPtr out;
  if (!chunk_) return out;
  ACSChunkPtr child = chunk_->FindChild(name);
  ACSConverter::Convert(child->GetType(), type, ACSRawDataCore::FromChunk(child.Get()), out);
  return out;
}

int32_t ACSChunkPtr::GetChildInt(const Vak::PString& name, int32_t defaultValue) const {
  ACSRawDataPtr v = ChildValueAs(name, kACSInt);
  return v.Size() == 4 ? static_cast<int32_t>(GetLE32(v.Data())) : defaultValue;
}

bool ACSChunkPtr::GetChildBool(const Vak::PString& name, bool defaultValue) const {
  return GetChildInt(name, defaultValue ? 1 : 0) != 0;
}

float ACSChunkPtr::GetChildFloat(const Vak::PString& name, float defaultValue) const {
  ACSRawDataPtr v = ChildValueAs(name, kACSFloat);
  return v.Size() == 4 ? std::bit_cast<float>(GetLE32(v.Data())) : defaultValue;
}

bool ACSChunkPtr::GetChildFloatArray(const Vak::PString& name, std::vector<float>& values) const {
  ACSRawDataPtr v = ChildValueAs(name, kACSFloat);
  uint32_t count = v.Size() / 4;
  values.resize(count);
  for (uint32_t i = 0; i < count; ++i) values[i] = std::bit_cast<float>(GetLE32(v.Data() + 4 * i));
  return count > 0;
}

KUID ACSChunkPtr::GetChildKUID(const Vak::PString& name, const KUID& defaultValue) const {
  ACSRawDataPtr v = ChildValueAs(name, kACSKUID);
  return v.Size() == 8 ? KUID::Unpack(GetLE32(v.Data()), GetLE32(v.Data() + 4)) : defaultValue;
}

Vak::PString ACSChunkPtr::GetChildString(const Vak::PString& name) const {
  ACSRawDataPtr v = ChildValueAs(name, kACSText);
  if (!v.Data()) return Vak::PString("");
  const char* text = reinterpret_cast<const char*>(v.Data());
  const auto length = static_cast<unsigned>(strnlen(text, v.Size()));
  return length ? Vak::PString(text, length) : Vak::PString("");
}

// ---- writing children ----

void ACSChunkPtr::SetValueChild(const Vak::PString& name, int type, const ACSRawDataPtr& data) {
  MakeContainer();
  RemoveChild(name);
  chunk_->SetChild(name, chunk_->CreateChunk(type, data));
}

void ACSChunkPtr::SetChildInt(const Vak::PString& name, int32_t value) {
  uint32_t word = static_cast<uint32_t>(value);
  SetValueChild(name, kACSInt, WordsValue(&word, 1));
}

void ACSChunkPtr::SetChildBool(const Vak::PString& name, bool flag) { SetChildInt(name, flag ? 1 : 0); }

void ACSChunkPtr::SetChildFloat(const Vak::PString& name, float value) {
  uint32_t word = std::bit_cast<uint32_t>(value);
  SetValueChild(name, kACSFloat, WordsValue(&word, 1));
}

void ACSChunkPtr::SetChildFloatArray(const Vak::PString& name, const float* values, uint32_t count) {
  if (count == 0 || !values) {
    MakeContainer();
    RemoveChild(name);
    return;
  }
  std::vector<uint32_t> words(count);
  for (uint32_t i = 0; i < count; ++i) words[i] = std::bit_cast<uint32_t>(values[i]);
  SetValueChild(name, kACSFloat, WordsValue(words.data(), count));
}

void ACSChunkPtr::SetChildKUID(const Vak::PString& name, const KUID& kuid) {
  uint32_t words[2];
  kuid.Pack(words[0], words[1]);
  SetValueChild(name, kACSKUID, WordsValue(words, 2));
}

void ACSChunkPtr::SetChildString(const Vak::PString& name, const char* text) {
  ACSRawDataPtr data;
  if (text && *text) data = ACSRawDataCore::CreateCopy(static_cast<uint32_t>(std::strlen(text) + 1), text);
  SetValueChild(name, kACSText, data);
}

void ACSChunkPtr::SetChildNull(const Vak::PString& name) { SetValueChild(name, kACSEmpty, ACSRawDataPtr()); }

void ACSChunkPtr::SetChild(const Vak::PString& name, ACSChunkPtr chunk) {
  MakeContainer();
  RemoveChild(name);
  // An empty value node is a child like any other; only "nothing" becomes a
  // container.
  if (!chunk.Get() || ACSChunk::IsNullChunk(chunk.Get())) chunk = ACSChunkPtr(new TDBContainerTag);
  chunk_->SetChild(name, std::move(chunk));
}

void ACSChunkPtr::RemoveChild(const Vak::PString& name) {
  if (!chunk_) return;
  ACSChunkPtr child = chunk_->FindChild(name);
  if (!ACSChunk::IsNullChunk(child.Get())) chunk_->RemoveChild(std::move(child));
}

void ACSChunkPtr::RemoveChildChunk(const ACSChunkPtr& chunk) {
  if (chunk_ && chunk.Get()) chunk_->RemoveChild(chunk);
}

// ---- KUID lists ----

void CollectTreeKUIDs(const ACSChunkPtr& tree, KUIDList& list) {
  int count = tree.GetChildCount();
  for (int i = 0; i < count; ++i) {
    Vak::PString name = tree.GetChildName(i);
    ACSChunkPtr child = tree->FindChild(name);
    switch (child->GetType()) {
    case kACSText: {
      const char* text = reinterpret_cast<const char*>(child->GetData());
      if (text) AddKUIDUnique(KUID::Parse(std::string(text, strnlen(text, child->GetDataSize())).c_str(), true), list);
      break;
    }
    case kACSKUID:
      if (child->GetDataSize() >= 8) {
        AddKUIDUnique(KUID::Unpack(GetLE32(child->GetData()), GetLE32(child->GetData() + 4)), list);
      }
      break;
    default:
      CollectTreeKUIDs(child, list);
      break;
    }
  }
}

void CollectChildKUIDs(const ACSChunkPtr& container, KUIDList& list) {
  int count = container.GetChildCount();
  for (int i = 0; i < count; ++i) AddKUIDUnique(container.GetChildKUID(container.GetChildName(i), KUID::Null()), list);
}

ACSChunkPtr MakeKUIDListContainer(const KUIDList& list) {
  ACSChunkPtr result;
  int written = 0;
  for (auto it = list.Begin(); !it.IsEnd(); it.Next()) {
    if (it->IsNull()) continue;
    char name[16];
    std::snprintf(name, sizeof name, "%d", written++);
    result.SetChildKUID(name, *it);
  }
  return result;
}
