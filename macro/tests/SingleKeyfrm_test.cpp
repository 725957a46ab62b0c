#include "macro/SingleKeyfrm.h"
#include "macro/combofrm.h"
#include "macro/dlgLeaveMacroWithErrors.h"

#include "macro/tests/MacroTestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

// The key capture dialogs share their frame and rules; the combo dialog and
// the leave-with-errors question are covered here as well.

namespace {

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

constexpr int VK_SHIFT_L = 0xA0, VK_A = 0x41, VK_DELETE = 0x2E;

TEST(SingleKey, LastEventWinsAndCancelStillCopiesBack) {
  FakeHookFactory hooks;
  TSINGLEKEYINFO key{VK_A, 0};
  WhenModal<TFrmSingleKey>([&](TFrmSingleKey* d) {
    EXPECT_EQ(hooks.calls.back(), "RecordSingle");
    bool blocked = false;
    d->uiHook->OnRecordKeyboardSingleKey(VK_SHIFT_L, 0x2A, 1, 0, "Shift", blocked);
    d->uiHook->OnRecordKeyboardSingleKey(VK_A, 0x1E, 1, 0, "A", blocked);
    d->uiHook->OnRecordKeyboardSingleKey(VK_A, 0x1E, 0, 0, "A", blocked);
    d->uiHook->OnRecordKeyboardSingleKey(VK_SHIFT_L, 0x2A, 0, 0, "Shift", blocked);
    EXPECT_FALSE(blocked);  // nothing is swallowed
    EXPECT_EQ(d->TextSingle->text(), "Shift");
    // Enter and Escape are keys here, not shortcuts.
    QTest::keyClick(d, Qt::Key_Escape);
    QTest::keyClick(d, Qt::Key_Return);
    EXPECT_TRUE(d->isVisible());
    d->Button2->click();
  });
  EXPECT_EQ(ShowSingleKeyDialog(key), 2);
  EXPECT_EQ(key.nKeyValue1, VK_SHIFT_L);
  EXPECT_EQ(key.nKey1Extended, 0);
  // Stopped before the source went away.
  ASSERT_GE(hooks.calls.size(), 3u);
  EXPECT_EQ(hooks.calls[hooks.calls.size() - 2], "StopSingle");
  EXPECT_EQ(hooks.calls.back(), "destroyed");
}

TEST(SingleKey, StoredValueShownAndReturnedWithoutCapture) {
  FakeHookFactory hooks;
  TSINGLEKEYINFO key{VK_DELETE, 1};
  WhenModal<TFrmSingleKey>([](TFrmSingleKey* d) {
    EXPECT_FALSE(d->TextSingle->text().isEmpty());
    d->Button1->click();
  });
  EXPECT_EQ(ShowSingleKeyDialog(key), 1);
  EXPECT_EQ(key.nKeyValue1, VK_DELETE);
  EXPECT_EQ(key.nKey1Extended, 1);
}

TEST(SingleKey, ClosingByTheWindowStopsTheHook) {
  FakeHookFactory hooks;
  {
    TFrmSingleKey d;
    d.show();
    d.close();
    EXPECT_EQ(hooks.calls.back(), "StopSingle");
  }
  {
    auto* d = new TFrmSingleKey;
    d->show();
    delete d;  // the destructor stops it as well
  }
  EXPECT_EQ(hooks.calls[hooks.calls.size() - 2], "StopSingle");
}

TEST(ComboKey, StoredTextsAndCapture) {
  FakeHookFactory hooks;
  TFrmCombo d;
  d.FComboKey = {VK_A, 0, 0x42, 0, 2 | 4};
  d.ShowComboKeyText();
  EXPECT_EQ(d.TextCombo->text(), "Ctrl+Shift+A+B");
  // A second key without a first: "+" and the second key after what is there.
  TFrmCombo e;
  e.FComboKey = {0, 0, 0x42, 0, 0};
  e.ShowComboKeyText();
  EXPECT_EQ(e.TextCombo->text(), "+B");

  d.show();
  EXPECT_EQ(hooks.calls.back(), "RecordCombo");
  d.uiHook->OnRecordKeyboardComboKey(VK_A, 0, VK_DELETE, 1, 8, "Win+A+Delete");
  EXPECT_EQ(d.TextCombo->text(), "Win+A+Delete");
  EXPECT_EQ(d.FComboKey.nKeyValue2, VK_DELETE);
  EXPECT_EQ(d.FComboKey.nKey2Extended, 1);
  EXPECT_EQ(d.FComboKey.nModifier, 8);
  d.BTNOK->click();
  EXPECT_EQ(d.result(), 1);
  EXPECT_EQ(hooks.calls.back(), "StopCombo");
}

TEST(ComboKey, ZeroRecordShowsNothingAndReturnsZero) {
  FakeHookFactory hooks;
  TCOMBOKEYINFO key{};
  WhenModal<TFrmCombo>([](TFrmCombo* d) {
    EXPECT_TRUE(d->TextCombo->text().isEmpty());
    d->BTNOK->click();
  });
  EXPECT_EQ(ShowComboKeyDialog(key), 1);
  EXPECT_EQ(key.nKeyValue1 | key.nKeyValue2 | key.nModifier, 0);
}

TEST(LeaveWithErrors, ResultsOfEveryWayOfClosing) {
  for (const char* name : {"Button1", "Button2", "BitmapStateButton1", ""}) {
    WhenModal<TDlgLeaveMacroWithErrorsForm>([name](TDlgLeaveMacroWithErrorsForm* d) {
      EXPECT_FALSE(d->LabelTitle->isVisible());
      if (*name) d->findChild<QAbstractButton*>(name)->click();
      else d->close();
    });
    EXPECT_EQ(ShowLeaveMacroWithErrorsDialog("t", "x", "y"), std::string(name) == "Button1" ? 1 : 2) << name;
  }
}

}  // namespace
