// The modal-window helper of the window tests: a check that fails inside,
// or a window that never comes or is left open, ends in a failure and a
// closed window, never in a test hanging in a modal loop.
#include "toolkit/testing/ModalWait.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

class Probe : public QDialog {
  Q_OBJECT

 public:
  // A Cancel that would ask a question: the helper must not go through it.
  void reject() override { ++rejects; }
  static inline int rejects = 0;
};

int RunFailingCheck() {
  WhenModal<Probe>([](Probe*) { ADD_FAILURE() << "check inside the dialog"; });
  Probe d;
  return d.exec();
}

int RunLeftOpen() {
  WhenModal<Probe>([](Probe*) {}, 50);
  Probe d;
  return d.exec();
}

TEST(ModalWait, AFailedCheckClosesTheWindow) {
  Probe::rejects = 0;
  EXPECT_NONFATAL_FAILURE(RunFailingCheck(), "check inside the dialog");
  EXPECT_EQ(Probe::rejects, 0);
}

TEST(ModalWait, AWindowLeftOpenIsClosedAfterTheTimeout) {
  EXPECT_NONFATAL_FAILURE(RunLeftOpen(), "still open");
}

// A watcher whose window never came, at the end of its test: that test
// fails, and the watcher is gone; a later window is not acted on with the
// ended test's captures.
TEST(ModalWait, AWatcherWaitingWhenItsTestEndsFailsThatTestAndActsNoMore) {
  int acted = 0;
  WhenModal<Probe>([&acted](Probe* d) {
    ++acted;
    d->done(3);
  });
  EXPECT_NONFATAL_FAILURE(modaltest::WatcherBase::EndAll(), "ended before the modal window");
  EXPECT_TRUE(modaltest::WatcherBase::Live().empty());
  Probe d;
  QTimer::singleShot(0, &d, [&d] { d.done(9); });
  EXPECT_EQ(d.exec(), 9);
  EXPECT_EQ(acted, 0);
}

// One that acted and whose window a later step closed ends quietly.
TEST(ModalWait, AWatcherThatActedEndsQuietlyWithItsTest) {
  WhenModal<Probe>([](Probe*) {});
  Probe d;
  QTimer::singleShot(0, &d, [&d] { QTimer::singleShot(0, &d, [&d] { d.done(5); }); });
  EXPECT_EQ(d.exec(), 5);
  modaltest::WatcherBase::EndAll();
  EXPECT_TRUE(modaltest::WatcherBase::Live().empty());
}

TEST(ModalWait, ActsOnTheWindowAndLeavesNoFailure) {
  WhenModal<Probe>([](Probe* d) { d->done(7); });
  Probe d;
  EXPECT_EQ(d.exec(), 7);
}

}  // namespace

#include "ModalWait_test.moc"
