// The modal-window helper of the window tests: a check that fails inside,
// or a window that never comes or is left open, ends in a failure and a
// closed window, never in a test hanging in a modal loop.
#include "toolkit/testing/ModalWait.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>

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

TEST(ModalWait, ActsOnTheWindowAndLeavesNoFailure) {
  WhenModal<Probe>([](Probe* d) { d->done(7); });
  Probe d;
  EXPECT_EQ(d.exec(), 7);
}

}  // namespace

#include "ModalWait_test.moc"
