#pragma once
// The engine's pseudo-random generator: a lagged XOR generator over 250
// 32-bit words with lag 147 (x[n] = x[n-250] ^ x[n-147]).
#include <cstdint>
#include <memory>

namespace Vak {

class Rand {
public:
  static constexpr int kSize = 250;
  static constexpr int kLag = 147;
  static constexpr int kAuxSize = 100;

  Rand();
  ~Rand();
  Rand(const Rand&) = delete;
  Rand& operator=(const Rand&) = delete;

  // New tables, seeded from the system's entropy source mixed with the clock.
  void Randomise();
  // New tables filled from `seed` (the same seed gives the same sequence).
  void Randomise(uint32_t seed);

  // The next word of the sequence.
  int NextInt();
  // A value in [lo, hi], both bounds included; bounds given the wrong way
  // round are swapped. Uniform over the whole int range too.
  int NextInt(int lo, int hi);

  int Position() const { return position_; }
  uint32_t Word(int i) const;

private:
  int position_ = 0;
  int lag_ = kLag;
  int size_ = kSize;
  int auxSize_ = kAuxSize;
  [[maybe_unused]] bool flag_ = false;  // not read by the operations here
  std::unique_ptr<uint32_t[]> aux_;  // not read by the generator itself
  std::unique_ptr<uint32_t[]> table_;
};

} // namespace Vak
