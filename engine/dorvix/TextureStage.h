#pragma once
// Texture-stage settings: how a stage combines its texture with what the
// stages before it gave. Made by the display from a stage number and two
// argument sets (colour and alpha); the values mean what the display says.
#include <cstdint>

#include "Vak/plugins/ReferenceCount.h"

namespace Vak {

enum ModeType : int {};
enum DTexFuncType : int {};

struct TexArg {
  uint8_t value = 0;
  int source = 0;
  int modifier = 0;
  bool operator==(const TexArg&) const = default;
};

struct TextureArgs {
  TextureArgs(int first_, unsigned second_, ModeType mode_, DTexFuncType function_, TexArg a, TexArg b, TexArg c,
              TexArg d)
      : first(first_), second(second_), mode(mode_), function(function_), args{a, b, c, d} {}
  int first;
  unsigned second;
  ModeType mode;
  DTexFuncType function;
  TexArg args[4];
  bool operator==(const TextureArgs&) const = default;
};

class TextureStageSetting : public ReferenceCount {
public:
  TextureStageSetting(unsigned id, int stage, const TextureArgs& colour, const TextureArgs& alpha)
      : id_(id), stage_(stage), colour_(colour), alpha_(alpha) {}
  // Numbered in the order the display made them, from 1.
  unsigned Id() const { return id_; }
  int Stage() const { return stage_; }
  const TextureArgs& Colour() const { return colour_; }
  const TextureArgs& Alpha() const { return alpha_; }

private:
  unsigned id_;
  int stage_;
  TextureArgs colour_;
  TextureArgs alpha_;
};

} // namespace Vak
