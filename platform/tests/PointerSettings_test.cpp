#include "platform/PointerSettings.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QStyleHints>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

#include <X11/Xlib.h>

namespace {

TEST(PointerMapping, CoreControlTable) {
  struct Case {
    int speed, row;
    platform::CorePointerControl want;
  } cases[] = {
      {10, 0, {1, 1, 1}},    // unchanged speed, no acceleration
      {1, 0, {1, 32, 1}},    // slowest: 1/32
      {15, 0, {9, 4, 1}},    // 72/32
      {20, 1, {7, 1, 7}},    // 112/32 doubled beyond 7
      {3, 1, {1, 4, 7}},     // 4/32 doubled
      {10, 2, {2, 1, 4}},    // row 2: first step only, beyond 4
      {6, 3, {1, 1, 4}},     // 16/32 doubled
      {0, 0, {1, 1, 1}},     // out of range: as speed 10
      {10, 9, {1, 1, 1}},    // out of range: as row 0
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::corePointerControl(c.speed, c.row), c.want) << "speed " << c.speed << " row " << c.row;
}

TEST(PointerMapping, LibinputTable) {
  struct Case {
    int speed;
    double want;
  } cases[] = {{1, -1.0}, {5, -5.0 / 9}, {10, 0.0}, {11, 0.1}, {15, 0.5}, {20, 1.0}, {-3, -1.0}, {99, 1.0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(platform::libinputAccelSpeed(c.speed), c.want) << c.speed;
  EXPECT_FALSE(platform::libinputAdaptiveProfile(0));
  EXPECT_TRUE(platform::libinputAdaptiveProfile(1));
  EXPECT_TRUE(platform::libinputAdaptiveProfile(2));
  EXPECT_TRUE(platform::libinputAdaptiveProfile(3));
  EXPECT_FALSE(platform::libinputAdaptiveProfile(4));
}

// Under a real X server (Xvfb has no libinput devices, so the core control
// is what changes), read back what the server took.
TEST(PointerSettingsX11, CoreControlReadBack) {
  const char* display = std::getenv("TEST_X_DISPLAY");
  if (!display || !*display) {
    if (std::getenv("CI")) FAIL() << "TEST_X_DISPLAY is not set under CI";
    GTEST_SKIP() << "no TEST_X_DISPLAY";
  }
  Display* dpy = XOpenDisplay(display);
  ASSERT_NE(dpy, nullptr) << display;
  auto settings = platform::createX11PointerSettings(display);
  struct Step {
    int speed, row, num, den, threshold;
  } steps[] = {{20, 1, 7, 1, 7}, {15, 0, 9, 4, 1}, {3, 2, 1, 4, 4}};
  // Run from a worker thread, as Apply does.
  for (const auto& s : steps) {
    std::thread([&] {
      settings->setAcceleration(s.row);
      settings->setPointerSpeed(s.speed);
    }).join();
    int num = 0, den = 0, threshold = 0;
    XGetPointerControl(dpy, &num, &den, &threshold);
    EXPECT_EQ(num, s.num) << s.speed << "/" << s.row;
    EXPECT_EQ(den, s.den) << s.speed << "/" << s.row;
    EXPECT_EQ(threshold, s.threshold) << s.speed << "/" << s.row;
  }
  // Out of range: nothing changes on the server.
  settings->setPointerSpeed(0);
  settings->setAcceleration(7);
  int num = 0, den = 0, threshold = 0;
  XGetPointerControl(dpy, &num, &den, &threshold);
  EXPECT_EQ(num, 1);
  EXPECT_EQ(den, 4);
  EXPECT_EQ(threshold, 4);
  XChangePointerControl(dpy, True, True, 2, 1, 4);  // the server's default
  XCloseDisplay(dpy);
}

class PointerSettingsLocal : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::unsetenv("DISPLAY");
    app_ = new QGuiApplication(argc_, argv_);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }
  static inline int argc_ = 1;
  static inline char arg0_[8] = "test";
  static inline char* argv_[2] = {arg0_, nullptr};
  static inline QGuiApplication* app_ = nullptr;
};

TEST_F(PointerSettingsLocal, WithoutDisplayOnlyOurProcessChanges) {
  auto settings = platform::createPointerSettings();
  settings->setPointerSpeed(15);  // says once that the desktop is left alone
  settings->setAcceleration(1);
  QStyleHints* hints = QGuiApplication::styleHints();
  settings->setWheelScrollLines(7);  // on the GUI thread: at once
  EXPECT_EQ(hints->wheelScrollLines(), 7);
  settings->setDoubleClickTime(640);
  EXPECT_EQ(hints->mouseDoubleClickInterval(), 640);
  settings->setWheelScrollLines(0);
  settings->setDoubleClickTime(-5);
  EXPECT_EQ(hints->wheelScrollLines(), 7);
  EXPECT_EQ(hints->mouseDoubleClickInterval(), 640);
}

TEST_F(PointerSettingsLocal, FromAWorkerItIsQueuedToTheGuiThread) {
  auto settings = platform::createNoDesktopPointerSettings();
  QStyleHints* hints = QGuiApplication::styleHints();
  settings->setWheelScrollLines(3);
  QSignalSpy lines(hints, &QStyleHints::wheelScrollLinesChanged);
  std::thread([&] {
    settings->setWheelScrollLines(20);
    settings->setDoubleClickTime(300);
  }).join();
  // Nothing may change off the GUI thread: the values wait for the loop.
  EXPECT_EQ(hints->wheelScrollLines(), 3);
  ASSERT_TRUE(lines.wait(20000));
  EXPECT_EQ(hints->wheelScrollLines(), 20);
  QCoreApplication::processEvents();
  EXPECT_EQ(hints->mouseDoubleClickInterval(), 300);
}

TEST(RecordingPointerSettings, RecordsInOrder) {
  platform::RecordingPointerSettings fake;
  fake.setAcceleration(1);
  fake.setPointerSpeed(12);
  fake.setWheelScrollLines(20);
  fake.setDoubleClickTime(500);
  using W = platform::RecordingPointerSettings::What;
  const std::vector<platform::RecordingPointerSettings::Call> want = {
      {W::Acceleration, 1}, {W::Speed, 12}, {W::WheelLines, 20}, {W::DoubleClick, 500}};
  EXPECT_EQ(fake.calls(), want);
}

}  // namespace
