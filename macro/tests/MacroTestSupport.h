#pragma once
// Shared pieces of the macro window tests: one QApplication per run with
// every user folder pointed at a temporary folder, and a hook source fake
// that records what the windows ask of it and lets a test raise its events.

#include "toolkit/testing/ModalWait.h"
#include "macro/HookSource.h"
#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    home_ = new QTemporaryDir;
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "MOUSE_RUNTIME_DIR"})
      qputenv(var, home_->path().toUtf8());
    app_ = new QApplication(argc_, argv_);
    // The rendered skin when the build made it; the plain look otherwise.
    ImageDataBase().SetImageBasePath(QStringLiteral(MOUSE_PROGRAM_DIR "/Images/0409/"));
  }
  void TearDown() override {
    delete app_;
    delete home_;
  }

 private:
  int argc_ = 1;
  char name_[8] = "test";
  char* argv_[2] = {name_, nullptr};
  QApplication* app_ = nullptr;
  QTemporaryDir* home_ = nullptr;
};

// Records the calls; tests raise the events through the public handlers.
class FakeHookSource : public THookSource {
 public:
  std::vector<std::string>* calls;
  TMacroKeyHookList captured;  // what the next macro stop reports

  explicit FakeHookSource(std::vector<std::string>* log) : calls(log) {}
  ~FakeHookSource() override { calls->push_back("destroyed"); }
  bool DLLLoaded() const override { return true; }
  void RecordKeyboardSingleKey() override { calls->push_back("RecordSingle"); }
  void StopRecordKeyboardSingleKey() override { calls->push_back("StopSingle"); }
  void RecordKeyboardComboKey() override { calls->push_back("RecordCombo"); }
  void StopRecordKeyboardComboKey() override { calls->push_back("StopCombo"); }
  void RecordKeyboardMacroKeyEx() override {
    calls->push_back("RecordMacroEx");
    captured.clear();
  }
  void StopRecordKeyboardMacroKeyEx() override {
    calls->push_back("StopMacroEx");
    if (OnStopRecordKeyboardMacroKey) OnStopRecordKeyboardMacroKey(captured);
    captured.clear();
  }

  // A recorded key event as the hook delivers it: a delay entry first when
  // time passed, then the key entry and its event.
  void Key(int vk, int state, uint32_t gap, int extended = 0, const std::string& text = "K") {
    if (gap > 0) captured.push_back({0, 0, static_cast<uint16_t>(std::min<uint32_t>(gap, 65535)), 0});
    captured.push_back({1, static_cast<uint16_t>(state), static_cast<uint16_t>(vk), static_cast<uint16_t>(extended)});
    if (OnRecordKeyboardMacroKeyEx)
      OnRecordKeyboardMacroKeyEx(1, vk, state, extended, 0, gap, text, state ? "Down" : "Up", captured);
  }
};

// Installs the fake for every window made while it lives; `last` is the
// most recent one.
class FakeHookFactory {
 public:
  std::vector<std::string> calls;
  FakeHookSource* last = nullptr;

  FakeHookFactory() {
    SetHookSourceFactory([this](QObject*) {
      auto fake = std::make_unique<FakeHookSource>(&calls);
      last = fake.get();
      return fake;
    });
  }
  ~FakeHookFactory() { SetHookSourceFactory({}); }
};

