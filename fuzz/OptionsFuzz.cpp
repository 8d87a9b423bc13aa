// Option text and option files. Whatever the text, the store holds each
// lower-case key once, in the order first set, every key found again in any
// case, and every list value walks to its end. The store's items written back
// as quoted option text read to the same store; the text read from an option
// file, in ANSI or as UTF-16 with a byte-order mark, gives the same store as
// the text itself; and the raw bytes as a file (UTF-16, compressed, odd
// lengths) read without harm.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Options.h"
#include "fuzz/FuzzInputFile.h"

using Vak::Options;

namespace {

using Items = std::vector<std::pair<std::string, std::string>>;

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

Items ItemsOf(const Options& options) {
  Items items;
  for (const Options::Entry* e = options.First(); e; e = e->next)
    items.emplace_back(std::string(e->key, e->key.Size()), std::string(e->value, e->value.Size()));
  return items;
}

void Check(Options& options) {
  const Items items = ItemsOf(options);
  if (items.size() != options.Count()) __builtin_trap();
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string& key = items[i].first;
    if (key.empty()) __builtin_trap();
    std::string upper = key;
    for (char& c : upper) {
      if (IsSpace(c) || c == '=' || c == '-' || c == '+') __builtin_trap();
      if (static_cast<char>(Vak::CodePage::ToLower(static_cast<unsigned char>(c))) != c) __builtin_trap();
      c = static_cast<char>(Vak::CodePage::ToUpper(static_cast<unsigned char>(c)));
    }
    const Options::Entry* entry = options.Find(key.c_str());
    if (!entry || options.Find(upper.c_str()) != entry) __builtin_trap();
    if (std::string(entry->key) != key) __builtin_trap();  // so keys are unique

    bool flag = i % 2 == 0;
    if (!options.Get(key.c_str(), flag)) __builtin_trap();
    unsigned number = 0;
    if (!options.Get(key.c_str(), number, 7)) __builtin_trap();

    // Each item takes at least one character, so the walk ends within the value.
    const std::string& value = items[i].second;
    options.SetSeparators(key.c_str(), i % 3 == 0 ? "," : ",; ");
    Vak::String item;
    size_t steps = 0;
    while (options.GetNext(key.c_str(), item)) {
      if (++steps > value.size()) __builtin_trap();
      // Only a value that starts with white space can give an empty item: the
      // item is tested for emptiness before its trailing white space goes.
      if (item.Size() == 0 ? steps > 1 || !IsSpace(value[0]) : IsSpace(static_cast<const char*>(item)[item.Size() - 1]))
        __builtin_trap();
    }
  }
}

// The items as option text that reads back to them: each value quoted. A
// value that holds a quotation mark cannot be written so and is left out.
std::string Quoted(const Items& items, Items& kept) {
  std::string text;
  for (const auto& [key, value] : items) {
    if (value.find_first_of("'\"") != std::string::npos) continue;
    kept.emplace_back(key, value);
    text += "/" + key + "=\"" + value + "\"\n";
  }
  return text;
}

std::vector<uint8_t> Utf16File(const std::string& text) {
  const std::u16string units = Vak::CodePage::AnsiToUtf16(text.data(), text.size());
  std::vector<uint8_t> bytes{0xFF, 0xFE};
  for (char16_t u : units) Vak::AppendLE16(bytes, u);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::InputFile file("Options.txt");
  // Option text ends at a NUL; an exact-size copy, so the sanitizer sees a
  // read past the terminator.
  const std::string text(std::string(reinterpret_cast<const char*>(data), size).c_str());

  Options options;
  options.ProcessRaw(text.c_str());
  Check(options);
  const Items items = ItemsOf(options);

  Items kept;
  const std::string quoted = Quoted(items, kept);
  Options again;
  again.ProcessRaw(quoted.c_str());
  if (ItemsOf(again) != kept) __builtin_trap();

  // A file that starts with a byte-order mark or the compressed-file tag is
  // not read as ANSI text.
  const bool plain = text.compare(0, 2, "\xFF\xFE") != 0 && text.compare(0, 4, "CFIL") != 0;
  if (plain && file.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
    Options fromFile;
    if (!fromFile.ProcessFile(file.Path().c_str()) || ItemsOf(fromFile) != items) __builtin_trap();
  }
  const std::vector<uint8_t> wide = Utf16File(text);
  if (file.Write(wide.data(), wide.size())) {
    Options fromFile;
    if (!fromFile.ProcessFile(file.Path().c_str()) || ItemsOf(fromFile) != items) __builtin_trap();
  }
  if (file.Write(data, size)) {
    Options fromFile;
    fromFile.ProcessFile(file.Path().c_str());
    Check(fromFile);
  }
  return 0;
}
