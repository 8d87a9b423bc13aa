#pragma once
// A display for the blocking screen that records what it is asked to do.
#include <atomic>
#include <string>

#include "assetdb/BlockingScreen.h"

class FakeDisplay : public BlockingScreen::Display {
public:
  bool LoadPicture(const char* name) override {
    ++loads;
    picture = name;
    return loadSucceeds;
  }
  void DrawPicture() override { ++draws; }
  void PumpMessages() override { ++pumps; }
  void ReleasePicture() override { ++releases; }

  bool loadSucceeds = true;
  std::string picture;
  std::atomic<int> loads{0};
  std::atomic<int> draws{0};
  std::atomic<int> pumps{0};
  std::atomic<int> releases{0};
};

// Attaches a fake display for a scope.
class AttachedDisplay {
public:
  AttachedDisplay() { BlockingScreen::Instance().AttachDisplay(&display); }
  ~AttachedDisplay() { BlockingScreen::Instance().AttachDisplay(nullptr); }
  FakeDisplay display;
};
