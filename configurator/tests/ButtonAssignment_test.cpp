// The assignment table over menu IDs, the main-button rule, the macro limit,
// the macro manager with relinking, the wheel and the captions. Expected
// fields are written out by hand.
#include "configurator/ButtonAssignment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include "configurator/AssignmentMenus.h"
#include "device/DMUnit.h"
#include "device/testing/TempDataModule.h"
#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

void NameMacro(TMACROKEYINFO& m, const char16_t* name, int steps) {
  WriteText(m.szMacroName, name);
  m.MacroListCount = steps;
}

class ButtonAssignmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(module_.Start());
    dm_ = &module_.DM();
    BuildButtonMenu(menu1_);
    BuildWheelMenu(menu2_);
    auto& list = Profile().MacroKeyInfoList;
    const char16_t* names[] = {u"m0", u"m1", u"m2", u"m3", u"m4", u"m5", u"m6"};
    for (int k = 0; k < 7; ++k) NameMacro(list.MacroInfos[k], names[k], k + 1);
    list.nMacroInfoCount = 7;
    dm_->SaveBackToCurrentProfileInfo();
    dialogs_.Message = [this](const QString& t, const QString& x, const QString&) {
      messages_.push_back(t + "|" + x);
      return 1;
    };
  }
  TMOUSEPROFILEINFO& Profile() { return dm_->FCurrentProfileInfo; }
  TBUTTONFUNCINFO& Entry(int t) { return Profile().ConfigInfo.ButtonFuncInfo[t]; }
  TAssignOutcome Assign(int t, int64_t id) { return AssignButtonFunction(*dm_, t, id, dialogs_, current_); }
  // What the profile's store holds (saved back).
  TBUTTONFUNCINFO Stored(int t) {
    auto p = NewZeroImage<TMOUSEPROFILEINFO>();
    dm_->ReadProfileInfo(*p, dm_->ProfileIndex());
    return p->ConfigInfo.ButtonFuncInfo[t];
  }
  QString Caption(int t) { return ButtonCaption(Profile().ConfigInfo, t, menu1_); }

  device_test::TempDataModule module_;
  TDM* dm_ = nullptr;
  TuiMenuEx menu1_, menu2_;
  TAssignmentDialogs dialogs_;
  std::vector<QString> messages_;
  int current_ = -7;
};

TEST_F(ButtonAssignmentTest, MenuIdsStoreTheirFunctions) {
  struct Case {
    int64_t id;
    uint8_t type;
    uint16_t index;
    int32_t klass;
    const char* caption;
  } cases[] = {
      {1, 1, 0, 1, "Click"},          {2, 1, 1, 2, "Right Click"},   {3, 1, 2, 3, "Middle Button"},
      {4, 1, 3, 5, "Forward"},        {5, 1, 4, 4, "Backward"},      {801, 3, 7, 15, "Cut"},
      {808, 3, 14, 15, "Save"},       {901, 3, 15, 15, "Switch Window"}, {906, 3, 20, 15, "Lock PC"},
      {1001, 10, 21, 14, "Play/Pause"}, {1007, 10, 27, 14, "Mute"},  {12, 0, 29, 8, "DPI Switch"},
      {13, 0, 30, 9, "DPI +"},        {14, 0, 31, 10, "DPI -"},      {16, 10, 33, 14, "Disable"},
      {1008, 11, 34, 19, "Mute(microphone)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const TAssignOutcome out = Assign(4, c.id);
    EXPECT_TRUE(out.EntryChanged);
    const TBUTTONFUNCINFO e = Stored(4);
    EXPECT_EQ(e.FunctionType, c.type);
    EXPECT_EQ(e.FunctionIndex, c.index);
    EXPECT_EQ(e.FunctionClass, c.klass);
    EXPECT_EQ(e.MenuId, c.id);
    EXPECT_EQ(Caption(4), QString::fromUtf8(c.caption));
  }
}

TEST_F(ButtonAssignmentTest, PresetParameters) {
  Assign(2, 801);  // Cut: Ctrl+X
  EXPECT_EQ(Stored(2).ComboKey.nModifier, 2);
  EXPECT_EQ(Stored(2).ComboKey.nKeyValue1, 'X');
  EXPECT_EQ(Stored(2).ComboKey.nKeyValue2, 0);
  Assign(2, 1005);  // Volume Up: usage 233
  EXPECT_EQ(Stored(2).MediaCode.nKeyValue1, 233);
  EXPECT_EQ(Stored(2).MediaCode.nKeyValue2, 0);
  EXPECT_EQ(Stored(2).MediaCode.nModifier, 0);
  Assign(2, 16);
  EXPECT_EQ(Stored(2).MediaCode.nKeyValue1, 0);
  // Microphone mute on button 4 (entry 3): mask bytes of 1 << 3.
  Assign(3, 1008);
  EXPECT_EQ(Stored(3).MicMask[0], 0x08);
  EXPECT_EQ(Stored(3).MicMask[1], 0x00);
  EXPECT_EQ(Stored(3).MicMask[2], 0x00);
}

TEST_F(ButtonAssignmentTest, MainButtonsAlwaysKeepOneClick) {
  Assign(0, 2);
  EXPECT_EQ(Stored(0).FunctionIndex, 1);
  EXPECT_EQ(Stored(1).FunctionIndex, 0);
  EXPECT_EQ(Stored(1).MenuId, 1);
  EXPECT_EQ(Stored(1).FunctionClass, 1);
  Assign(1, 2);
  EXPECT_EQ(Stored(1).FunctionIndex, 1);
  EXPECT_EQ(Stored(0).FunctionIndex, 0);
  EXPECT_EQ(Stored(0).FunctionClass, 1);
  Assign(0, 1);  // "Click" changes nothing else
  EXPECT_EQ(Stored(1).FunctionIndex, 1);
}

TEST_F(ButtonAssignmentTest, DialogsWorkOnCopiesAndCancelKeepsTheEntry) {
  int answer = 2;
  dialogs_.SingleKey = [&](TSINGLEKEYINFO& k) { k.nKeyValue1 = 'A'; return answer; };
  dialogs_.ComboKey = [&](TCOMBOKEYINFO& k) { k = {'A', 0, 'B', 0, 2 | 4}; return answer; };
  TFIREKEYINFO seen{};
  dialogs_.FireKey = [&](TFIREKEYINFO& f) { seen = f; f = {3, 40}; return answer; };
  const TBUTTONFUNCINFO before = Entry(5);
  for (int64_t id : {6, 7, 15}) {
    EXPECT_FALSE(Assign(5, id).EntryChanged);
    EXPECT_EQ(0, std::memcmp(&Entry(5), &before, sizeof before));
  }
  // A fire key without values starts from the profile's count and delay.
  EXPECT_EQ(seen.nLoopCount, 2);
  EXPECT_EQ(seen.DelyValue, 10);
  answer = 1;
  Assign(5, 6);
  EXPECT_EQ(Stored(5).FunctionType, 8);
  EXPECT_EQ(Stored(5).FunctionClass, 16);
  EXPECT_EQ(Caption(5), "<A>");
  EXPECT_EQ(ButtonHint(Profile().ConfigInfo, 5), "Single Key: <A>");
  Assign(5, 7);
  EXPECT_EQ(Stored(5).FunctionType, 3);
  EXPECT_EQ(Stored(5).FunctionIndex, 6);
  EXPECT_EQ(ComboKeyText(Entry(5)), "<Ctrl+Shift+A+B>");
  EXPECT_EQ(Caption(5), "<Ctrl+Shi...");
  EXPECT_EQ(ButtonHint(Profile().ConfigInfo, 5), "Combo Key: <Ctrl+Shift+A+B>");
  Assign(5, 15);
  EXPECT_EQ(Stored(5).FireKey.nLoopCount, 3);
  EXPECT_EQ(Stored(5).FireKey.DelyValue, 40);
  Assign(5, 15);
  EXPECT_EQ(seen.nLoopCount, 3) << "an existing fire key is offered as it is";
  EXPECT_EQ(ButtonHint(Profile().ConfigInfo, 5), "");
}

TEST_F(ButtonAssignmentTest, MacroLimitAndSharedMacros) {
  for (int t = 2; t < 7; ++t) EXPECT_TRUE(Assign(t, 1102 + t - 2).EntryChanged) << t;  // macros 0..4
  EXPECT_EQ(Caption(6), "Macro #5");
  EXPECT_EQ(CountDistinctButtonMacros(Profile().ConfigInfo), 5);
  // A macro already on another button is allowed.
  EXPECT_TRUE(Assign(7, 1102).EntryChanged);
  // A sixth distinct macro is refused and the old entry stays.
  const TBUTTONFUNCINFO old = Entry(8);
  const TAssignOutcome out = Assign(8, 1102 + 5);
  EXPECT_TRUE(out.Refused);
  EXPECT_EQ(messages_, std::vector<QString>{"Warning!|You can assign macros to buttons shall not exceed 5 ."});
  EXPECT_EQ(0, std::memcmp(&Entry(8), &old, sizeof old));
  // Entries past the first ten do not count.
  EXPECT_TRUE(Assign(10, 1102 + 6).EntryChanged);
  // A macro index past the list changes nothing.
  EXPECT_TRUE(Assign(2, 1102 + 7).Invalid);
  EXPECT_TRUE(Assign(15, 1).Invalid);
  EXPECT_TRUE(Assign(2, -1).Invalid);
}

TEST_F(ButtonAssignmentTest, MacroManagerRelinksEveryButton) {
  Assign(2, 1102 + 1);  // m1
  Assign(3, 1102 + 2);  // m2
  Assign(4, 1102 + 3);  // m3
  // The manager deletes m1 and renames m3: the list becomes m0, m2, m3x, m4, m5, m6;
  // button 3 gets m2 (now index 1).
  dialogs_.MacroManager = [](TMACROKEYINFOLIST& list, int& current, const QString&) {
    EXPECT_EQ(current, 2);
    for (int k = 1; k < 6; ++k) list.MacroInfos[k] = list.MacroInfos[k + 1];
    list.nMacroInfoCount = 6;
    WriteText(list.MacroInfos[2].szMacroName, u"m3x");
    current = 1;
    return 1;
  };
  const TAssignOutcome out = Assign(3, 1101);
  EXPECT_TRUE(out.MacroListChanged);
  EXPECT_EQ(Stored(2).FunctionIndex, 33);  // m1 deleted
  EXPECT_EQ(Stored(2).FunctionClass, 14);
  EXPECT_EQ(Stored(2).MenuId, 0);
  EXPECT_EQ(Caption(2), "Disable");
  EXPECT_EQ(Stored(3).MenuId, 1103);
  EXPECT_EQ(Stored(3).MacroInfo.nMacroIndex, 1);
  EXPECT_EQ(Stored(4).FunctionIndex, 33);  // m3 renamed
  // Deleted in the manager: the button becomes "Disable", MenuId 0.
  dialogs_.MacroManager = [](TMACROKEYINFOLIST&, int& current, const QString&) {
    current = -1;
    return 1;
  };
  Assign(3, 1101);
  EXPECT_EQ(Stored(3).MenuId, 0);
  EXPECT_EQ(Stored(3).FunctionType, 10);
  // A cancelled manager changes nothing.
  dialogs_.MacroManager = [](TMACROKEYINFOLIST& list, int& current, const QString&) {
    list.nMacroInfoCount = 0;
    current = 0;
    return 2;
  };
  EXPECT_FALSE(Assign(3, 1101).MacroListChanged);
  EXPECT_EQ(Profile().MacroKeyInfoList.nMacroInfoCount, 6);
}

TEST_F(ButtonAssignmentTest, LimitRefusalAfterAManagerChangeStillRelinks) {
  for (int t = 2; t < 7; ++t) Assign(t, 1102 + t - 2);  // m0..m4
  // The manager moves m4 to the front and the user picks m6 for button 8: the
  // sixth macro is refused, but every other button follows the new order.
  dialogs_.MacroManager = [](TMACROKEYINFOLIST& list, int& current, const QString&) {
    const TMACROKEYINFO m4 = list.MacroInfos[4];
    for (int k = 4; k > 0; --k) list.MacroInfos[k] = list.MacroInfos[k - 1];
    list.MacroInfos[0] = m4;
    current = 6;
    return 1;
  };
  const TAssignOutcome out = Assign(8, 1101);
  EXPECT_TRUE(out.Refused);
  EXPECT_TRUE(out.MacroListChanged);
  EXPECT_EQ(Stored(6).MacroInfo.nMacroIndex, 0);  // m4
  EXPECT_EQ(Stored(6).MenuId, 1102);
  EXPECT_EQ(Stored(2).MacroInfo.nMacroIndex, 1);  // m0
  EXPECT_EQ(Caption(2), "Macro #2");
}

TEST_F(ButtonAssignmentTest, WheelLeavesTheClassAlone) {
  EXPECT_TRUE(AssignWheelFunction(*dm_, 0, 2));
  const TBUTTONFUNCINFO& up = Profile().ConfigInfo.VWheelButtonFuncInfo[0];
  EXPECT_EQ(up.FunctionIndex, 1);
  EXPECT_EQ(up.FunctionType, 1);
  EXPECT_EQ(up.MenuId, 2);
  EXPECT_EQ(up.FunctionClass, 11);
  EXPECT_EQ(WheelCaption(Profile().ConfigInfo, 0, menu2_), "Wheel Down");
  EXPECT_FALSE(AssignWheelFunction(*dm_, 2, 1));
  EXPECT_FALSE(AssignWheelFunction(*dm_, 1, 7));
  const TButtonCaptions all = AllCaptions(Profile().ConfigInfo, menu1_, menu2_);
  EXPECT_EQ(all.Buttons, (std::vector<QString>{"Click", "Right Click", "Middle Button", "Forward", "Backward",
                                               "DPI +", "DPI -"}));
  EXPECT_EQ(all.Wheel[1], "Wheel Down");
}

}  // namespace
