#include "datamanager/Messages.h"

namespace RUZLib {

namespace {
constexpr MessageSpec kRegistry[] = {
#define RUZ_MESSAGE_SPEC(name, number, kinds) {Msg::name, number, kinds, #name},
    RUZ_MESSAGES(RUZ_MESSAGE_SPEC)
#undef RUZ_MESSAGE_SPEC
};
} // namespace

std::span<const MessageSpec> MessageRegistry() { return kRegistry; }

const MessageSpec* FindMessage(int number) {
  for (const MessageSpec& spec : kRegistry)
    if (spec.number == number) return &spec;
  return nullptr;
}

} // namespace RUZLib
