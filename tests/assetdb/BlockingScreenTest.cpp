#include "assetdb/BlockingScreen.h"

#include <gtest/gtest.h>

#include "tests/assetdb/FakeDisplay.h"

namespace {

TEST(BlockingScreen, WithoutDisplayEveryOperationLeavesItUnchanged) {
  BlockingScreen& screen = BlockingScreen::Instance();
  ASSERT_EQ(screen.GetDisplay(), nullptr);
  screen.Show();
  screen.Refresh();
  screen.Show();
  EXPECT_EQ(screen.ShowCount(), 0);
  screen.Hide();
  screen.Hide();
  EXPECT_EQ(screen.ShowCount(), 0);
  EXPECT_STREQ(screen.PictureName(), "BlockingScreen.jpg");
}

TEST(BlockingScreen, ShowsOnceRefreshesAndReleasesAtTheLastHide) {
  AttachedDisplay attached;
  FakeDisplay& display = attached.display;
  BlockingScreen& screen = BlockingScreen::Instance();

  screen.Show();
  screen.Show();
  EXPECT_EQ(screen.ShowCount(), 2);
  EXPECT_EQ(display.loads, 1);
  EXPECT_EQ(display.picture, "BlockingScreen.jpg");
  EXPECT_EQ(display.draws, 1);

  screen.Refresh();
  EXPECT_EQ(display.draws, 2);
  EXPECT_EQ(display.pumps, 1);

  screen.Hide();
  EXPECT_EQ(screen.ShowCount(), 1);
  EXPECT_EQ(display.releases, 0);
  screen.Hide();
  EXPECT_EQ(screen.ShowCount(), 0);
  EXPECT_EQ(display.releases, 1);

  // An unbalanced hide neither goes below 0 nor releases twice.
  screen.Hide();
  EXPECT_EQ(screen.ShowCount(), 0);
  EXPECT_EQ(display.releases, 1);

  // Shown again after the last hide: the picture is loaded again.
  screen.Show();
  EXPECT_EQ(display.loads, 2);
  screen.Hide();
  EXPECT_EQ(display.releases, 2);
}

TEST(BlockingScreen, PictureThatFailsToLoadIsNeitherDrawnNorReleased) {
  AttachedDisplay attached;
  FakeDisplay& display = attached.display;
  display.loadSucceeds = false;
  BlockingScreen& screen = BlockingScreen::Instance();

  screen.Show();
  EXPECT_EQ(screen.ShowCount(), 1);
  EXPECT_EQ(display.draws, 0);
  screen.Refresh();
  EXPECT_EQ(display.draws, 0);
  EXPECT_EQ(display.pumps, 1);  // the queue keeps moving all the same
  screen.Hide();
  EXPECT_EQ(screen.ShowCount(), 0);
  EXPECT_EQ(display.releases, 0);
}

} // namespace
