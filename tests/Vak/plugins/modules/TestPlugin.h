#pragma once
// What the test program and the plug-in modules it loads share. The modules
// link nothing: the kernel and TestPluginNote come from the test program,
// which exports its symbols.
#include "Vak/plugins/PluginType.h"

// Base of the test plug-ins; its virtual table lives in the test program.
class TestPluginType : public Vak::PluginType {
public:
  using PluginType::PluginType;
  ~TestPluginType() override;
  // Which module's code runs ("a", "b", "self").
  virtual const char* Origin() const = 0;
};

// Records an event ("a:load", "a:unload", ...) for the tests to count.
extern "C" void TestPluginNote(const char* event);

namespace test_ids {
constexpr const char* kGroup = "4C414E80-BBDA-11d4-9AD7-0001025364B8";
constexpr const char* kOtherGroup = "11111111-2222-3333-4444-555555555555";
constexpr const char* kAlpha = "A0000000-0000-0000-0000-00000000000A";
constexpr const char* kAlphaOther = "A0000000-0000-0000-0000-0000000000AB";
constexpr const char* kGamma = "C0000000-0000-0000-0000-00000000000C";
constexpr const char* kDelta = "D0000000-0000-0000-0000-00000000000D";
constexpr const char* kSelf = "5E1F0000-0000-0000-0000-000000005E1F";
} // namespace test_ids
