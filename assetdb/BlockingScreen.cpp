#include "assetdb/BlockingScreen.h"

BlockingScreen& BlockingScreen::Instance() {
  static BlockingScreen instance;
  return instance;
}

BlockingScreen::BlockingScreen() = default;
BlockingScreen::~BlockingScreen() = default;

void BlockingScreen::AttachDisplay(Display* display) {
  Vak::SingleLock guard(&lock_, true);
  display_ = display;
  // The count belongs to the display it was raised for.
  showCount_ = 0;
  pictureLoaded_ = false;
}

BlockingScreen::Display* BlockingScreen::GetDisplay() {
  Vak::SingleLock guard(&lock_, true);
  return display_;
}

void BlockingScreen::Show() {
  Vak::SingleLock guard(&lock_, true);
  if (!display_) return;
  if (++showCount_ == 1) {
    pictureLoaded_ = display_->LoadPicture(kPictureName);
    if (pictureLoaded_) display_->DrawPicture();
  }
}

void BlockingScreen::Refresh() {
  Vak::SingleLock guard(&lock_, true);
  if (!display_) return;
  if (pictureLoaded_) display_->DrawPicture();
  display_->PumpMessages();
}

void BlockingScreen::Hide() {
  Vak::SingleLock guard(&lock_, true);
  // An unbalanced hide must not drive the count below 0.
  if (!display_ || showCount_ <= 0) return;
  if (--showCount_ == 0 && pictureLoaded_) {
    display_->ReleasePicture();
    pictureLoaded_ = false;
  }
}

int32_t BlockingScreen::ShowCount() {
  Vak::SingleLock guard(&lock_, true);
  return showCount_;
}
