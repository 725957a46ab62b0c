#include "configurator/fireset.h"
#include "toolkit/testing/ModalWait.h"

#include <gtest/gtest.h>

#include <QFile>
#include "toolkit/ImageDataBaseUnit.h"

#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <functional>
#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

// Runs `act` on the dialog once it is up.
void whenShown(std::function<void(TFrmFire&)> act) {
  WhenModal<TFrmFire>([act](TFrmFire* d) { act(*d); });
}

struct Shown {
  int fire = -1, delay = -1;
};

TEST(FireKeyDialog, OkReturnsTheBoxesWithinTheirLimits) {
  struct Case {
    uint16_t loop, delay;
    int shownFire, shownDelay;
  } cases[] = {
      {0, 77, 2, 60},      // no count yet: the usual 2 and 60, whatever the delay
      {0, 0, 2, 60},
      {3, 0, 3, 1},        // the delay box keeps its minimum
      {300, 500, 255, 255},
      {1, 255, 1, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.loop << "/" << c.delay);
    TFIREKEYINFO info{c.loop, c.delay};
    Shown shown;
    whenShown([&](TFrmFire& d) {
      shown = {d.NumBoxFire->value(), d.NumboxDelay->value()};
      EXPECT_EQ(d.size(), QSize(478, 292));
      EXPECT_TRUE(d.FCreateByOther);
      d.BTNOK->click();
    });
    EXPECT_EQ(ShowFireKeyDialog(info), 1);
    EXPECT_EQ(shown.fire, c.shownFire);
    EXPECT_EQ(shown.delay, c.shownDelay);
    EXPECT_EQ(info.nLoopCount, c.shownFire);
    EXPECT_EQ(info.DelyValue, c.shownDelay);
  }
}

TEST(FireKeyDialog, CancelAndOtherEndingsReturnTwoAndTheValuesAsTheyCame) {
  const std::function<void(TFrmFire&)> endings[] = {
      [](TFrmFire& d) { d.BTNCANCEL->click(); },
      [](TFrmFire& d) { d.reject(); },  // Escape
      [](TFrmFire& d) { d.done(0); },   // a loop ended from outside
  };
  for (const auto& end : endings) {
    TFIREKEYINFO info{7, 40};
    whenShown([&](TFrmFire& d) {
      d.NumBoxFire->setValue(99);
      end(d);
    });
    EXPECT_EQ(ShowFireKeyDialog(info), 2);
    EXPECT_EQ(info.nLoopCount, 7);
    EXPECT_EQ(info.DelyValue, 40);
  }
}

}  // namespace
