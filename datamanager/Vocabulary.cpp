#include "datamanager/Vocabulary.h"

namespace RUZLib::Words {

// One translation unit, so the order of definition is the order of creation
// and destruction runs in reverse.
#define RUZ_WORD_DEFINITION(name, text) const Vak::PString name(text);
RUZ_WORDS(RUZ_WORD_DEFINITION)
RUZ_PERSONAL_WORDS(RUZ_WORD_DEFINITION)
#undef RUZ_WORD_DEFINITION

namespace {
#define RUZ_WORD_ADDRESS(name, text) &name,
const Vak::PString* const kVocabulary[] = {RUZ_WORDS(RUZ_WORD_ADDRESS)};
const Vak::PString* const kPersonal[] = {RUZ_PERSONAL_WORDS(RUZ_WORD_ADDRESS)};
#undef RUZ_WORD_ADDRESS
static_assert(std::size(kVocabulary) == kWordCount);
static_assert(std::size(kPersonal) == kPersonalWordCount);
} // namespace

std::span<const Vak::PString* const> Vocabulary() { return kVocabulary; }
std::span<const Vak::PString* const> PersonalWords() { return kPersonal; }

} // namespace RUZLib::Words
