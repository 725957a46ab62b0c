#include "macro/macrofrm.h"

#include "macro/macrocreat.h"
#include "macro/tests/MacroTestSupport.h"
#include "toolkit/uiMenuEx.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QTest>

namespace {

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

constexpr int VK_V = 0x56, VK_DELETE = 0x2E, VK_A = 0x41, VK_B = 0x42;

TMACROKEYINFO macroOf(const char16_t* name, std::vector<TMACROKEY> steps = {}, uint16_t autoDelay = 1) {
  TMACROKEYINFO info;
  ZeroImage(info);
  WriteText(info.szMacroName, name);
  for (size_t i = 0; i < steps.size(); ++i) info.MacroList[i] = steps[i];
  info.MacroListCount = static_cast<int32_t>(steps.size());
  info.nAutoAddDelay = autoDelay;
  return info;
}

class MacroManager : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    list_ = NewZeroImage<TMACROKEYINFOLIST>();
    SetMessageDialogAnswer([this](const QString& title, const QString& text, const QString&) {
      messages_.push_back(title + "|" + text);
      return answer_;
    });
  }
  void TearDown() override { SetMessageDialogAnswer({}); }

  void add(const TMACROKEYINFO& info) { list_->MacroInfos[list_->nMacroInfoCount++] = info; }

  // A window loaded as the launcher loads it.
  std::unique_ptr<TFrmMacro> open(int index = 0) {
    auto form = std::make_unique<TFrmMacro>();
    form->FMacroClass->SetMacroKeyInfoList(*list_);
    form->FMacroClass->SetMacroListIndex(index);
    form->FMacroPath = dir_.path();
    form->FillMacroList();
    return form;
  }

  static std::vector<TMACROKEY> steps(TFrmMacro& f) {
    TMACROKEYINFO info;
    EXPECT_TRUE(f.FMacroClass->GetCurrentMacroKeyItem(info));
    return std::vector<TMACROKEY>(info.MacroList, info.MacroList + info.MacroListCount);
  }

  QTemporaryDir dir_;
  std::unique_ptr<TMACROKEYINFOLIST> list_;
  FakeHookFactory hooks_;
  std::vector<QString> messages_;
  int answer_ = 1;
};

TEST_F(MacroManager, EndToEndCreateRecordStopOk) {
  int index = 5;
  bool needUpdate = true;
  WhenModal<TFrmMacro>([this](TFrmMacro* f) {
    EXPECT_EQ(f->FMacroClass->MacroListIndex(), -1);
    // New: the create-macro dialog writes its file; the manager adds the macro.
    WhenModal<TFrmCreat>([](TFrmCreat* c) {
      c->TextboxMacroName->setText("Macro1");
      c->BTNOK->click();
    });
    f->BSBTNNEWMACRO->click();
    ASSERT_EQ(f->FMacroClass->MacroListCount(), 1);
    EXPECT_EQ(f->ListBoxMacroList->currentRow(), 0);
    EXPECT_EQ(f->TextBoxSelectedMacroName->text(), "Macro1");

    // A new macro holds no auto-delay flag, so the option follows it.
    EXPECT_FALSE(f->BtnAutoDelay->isChecked());
    f->BtnAutoDelay->setChecked(true);
    f->BtnMacroStart->click();
    ASSERT_TRUE(f->MacroRecording());
    hooks_.last->Key(VK_A, 1, 0);
    hooks_.last->Key(VK_A, 0, 120);
    EXPECT_EQ(f->ListBoxMacroKey->count(), 3);  // down, delay, up
    f->BtnMacroStop->click();
    EXPECT_FALSE(f->MacroRecording());
    f->BtnOK->click();
  });
  ASSERT_EQ(ShowMacroManager(*list_, index, dir_.path(), needUpdate), 1);
  EXPECT_FALSE(needUpdate);
  EXPECT_EQ(index, 0);
  ASSERT_EQ(list_->nMacroInfoCount, 1);
  const TMACROKEYINFO& m = list_->MacroInfos[0];
  ASSERT_EQ(m.MacroListCount, 3);
  EXPECT_EQ(m.MacroList[1].nKeyType, kMacroStepDelay);
  EXPECT_EQ(m.MacroList[1].VALUE1, 120);

  QFile file(dir_.filePath("Macro1.macro"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_EQ(bytes.size(), 892);
  EXPECT_EQ(bytes.mid(780, 12), QByteArray("M\0a\0c\0r\0o\0" "1\0", 12));
  EXPECT_EQ(bytes.mid(880, 4), QByteArray("\0\0\0\0", 4));  // made in the manager: Version 0
  EXPECT_EQ(bytes.mid(0, 6), QByteArray("\x04\0\x01\0\x41\0", 6));
}

TEST_F(MacroManager, CancelAsksAndReturnsOnlyTheIndex) {
  add(macroOf(u"a"));
  add(macroOf(u"b"));
  int index = 1;
  bool needUpdate = false;
  answer_ = 2;  // "stay"
  WhenModal<TFrmMacro>([this](TFrmMacro* f) {
    f->BtnCANCEL->click();
    EXPECT_TRUE(f->isVisible());
    answer_ = 1;
    f->FMacroClass->CreateNewMacro(u"c");
    f->FillMacroList();
    f->BtnCANCEL->click();
  });
  EXPECT_EQ(ShowMacroManager(*list_, index, dir_.path(), needUpdate), 2);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(list_->nMacroInfoCount, 2);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0], "Warning|Do you want to leave macro manager without saving?");
}

TEST_F(MacroManager, WriteFailureIsReportedAndTheListStillReturned) {
  add(macroOf(u"a"));
  int index = 0;
  bool needUpdate = false;
  QString error;
  WhenModal<TFrmMacro>([](TFrmMacro* f) {
    f->FMacroClass->CreateNewMacro(u"b");
    f->BtnOK->click();
  });
  EXPECT_EQ(ShowMacroManager(*list_, index, dir_.filePath("missing/deeper"), needUpdate, nullptr, &error), 1);
  EXPECT_EQ(list_->nMacroInfoCount, 2);
  EXPECT_FALSE(error.isEmpty());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].startsWith("Error|"));
}

TEST_F(MacroManager, FooterTextsStayInsideTheActionPanel) {
  // The longest figures the footer can show: 128 steps of 65535 ms.
  TFrmMacro f;
  f.show();
  f.LabelAllDelayTime->setText(QString::number(128 * 65535));
  f.lableTotalActions->setText(QStringLiteral("128"));
  const int right = f.ListBoxMacroKey->geometry().right();
  for (const char* name : {"LabelTotalTime", "LabelAllDelayTime", "LabelMs", "LabelTotalActions", "lableTotalActions",
                           "LabelEntries"}) {
    SCOPED_TRACE(name);
    auto* label = f.findChild<QLabel*>(QString::fromLatin1(name));
    ASSERT_NE(label, nullptr);
    EXPECT_LE(label->geometry().right(), right);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
  }
}

TEST_F(MacroManager, OpeningWithABadIndexSelectsTheFirst) {
  add(macroOf(u"a"));
  add(macroOf(u"b"));
  auto f = open(9);
  EXPECT_EQ(f->FMacroClass->MacroListIndex(), 0);
  EXPECT_EQ(f->ListBoxMacroList->currentRow(), 0);
  ASSERT_NE(f->FMacroClass->CurrentMacroAction(), nullptr);
}

TEST_F(MacroManager, DedupeComparesKeyExtendedAndState) {
  add(macroOf(u"m"));
  auto f = open();
  f->BtnAutoDelay->setChecked(false);
  f->BtnMacroStart->click();
  hooks_.last->Key(VK_V, 1, 0);
  hooks_.last->Key(VK_DELETE, 1, 0, 1);
  hooks_.last->Key(VK_V, 0, 0);
  hooks_.last->Key(VK_DELETE, 0, 0, 1);
  hooks_.last->Key(VK_DELETE, 0, 0, 1);  // the same event again: dropped
  f->BtnMacroStop->click();
  const auto s = steps(*f);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[2].VALUE1, VK_V);
  EXPECT_EQ(s[2].nKeyState, 0);
  EXPECT_EQ(s[1].VALUE2, 1);
  TMACROKEYINFO info;
  f->FMacroClass->GetCurrentMacroKeyItem(info);
  EXPECT_EQ(info.nAutoAddDelay, 0);
}

TEST_F(MacroManager, ConversionDelaysLimitsAndHeldKeys) {
  add(macroOf(u"m"));
  auto f = open();
  f->BtnMacroLoop->click();
  f->BoxMacroLoop->setValue(7);
  f->BtnMacroStart->click();
  hooks_.last->Key(VK_A, 1, 0);
  hooks_.last->Key(VK_A, 0, 3);       // below 10: becomes 10
  hooks_.last->Key(VK_B, 1, 12000);   // no live delay row, but a 12000 ms step
  hooks_.last->Key(VK_A, 1, 70000);   // capped at 65535; A is never released
  EXPECT_EQ(f->ListBoxMacroKey->count(), 5);  // only the 3 ms pause has a live row
  f->BtnMacroStop->click();
  const auto s = steps(*f);
  // A down, 10, A up, 12000, B down, 65535 (B and the second A never
  // released: their presses are removed).
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(MacroStepValue(s[1]), 10);
  EXPECT_EQ(MacroStepValue(s[3]), 12000);
  EXPECT_EQ(MacroStepValue(s[4]), 65535);
  TMACROKEYINFO info;
  f->FMacroClass->GetCurrentMacroKeyItem(info);
  EXPECT_EQ(info.nLoopCount, 7);
  EXPECT_EQ(info.HaveErrors, 0);

  // 126 rows at most, then "Reached Max".
  f->BtnAutoDelay->setChecked(false);
  f->BtnMacroStart->click();
  for (int i = 0; i < 70; ++i) {
    hooks_.last->Key(VK_A, 1, 0);
    hooks_.last->Key(VK_A, 0, 0);
  }
  EXPECT_EQ(f->ListBoxMacroKey->count(), 126);
  EXPECT_FALSE(f->LayoutActionsFull->isHidden());
  f->BtnMacroStop->click();
  EXPECT_EQ(steps(*f).size(), 126u);
}

TEST_F(MacroManager, CustomDelayReplacesRecordedPauses) {
  add(macroOf(u"m"));
  auto f = open();
  f->BtnCustomDelay->click();
  f->NumBoxDelay->setValue(50);
  f->BtnMacroStart->click();
  hooks_.last->Key(VK_A, 1, 0);
  hooks_.last->Key(VK_A, 0, 0);  // no time passed: a live row of 50 all the same
  hooks_.last->Key(VK_B, 1, 400);
  ASSERT_EQ(f->ListBoxMacroKey->count(), 5);
  EXPECT_EQ(f->ListBoxMacroKey->item(1)->text(), "50");
  hooks_.last->Key(VK_B, 0, 10);
  f->BtnMacroStop->click();
  const auto s = steps(*f);
  ASSERT_EQ(s.size(), 6u);  // A down, A up, 50, B down, 50, B up: the 0 ms pause has no step
  EXPECT_EQ(MacroStepValue(s[2]), 50);
}

TEST_F(MacroManager, ListsStayDisabledWhileRecordingAndCloseStops) {
  add(macroOf(u"a"));
  add(macroOf(u"b"));
  auto f = open();
  f->show();
  f->BtnMacroStart->click();
  EXPECT_FALSE(f->ListBoxMacroList->isEnabled());
  EXPECT_FALSE(f->ListBoxMacroKey->isEnabled());
  EXPECT_TRUE(f->BtnOK->isEnabled());
  f->uiMenuMacroListItemsClick(2);  // refused during a recording
  f->close();
  EXPECT_FALSE(f->MacroRecording());
  EXPECT_EQ(hooks_.calls.back(), "StopMacroEx");
  EXPECT_TRUE(f->ListBoxMacroList->isEnabled());
}

TEST_F(MacroManager, RowsCarryTheirStepIndex) {
  // Delay steps hidden (no auto delay) and a media step without a row.
  add(macroOf(u"m",
              {{kMacroStepKeyboard, 1, VK_A, 0}, {kMacroStepDelay, 0, 100, 0}, {kMacroStepMedia, 1, 0xCD, 0},
               {kMacroStepMedia, 0, 0xCD, 0}, {kMacroStepKeyboard, 0, VK_A, 0}},
              0));
  auto f = open();
  ASSERT_EQ(f->ListBoxMacroKey->count(), 2);
  f->ListBoxMacroKey->setCurrentRow(1);
  EXPECT_EQ(f->FMacroClass->CurrentMacroAction()->ActionIndex(), 4);
  f->uiMenuMacroListItemsClick(3);  // Up: the A release moves above the media release
  const auto s = steps(*f);
  EXPECT_EQ(s[3].nKeyType, kMacroStepKeyboard);
  EXPECT_EQ(s[4].nKeyType, kMacroStepMedia);
}

TEST_F(MacroManager, DelayEditClampsAndFocusLossDrops) {
  add(macroOf(u"m", {{kMacroStepKeyboard, 1, VK_A, 0}, {kMacroStepDelay, 0, 100, 0}, {kMacroStepKeyboard, 0, VK_A, 0}}));
  auto f = open();
  f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  struct Case {
    const char* typed;
    bool enter;
    int stored;
  };
  for (const Case& c : {Case{"5", true, 10}, Case{"70000", true, 65535}, Case{"300", false, 65535}}) {
    f->ListBoxMacroKey->setCurrentRow(1);
    f->ListBoxMacroKeyDblClick();
    ASSERT_TRUE(f->TextEditDelay->isVisible());
    f->TextEditDelay->findChild<QLineEdit*>()->setText(c.typed);
    if (c.enter) QTest::keyClick(f->TextEditDelay, Qt::Key_Return);
    else f->BtnOK->setFocus(), f->ListBoxMacroKey->setFocus();
    EXPECT_FALSE(f->TextEditDelay->isVisible()) << c.typed;
    EXPECT_EQ(f->FMacroClass->CurrentMacroAction()->GetDelayValue(1), c.stored) << c.typed;
  }
  EXPECT_EQ(f->LabelAllDelayTime->text(), "65535");
}

TEST_F(MacroManager, DeleteByIndexRenameRefusalsAndMoves) {
  add(macroOf(u"same"));
  add(macroOf(u"same"));
  add(macroOf(u"other"));
  auto f = open(1);
  answer_ = 1;
  f->BSBTNDELETEMACROClick();
  ASSERT_EQ(f->FMacroClass->MacroListCount(), 2);
  EXPECT_EQ(f->ListBoxMacroList->item(1)->text(), "other");
  EXPECT_EQ(messages_.back(), "Delete|Are your sure you want to delete this macro?");

  f->show();
  for (const char* bad : {"", "a/b", "..", "same"}) {
    f->uiMenuMacroItemsClick(1);  // Rename
    ASSERT_TRUE(f->TextBoxSelectedMacroName->isEnabled());
    f->TextBoxSelectedMacroName->setText(bad);
    f->CommitRename();
    EXPECT_EQ(f->ListBoxMacroList->item(1)->text(), "other") << bad;
    EXPECT_EQ(f->TextBoxSelectedMacroName->text(), "other");
  }
  f->uiMenuMacroItemsClick(1);
  f->TextBoxSelectedMacroName->setText("renamed");
  f->CommitRename();
  EXPECT_EQ(f->ListBoxMacroList->item(1)->text(), "renamed");

  f->uiMenuMacroItemsClick(2);  // Up
  EXPECT_EQ(f->ListBoxMacroList->item(0)->text(), "renamed");
  EXPECT_EQ(f->FMacroClass->MacroListIndex(), 0);
  EXPECT_EQ(f->FMacroClass->CurrentMacroAction()->MacroIndex(), 0);
}

TEST_F(MacroManager, SelectBoxShowsTheStartOfALongName) {
  const QString longName = "Very long macro name for the list";
  add(macroOf(u"Reload"));
  add(macroOf(reinterpret_cast<const char16_t*>(longName.utf16())));
  int index = 1;
  bool needUpdate = false;
  // Opened, chosen in the list, and after a rename: each time the box starts
  // at the name's first letter.
  auto expectStartShown = [&](QLineEdit* box, const QString& name, const char* when) {
    EXPECT_EQ(box->text(), name) << when;
    EXPECT_EQ(box->cursorPosition(), 0) << when;
    // The text is not scrolled: position 0 sits at the box's left edge.
    EXPECT_LE(box->inputMethodQuery(Qt::ImCursorRectangle).toRect().left(), box->contentsRect().left() + 8) << when;
    EXPECT_GT(QFontMetrics(box->font()).horizontalAdvance(name), box->contentsRect().width()) << when;
  };
  WhenModal<TFrmMacro>([&](TFrmMacro* f) {
    expectStartShown(f->TextBoxSelectedMacroName, longName, "opened");
    f->ListBoxMacroList->setCurrentRow(0);
    f->ListBoxMacroList->setCurrentRow(1);
    expectStartShown(f->TextBoxSelectedMacroName, longName, "chosen");
    f->uiMenuMacroItemsClick(1);  // Rename
    f->TextBoxSelectedMacroName->setText(longName + " 2");
    f->TextBoxSelectedMacroName->setCursorPosition(longName.size() + 2);
    f->CommitRename();
    expectStartShown(f->TextBoxSelectedMacroName, longName + " 2", "renamed");
    f->BtnOK->click();
  });
  ShowMacroManager(*list_, index, dir_.path(), needUpdate);
}

TEST_F(MacroManager, CommandsWithoutAMacroDoNothing) {
  auto f = open();
  EXPECT_FALSE(f->ListBoxMacroList->isEnabled());
  for (uint32_t id = 1; id <= 7; ++id) f->uiMenuMacroListItemsClick(id);
  for (uint32_t id = 1; id <= 3; ++id) f->uiMenuMacroItemsClick(id);
  f->BtnMacroStart->click();
  EXPECT_FALSE(f->MacroRecording());
  EXPECT_FALSE(f->BtnMacroStart->isChecked());
  f->BSBTNDELETEMACROClick();
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MacroManager, TwentyMacrosRefuseNew) {
  for (int i = 0; i < 20; ++i) {
    const std::u16string name = u"m" + std::u16string(1, char16_t(u'a' + i));
    add(macroOf(name.c_str()));
  }
  auto f = open();
  f->BSBTNNEWMACROClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Warning|You can create macros shall not exceed 20 .");
  EXPECT_EQ(f->FMacroClass->MacroListCount(), 20);
}

TEST_F(MacroManager, InsertRecordingIntoAnEmptyMacroAppends) {
  add(macroOf(u"m"));
  auto f = open();
  f->uiMenuMacroListItemsClick(1);
  ASSERT_TRUE(f->MacroRecording());
  hooks_.last->Key(VK_A, 1, 0);
  hooks_.last->Key(VK_A, 0, 0);
  f->BtnMacroStop->click();
  EXPECT_EQ(steps(*f).size(), 2u);
}

TEST_F(MacroManager, RightClickOpensTheMenus) {
  add(macroOf(u"m", {{kMacroStepKeyboard, 1, VK_A, 0}, {kMacroStepKeyboard, 0, VK_A, 0}}));
  auto f = open();
  f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  QTest::mouseClick(f->ListBoxMacroList->viewport(), Qt::RightButton, {}, QPoint(20, 10));
  EXPECT_TRUE(f->uiMenuMacro->IsMenuOpen());
  f->uiMenuMacro->CloseMenu();
  QTest::mouseClick(f->ListBoxMacroKey->viewport(), Qt::RightButton, {}, QPoint(20, 10));
  EXPECT_TRUE(f->uiMenuMacroList->IsMenuOpen());
  f->uiMenuMacroList->CloseMenu();
}

}  // namespace
