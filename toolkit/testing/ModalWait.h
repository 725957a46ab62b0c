#pragma once
// Driving modal windows from a test. A test that opens a modal window runs
// inside that window's event loop; when the window never comes, or a check
// inside fails before the window is closed, the test would sit in the loop
// until ctest kills it. WhenModal fails the test instead and closes the
// window, so the run goes on and names the check that failed.
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace modaltest {

// Ends a modal window without any question it might ask on Cancel.
inline void ForceClose(QWidget* w) {
  if (!w) return;
  if (auto* d = qobject_cast<QDialog*>(w))
    d->QDialog::done(QDialog::Rejected);
  else
    w->close();
}

// Closes every modal window that is up (innermost first).
inline void CloseAllModal() {
  for (int guard = 0; guard < 16; ++guard) {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) return;
    ForceClose(w);
    if (QApplication::activeModalWidget() == w) w->hide();
  }
}

constexpr int kDefaultTimeoutMs = 10000;

// What every watcher shares: the list of those alive, which the end of the
// test that made them empties. A watcher must never outlive its test: it
// would act on a later test's window with the ended test's captures.
class WatcherBase : public QObject {
 public:
  WatcherBase() {
    Live().push_back(this);
    InstallEndOfTestListener();
  }
  ~WatcherBase() override { std::erase(Live(), this); }

  // The test that made it ends: a watcher still waiting fails that test,
  // closes what it holds open and is gone before the next test starts.
  virtual void EndWithTest() = 0;

  static std::vector<WatcherBase*>& Live() {
    static std::vector<WatcherBase*> live;
    return live;
  }

 protected:
  bool finished_ = false;  // done; deleteLater() is on its way

 private:
  class EndOfTest : public ::testing::EmptyTestEventListener {
    // Called before GoogleTest prints the test's result: a failure added
    // here is that test's.
    void OnTestEnd(const ::testing::TestInfo&) override { EndAll(); }
  };
  static void InstallEndOfTestListener() {
    static const bool installed = [] {
      ::testing::UnitTest::GetInstance()->listeners().Append(new EndOfTest);
      return true;
    }();
    (void)installed;
  }

 public:
  static void EndAll() {
    const std::vector<WatcherBase*> live = Live();
    for (WatcherBase* w : live) {
      if (!w->finished_) w->EndWithTest();
      delete w;
    }
  }
};

// Watches for the first window of type T to be shown, then runs `act` on it
// from its own event loop.
template <class T>
class Watcher : public WatcherBase {
 public:
  Watcher(std::function<void(T*)> act, int timeoutMs) : act_(std::move(act)), timeoutMs_(timeoutMs) {
    qApp->installEventFilter(this);
    deadline_.setSingleShot(true);
    deadline_.callOnTimeout([this] { Expired(); });
    deadline_.start(timeoutMs_);
  }
  ~Watcher() override {
    if (qApp) qApp->removeEventFilter(this);
  }

  void EndWithTest() override {
    deadline_.stop();
    if (qApp) qApp->removeEventFilter(this);
    finished_ = true;
    if (!started_) {
      ADD_FAILURE() << "the test ended before the modal window it waited for came up";
    } else if (window_ && window_->isVisible()) {
      ADD_FAILURE() << "the test ended with the modal window it acted on still open";
      ForceClose(window_);
    }
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!started_ && event->type() == QEvent::Show && watched->isWidgetType()) {
      if (T* w = qobject_cast<T*>(watched); w && w->isWindow()) {
        started_ = true;
        qApp->removeEventFilter(this);
        window_ = w;
        // Inside the window's own loop, once it is up.
        QTimer::singleShot(0, this, [this] { Run(); });
      }
    }
    return false;
  }

 private:
  void Run() {
    deadline_.stop();
    if (!window_) {
      ADD_FAILURE() << "the modal window closed before the test could act on it";
      Finish();
      return;
    }
    // The checks inside are caught here first, so that a failure is known
    // even where an enclosing expectation intercepts it, then passed on.
    ::testing::TestPartResultArray results;
    {
      ::testing::ScopedFakeTestPartResultReporter intercept(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      act_(window_.data());
    }
    bool failed = false;
    for (int i = 0; i < results.size(); ++i) {
      const ::testing::TestPartResult& r = results.GetTestPartResult(i);
      if (!r.failed()) continue;
      failed = true;
      ADD_FAILURE_AT(r.file_name() ? r.file_name() : "?", r.line_number()) << r.message();
    }
    if (window_ && window_->isVisible()) {
      if (failed) {
        ForceClose(window_);
        Finish();
        return;
      }
      // Left open on purpose (closed by a later step); but not for ever.
      deadline_.start(timeoutMs_);
      return;
    }
    Finish();
  }
  void Expired() {
    if (!started_)
      ADD_FAILURE() << "no modal window of the expected type came up within " << timeoutMs_ << " ms";
    else if (window_ && window_->isVisible())
      ADD_FAILURE() << "the modal window was still open " << timeoutMs_ << " ms after the test acted on it";
    qApp->removeEventFilter(this);
    if (started_)
      ForceClose(window_);
    else
      CloseAllModal();
    Finish();
  }
  void Finish() {
    finished_ = true;
    deadline_.stop();
    deleteLater();
  }

  std::function<void(T*)> act_;
  int timeoutMs_;
  bool started_ = false;
  QPointer<T> window_;
  QTimer deadline_;
};

}  // namespace modaltest

// Runs `act` on the next window of type T once it is up in its modal loop.
// Fails the test and closes the window when none comes within `timeoutMs`,
// when a check inside `act` fails, or when `act` leaves it open that long.
// The watcher lives no longer than the test: one still waiting when the test
// ends fails it and is removed, and never acts in a later test.
template <class T>
void WhenModal(std::function<void(T*)> act, int timeoutMs = modaltest::kDefaultTimeoutMs) {
  new modaltest::Watcher<T>(std::move(act), timeoutMs);
}
