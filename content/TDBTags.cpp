#include "content/TDBTags.h"

#include <cstring>
#include <utility>

namespace {

// Below this many children a linear walk beats keeping the name index.
constexpr size_t kIndexFrom = 16;
// Ranges of this many entries or fewer are left to the final insertion sort.
constexpr ptrdiff_t kInsertionRange = 10;

int CompareNames(const Vak::PString& a, const Vak::PString& b) {
  return std::strcmp(a.c_str(), b.c_str());  // unsigned bytes
}

} // namespace

// ---- TDBContainerTag ----

TDBContainerTag::~TDBContainerTag() = default;

int TDBContainerTag::FindEntry(const Vak::PString& name) {
  if (entries_.size() < kIndexFrom) {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].name == name) return static_cast<int>(i);
    }
    return -1;
  }
  if (!byNameValid_) {
    byName_.clear();
    byName_.reserve(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) byName_.emplace(entries_[i].name.GetNode(), static_cast<uint32_t>(i));
    byNameValid_ = true;
  }
  auto it = byName_.find(name.GetNode());
  return it == byName_.end() ? -1 : static_cast<int>(it->second);
}

ACSChunkPtr TDBContainerTag::FindChild(const Vak::PString& name) {
  int i = FindEntry(name);
  return i < 0 ? GetNull() : entries_[static_cast<size_t>(i)].child;
}

ACSChunkPtr TDBContainerTag::GetChild(const Vak::PString& name) { return FindChild(name); }

int TDBContainerTag::GetChildCount() { return static_cast<int>(entries_.size()); }

Vak::PString TDBContainerTag::GetChildName(int index) {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return Vak::PString("");
  return entries_[static_cast<size_t>(index)].name;
}

void TDBContainerTag::SortChildren() {
  auto less = [](const Entry& a, const Entry& b) { return CompareNames(a.name, b.name) < 0; };
  // Quicksort around the median of three while a range is large ...
  struct Range {
    ptrdiff_t lo, hi;  // inclusive
  };
  std::vector<Range> pending;
  if (entries_.size() > 1) pending.push_back({0, static_cast<ptrdiff_t>(entries_.size()) - 1});
  while (!pending.empty()) {
    Range r = pending.back();
    pending.pop_back();
    while (r.hi - r.lo + 1 > kInsertionRange) {
      ptrdiff_t mid = r.lo + (r.hi - r.lo) / 2;
      if (less(entries_[mid], entries_[r.lo])) std::swap(entries_[mid], entries_[r.lo]);
      if (less(entries_[r.hi], entries_[r.lo])) std::swap(entries_[r.hi], entries_[r.lo]);
      if (less(entries_[r.hi], entries_[mid])) std::swap(entries_[r.hi], entries_[mid]);
      Vak::PString pivot = entries_[mid].name;
      ptrdiff_t i = r.lo, j = r.hi;
      for (;;) {
        while (CompareNames(entries_[i].name, pivot) < 0) ++i;
        while (CompareNames(pivot, entries_[j].name) < 0) --j;
        if (i >= j) break;
        std::swap(entries_[i], entries_[j]);
        ++i;
        --j;
      }
      // [lo, j] and [j + 1, hi]; keep the smaller for later, loop on the larger.
      Range left{r.lo, j}, right{j + 1, r.hi};
      if (left.hi - left.lo < right.hi - right.lo) {
        pending.push_back(left);
        r = right;
      } else {
        pending.push_back(right);
        r = left;
      }
    }
  }
  // ... then one insertion sort over the whole list.
  for (size_t i = 1; i < entries_.size(); ++i) {
    Entry item = std::move(entries_[i]);
    size_t j = i;
    for (; j > 0 && less(item, entries_[j - 1]); --j) entries_[j] = std::move(entries_[j - 1]);
    entries_[j] = std::move(item);
  }
  byNameValid_ = false;
}

void TDBContainerTag::SwapChildren(ACSChunkPtr a, ACSChunkPtr b) {
  int ia = -1, ib = -1;
  for (size_t i = entries_.size(); i-- > 0;) {
    if (ia < 0 && entries_[i].child == a) ia = static_cast<int>(i);
    if (ib < 0 && entries_[i].child == b) ib = static_cast<int>(i);
  }
  // Names stay in place, so the name index stays valid.
  if (ia < 0 || ib < 0 || ia == ib) return;
  std::swap(entries_[static_cast<size_t>(ia)].child, entries_[static_cast<size_t>(ib)].child);
}

void TDBContainerTag::SetChild(const Vak::PString& name, ACSChunkPtr chunk) {
  if (!chunk.Get()) return;
  entries_.push_back({name, std::move(chunk)});
  if (byNameValid_) byName_.emplace(name.GetNode(), static_cast<uint32_t>(entries_.size() - 1));
}

void TDBContainerTag::RemoveChild(ACSChunkPtr chunk) {
  if (!chunk.Get()) return;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].child == chunk) {
      entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(i));
      byNameValid_ = false;
      return;
    }
  }
}

ACSChunkPtr TDBContainerTag::CreateChunk(int type, const ACSRawDataPtr& data) {
  if (type == kACSContainer) return ACSChunkPtr(new TDBContainerTag);
  ACSChunkPtr node(new TDBDataTag);
  node->SetValue(type, data);
  return node;
}

// ---- TDBDataTag ----

TDBDataTag::~TDBDataTag() = default;

void TDBDataTag::SetValue(int type, const ACSRawDataPtr& data) {
  type_ = type;
  value_ = data;
}
