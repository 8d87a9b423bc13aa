#pragma once
// The engine's configuration store: options (a key and a text value) in the
// order they were first set, filled from the environment, from option files
// beside the program and in the working folder, and from option text.
//
// Option text: items separated by white space, each
//   [/|-|+]Key            an empty value
//   [/|-|+]Key-  Key+     the value "-" or "+"
//   [/|-|+]Key=value      value up to the next white space followed by / - +
//   [/|-|+]Key='value'    quoted with ' or ", the marks dropped
// Keys ignore case (stored lower-cased through the Windows-1252 table). An
// item with the '+' prefix appends ",value" to a key that already holds a
// non-empty value; every other item replaces the value.
//
// Not thread-safe: the store is filled at start-up and read afterwards. Text
// pointers handed out stay valid until that option is set again.
#include <string>
#include <string_view>
#include <unordered_map>

#include "Vak/Bexlorn/String.h"

namespace Vak {

class Options {
public:
  struct Entry {
    Entry* next = nullptr;
    Entry* previous = nullptr;
    AnsiString key;         // lower case
    AnsiString value;
    AnsiString separators;  // for GetNext; empty until set
    const char* cursor = nullptr;  // into value; null until set, and again whenever value changes
  };

  Options() = default;
  ~Options();
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;

  // Parses option text and stores its items; null does nothing.
  void ProcessRaw(const char* text);
  // Reads, in rising precedence, the environment variables "Options",
  // <appName>Options and <program base>Options, then the option files of the
  // same names + ".txt" in the program's folder and then in the working
  // folder (when that is another folder).
  void Init(const char* appName, const char* programPath);
  // Reads a whole option file (UTF-16 with a byte-order mark converted);
  // false when it does not open.
  bool ProcessFile(const char* path);
  // Init with the running program's path, then ProcessRaw(text) (null: "").
  void InitFromModule(const char* appName, const char* text);

  // The entry of a key, or null.
  Entry* Find(const char* key) const;
  // Boolean reading of a present option (value untouched when absent):
  // empty flips the default; "-..", "false", "off" give false; "+..", "true",
  // "on" give true; anything else flips the default. Returns presence.
  bool Get(const char* key, bool& value) const;
  // The value text; value untouched and false when absent.
  bool Get(const char* key, String& value) const;
  // The value as a decimal number (empty or not a number: 0; too large:
  // 0xFFFFFFFF); defaultValue and false when absent.
  bool Get(const char* key, unsigned int& value, unsigned int defaultValue) const;
  // Boolean reading with the default false; false when absent.
  bool Get(const char* key) const;

  // Sets an entry's separator set and moves its cursor to the value's start.
  // Nothing happens for an absent key.
  void SetSeparators(const char* key, const char* separators);
  // The next item of a list-valued option: up to the next separator, trailing
  // white space trimmed. False when absent, the cursor is null, or the item
  // is empty (the end of the list).
  bool GetNext(const char* key, String& value);
  bool GetNext(const char* key, unsigned int& value);

  // Shorthands for the kernel's services.
  bool GetBool(const char* key, bool defaultValue) const {
    Get(key, defaultValue);
    return defaultValue;
  }
  // The value text, or null when absent.
  const char* GetString(const char* key) const;

  const Entry* First() const { return head_; }
  unsigned Count() const { return count_; }

  // The program base of a path: its file name without extension and without
  // a trailing "_7s".
  static AnsiString ProgramBase(const char* programPath);

private:
  // Appended values of one ProcessRaw call, built up before they are stored
  // so that many appends to one key cost no more than its final length.
  using Pending = std::unordered_map<Entry*, std::string>;
  // Stores one item of option text (appending when `append`).
  void Set(const char* key, unsigned keyLength, const char* value, unsigned valueLength, bool append,
           Pending& pending);
  Entry* FindLowered(std::string_view key) const;
  void ProcessEnvironment(const char* name);

  Entry* head_ = nullptr;
  Entry* tail_ = nullptr;
  unsigned count_ = 0;
  // Each entry by its key; the views point into the entries' own keys.
  std::unordered_map<std::string_view, Entry*> byKey_;
};

} // namespace Vak
