#pragma once
// The full-screen wait picture that long waits of the main thread show. It
// draws only through an attached display; the console program attaches none,
// so there every operation leaves everything as it was.
#include <cstdint>

#include "Vak/Bexlorn/Sync.h"

class BlockingScreen {
public:
  // What a display does for the screen. Called on the waiting (main) thread.
  class Display {
  public:
    virtual ~Display() = default;
    // First show: loads the named picture; false when it cannot be loaded
    // (the screen then stays blank).
    virtual bool LoadPicture(const char* name) = 0;
    // Draws the loaded picture centred over the whole target.
    virtual void DrawPicture() = 0;
    // Drains the thread's message queue, dropping keyboard and mouse input.
    virtual void PumpMessages() = 0;
    // The last hide: frees what LoadPicture took.
    virtual void ReleasePicture() = 0;
  };

  static constexpr const char* kPictureName = "BlockingScreen.jpg";

  // Built on first use, destroyed at exit.
  static BlockingScreen& Instance();

  virtual ~BlockingScreen();
  BlockingScreen(const BlockingScreen&) = delete;
  BlockingScreen& operator=(const BlockingScreen&) = delete;

  // Null detaches. The caller keeps ownership; a display detached while shown
  // is not asked to release anything.
  void AttachDisplay(Display* display);
  Display* GetDisplay();

  void Show();
  void Refresh();
  void Hide();

  int32_t ShowCount();
  const char* PictureName() const { return kPictureName; }

private:
  BlockingScreen();

  Vak::CriticalSection lock_{"BlockingScreen"};
  Display* display_ = nullptr;  // under the lock
  int32_t showCount_ = 0;       // under the lock
  bool pictureLoaded_ = false;  // under the lock
};
