// The macro manager end to end, offscreen, with the real hook: the real
// libuiHook.so (loaded by TuiHook from the program folder) fed by a real
// `mouse-emulator` through its input endpoint. Create a macro, record keys
// sent with chosen time stamps, stop, OK; then the returned list and the
// .macro file.
//
// The hook's swallow decision is made on the GUI thread, and a control call
// returns only once the hooks have decided: the keys are sent from a helper
// thread while this (the GUI) thread keeps its event loop running.

#include "macro/macrofrm.h"

#include "emulator/testing/EmulatorProcess.h"
#include "macro/macrocreat.h"
#include "macro/tests/MacroTestSupport.h"
#include "macro/uiHook.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using emulator::testing::EmulatorProcess;

constexpr uint8_t VK_A = 0x41, VK_B = 0x42;

struct Sent {
  uint32_t vk;
  bool down;
  uint32_t time;
};

// A down at 1000, A up at 1100, B down at 1300, B up at 1350.
const std::vector<Sent> kKeys = {
    {VK_A, true, 1000}, {VK_A, false, 1100}, {VK_B, true, 1300}, {VK_B, false, 1350}};

class MacroRecording : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only the emulated desk: a display would add the X11 source.
    ::unsetenv("DISPLAY");
    ASSERT_TRUE(dir_.isValid());
    list_ = NewZeroImage<TMACROKEYINFOLIST>();
    SetMessageDialogAnswer([this](const QString& title, const QString& text, const QString&) {
      messages_.push_back(title + "|" + text);
      return 1;
    });
    TuiHook::SetErrorReporter([this](const std::string& title, const std::string& text) {
      messages_.push_back(QString::fromStdString(title + "|" + text));
    });
    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    mouse_.exportEnvironment();
    TuiHook::SetLibraryPath(MOUSE_PROGRAM_DIR "/libuiHook.so");
    SetHookSourceFactory(TuiHook::Factory());
  }
  void TearDown() override {
    SetHookSourceFactory({});
    TuiHook::SetLibraryPath({});
    TuiHook::SetErrorReporter({});
    SetMessageDialogAnswer({});
    ::unsetenv("MOUSE_EMULATOR");
  }

  // Sends the keys from a helper thread while this thread serves the hook's
  // deliveries; what each control call returned (swallowed or not).
  std::vector<std::optional<bool>> sendKeys() {
    std::vector<std::optional<bool>> results;
    QEventLoop loop;
    std::thread sender([&] {
      for (const Sent& k : kKeys) results.push_back(mouse_.key(k.vk, k.down, k.time));
      QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    sender.join();
    return results;
  }

  // Opens the manager on an empty list, creates "Macro1", records the keys
  // with the "record delays" option as given (left as the new macro has it
  // when not given), stops and presses OK. Returns the manager's result.
  int recordAndKeep(std::optional<bool> recordDelays, bool& defaultOption) {
    int index = -1;
    bool needUpdate = true;
    WhenModal<TFrmMacro>([&](TFrmMacro* f) {
      ASSERT_EQ(f->FMacroClass->MacroListCount(), 0);
      WhenModal<TFrmCreat>([](TFrmCreat* c) {
        c->TextboxMacroName->setText("Macro1");
        c->BTNOK->click();
      });
      f->BSBTNNEWMACRO->click();
      ASSERT_EQ(f->FMacroClass->MacroListCount(), 1);
      ASSERT_EQ(f->ListBoxMacroList->currentRow(), 0);
      EXPECT_EQ(f->TextBoxSelectedMacroName->text(), "Macro1");
      defaultOption = f->BtnAutoDelay->isChecked();
      if (recordDelays) f->BtnAutoDelay->setChecked(*recordDelays);

      auto* start = f->findChild<QAbstractButton*>("BtnMacroStart");
      ASSERT_NE(start, nullptr);
      start->click();
      ASSERT_TRUE(f->MacroRecording());
      ASSERT_TRUE(mouse_.awaitHooks(true, false)) << mouse_.lastError();

      const auto results = sendKeys();
      ASSERT_EQ(results.size(), kKeys.size());
      for (size_t i = 0; i < results.size(); ++i) {
        ASSERT_TRUE(results[i].has_value()) << "key " << i << ": " << mouse_.lastError();
        // Recording swallows what it records: nothing reaches applications.
        EXPECT_TRUE(*results[i]) << "key " << i;
      }
      EXPECT_TRUE(mouse_.inputLog().empty());

      f->BtnMacroStop->click();
      EXPECT_FALSE(f->MacroRecording());
      f->BtnOK->click();
    });
    const int result = ShowMacroManager(*list_, index, dir_.path(), needUpdate);
    EXPECT_FALSE(needUpdate);
    EXPECT_EQ(index, 0);
    return result;
  }

  static TMACROKEY key(uint8_t vk, bool down) {
    return {kMacroStepKeyboard, static_cast<uint16_t>(down ? 1 : 0), vk, 0};
  }
  static TMACROKEY delay(uint16_t ms) {
    return {kMacroStepDelay, 0, static_cast<uint8_t>(ms & 0xFF), static_cast<uint8_t>(ms >> 8)};
  }

  static std::vector<std::vector<int>> fields(const TMACROKEYINFO& m) {
    std::vector<std::vector<int>> out;
    for (int i = 0; i < m.MacroListCount; ++i)
      out.push_back({m.MacroList[i].nKeyType, m.MacroList[i].nKeyState, m.MacroList[i].VALUE1, m.MacroList[i].VALUE2});
    return out;
  }
  static std::vector<std::vector<int>> stepFields(const std::vector<TMACROKEY>& steps) {
    std::vector<std::vector<int>> out;
    for (const TMACROKEY& s : steps) out.push_back({s.nKeyType, s.nKeyState, s.VALUE1, s.VALUE2});
    return out;
  }

  // The 892-byte file of "Macro1": the steps, the count, the option, the
  // name at 780 and Version 0 at 880.
  void expectFile(const QByteArray& steps, int32_t count, uint16_t autoDelay) {
    QFile file(dir_.filePath("Macro1.macro"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 892);
    EXPECT_EQ(bytes.left(steps.size()), steps);
    EXPECT_EQ(bytes.mid(steps.size(), 768 - steps.size()), QByteArray(768 - steps.size(), '\0'));
    EXPECT_EQ(bytes.mid(768, 4), QByteArray(reinterpret_cast<const char*>(&count), 4));
    EXPECT_EQ(bytes.mid(772, 2), QByteArray(reinterpret_cast<const char*>(&autoDelay), 2));
    EXPECT_EQ(bytes.mid(780, 14), QByteArray("M\0a\0c\0r\0o\0" "1\0\0\0", 14));
    EXPECT_EQ(bytes.mid(880, 4), QByteArray("\0\0\0\0", 4));  // made in the manager: Version 0
  }

  QTemporaryDir dir_;
  std::unique_ptr<TMACROKEYINFOLIST> list_;
  std::vector<QString> messages_;
  EmulatorProcess mouse_;
};

TEST_F(MacroRecording, DefaultOptionRecordsTheKeysWithoutDelays) {
  bool defaultOption = true;
  ASSERT_EQ(recordAndKeep(std::nullopt, defaultOption), 1);
  // A new macro holds no auto-delay flag, and the option follows it.
  EXPECT_FALSE(defaultOption);
  EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();

  ASSERT_EQ(list_->nMacroInfoCount, 1);
  const TMACROKEYINFO& m = list_->MacroInfos[0];
  EXPECT_EQ(fields(m), stepFields({key(VK_A, true), key(VK_A, false), key(VK_B, true), key(VK_B, false)}));
  EXPECT_EQ(m.nAutoAddDelay, 0);
  EXPECT_EQ(m.Version, 0u);
  EXPECT_EQ(QString::fromUtf16(m.szMacroName), "Macro1");

  expectFile(QByteArray("\x04\0\x01\0\x41\0"
                        "\x04\0\x00\0\x41\0"
                        "\x04\0\x01\0\x42\0"
                        "\x04\0\x00\0\x42\0",
                        24),
             4, 0);
}

TEST_F(MacroRecording, RecordDelaysOnGivesTheGapsBetweenTheKeys) {
  bool defaultOption = true;
  ASSERT_EQ(recordAndKeep(true, defaultOption), 1);
  EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();

  ASSERT_EQ(list_->nMacroInfoCount, 1);
  const TMACROKEYINFO& m = list_->MacroInfos[0];
  EXPECT_EQ(fields(m), stepFields({key(VK_A, true), delay(100), key(VK_A, false), delay(200), key(VK_B, true),
                               delay(50), key(VK_B, false)}));
  EXPECT_EQ(m.nAutoAddDelay, 1);
  EXPECT_EQ(m.Version, 0u);

  expectFile(QByteArray("\x04\0\x01\0\x41\0"
                        "\x06\0\x00\0\x64\0"
                        "\x04\0\x00\0\x41\0"
                        "\x06\0\x00\0\xC8\0"
                        "\x04\0\x01\0\x42\0"
                        "\x06\0\x00\0\x32\0"
                        "\x04\0\x00\0\x42\0",
                        42),
             7, 1);
}

}  // namespace
