// The check of profiles that come in from outside: field by field, each bad
// value is refused with its field named and each good boundary is taken;
// the five first-start profiles and a file the program exports after the
// edits the window makes always pass.
#include "device/ProfileCheck.h"

#include <QFile>
#include <functional>
#include <gtest/gtest.h>

#include "device/DMUnit.h"
#include "device/testing/TempDataModule.h"

namespace {

constexpr int kProfile = 109896;

class ProfileCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(module_.Start());
    dm_ = &module_.DM();
    store_ = &module_.Store();
  }
  std::unique_ptr<TMOUSEPROFILEINFO> Default(int i = 0) {
    auto p = NewZeroImage<TMOUSEPROFILEINFO>();
    EXPECT_TRUE(dm_->ReadProfileInfo(*p, i));
    return p;
  }
  device_test::TempDataModule module_;
  TDM* dm_ = nullptr;
  platform::RegistryStore* store_ = nullptr;
};

using Edit = std::function<void(TMOUSEPROFILEINFO&)>;
TBUTTONFUNCINFO& Button(TMOUSEPROFILEINFO& p, int j) { return p.ConfigInfo.ButtonFuncInfo[j]; }
TMOUSECONFIGINFO& Config(TMOUSEPROFILEINFO& p) { return p.ConfigInfo; }

// A macro assignment as the button menu makes it.
void AssignMacro(TMOUSEPROFILEINFO& p, int button, int macro) {
  TBUTTONFUNCINFO& e = Button(p, button);
  e.FunctionType = kFunctionTypeMacro;
  e.FunctionIndex = kMacroFunctionIndex;
  e.FunctionClass = kFunctionClassMacro;
  e.MenuId = 1102 + macro;
  e.MacroInfo.nMacroIndex = uint16_t(macro);
  e.MacroInfo.MacroListCount = 3;
}

}  // namespace

TEST_F(ProfileCheckTest, EachFieldRefusedPastItsRangeAndTakenAtItsBounds) {
  struct Case {
    const char* field;  // nullptr: the edit is taken
    int64_t value;
    Edit edit;
  };
  const Case cases[] = {
      {"ProfileHeader.FFileVersion", 259, [](auto& p) { p.ProfileHeader.FFileVersion = 259; }},
      // Buttons: the function tables and the menus' IDs.
      {nullptr, 0, [](auto& p) { Button(p, 2).FunctionIndex = 34; }},
      {"ConfigInfo.ButtonFuncInfo[2].FunctionIndex", 35, [](auto& p) { Button(p, 2).FunctionIndex = 35; }},
      {"ConfigInfo.ButtonFuncInfo[14].FunctionIndex", 65535, [](auto& p) { Button(p, 14).FunctionIndex = 65535; }},
      {nullptr, 0, [](auto& p) { Button(p, 0).FunctionClass = kFunctionClassMicMute; }},
      {nullptr, 0, [](auto& p) { Button(p, 9).FunctionClass = 0; }},
      {"ConfigInfo.ButtonFuncInfo[0].FunctionClass", 13, [](auto& p) { Button(p, 0).FunctionClass = 13; }},
      {"ConfigInfo.ButtonFuncInfo[4].FunctionClass", 20, [](auto& p) { Button(p, 4).FunctionClass = 20; }},
      {"ConfigInfo.ButtonFuncInfo[4].FunctionClass", -1, [](auto& p) { Button(p, 4).FunctionClass = -1; }},
      {nullptr, 0, [](auto& p) { Button(p, 1).FunctionType = kFunctionTypeMicMute; }},
      {"ConfigInfo.ButtonFuncInfo[1].FunctionType", 2, [](auto& p) { Button(p, 1).FunctionType = 2; }},
      {"ConfigInfo.ButtonFuncInfo[1].FunctionType", 12, [](auto& p) { Button(p, 1).FunctionType = 12; }},
      {nullptr, 0, [](auto& p) { Button(p, 3).MenuId = 1008; }},
      {nullptr, 0, [](auto& p) { Button(p, 3).MenuId = 1122; }},
      {"ConfigInfo.ButtonFuncInfo[3].MenuId", 1123, [](auto& p) { Button(p, 3).MenuId = 1123; }},
      {"ConfigInfo.ButtonFuncInfo[3].MenuId", 17, [](auto& p) { Button(p, 3).MenuId = 17; }},
      // Macros on buttons: five blocks in the mouse, 128 steps a macro.
      {nullptr, 0,
       [](auto& p) {
         for (int j = 0; j < 5; ++j) AssignMacro(p, j, 20 - j);
         AssignMacro(p, 5, 20);  // the same macro again takes no block
         Button(p, 0).MacroInfo.MacroListCount = 128;
       }},
      {"ConfigInfo.ButtonFuncInfo[6].MacroInfo.nMacroIndex", 9,
       [](auto& p) {
         for (int j = 0; j < 5; ++j) AssignMacro(p, j, j);
         AssignMacro(p, 5, 2);
         AssignMacro(p, 6, 9);  // a sixth distinct macro
       }},
      {"ConfigInfo.ButtonFuncInfo[2].MacroInfo.MacroListCount", 129,
       [](auto& p) {
         AssignMacro(p, 2, 0);
         Button(p, 2).MacroInfo.MacroListCount = 129;
       }},
      {"ConfigInfo.ButtonFuncInfo[2].MacroInfo.MacroListCount", -1,
       [](auto& p) {
         AssignMacro(p, 2, 0);
         Button(p, 2).MacroInfo.MacroListCount = -1;
       }},
      {"ConfigInfo.ButtonFuncInfo[2].MacroInfo.nMacroIndex", 21,
       [](auto& p) { AssignMacro(p, 2, 21); }},
      // The wheel: six functions, its own two classes.
      {nullptr, 0, [](auto& p) { Config(p).VWheelButtonFuncInfo[1].FunctionIndex = 5; }},
      {"ConfigInfo.VWheelButtonFuncInfo[1].FunctionIndex", 6,
       [](auto& p) { Config(p).VWheelButtonFuncInfo[1].FunctionIndex = 6; }},
      {"ConfigInfo.VWheelButtonFuncInfo[0].FunctionClass", 14,
       [](auto& p) { Config(p).VWheelButtonFuncInfo[0].FunctionClass = 14; }},
      {"ConfigInfo.VWheelButtonFuncInfo[0].FunctionType", 4,
       [](auto& p) { Config(p).VWheelButtonFuncInfo[0].FunctionType = 4; }},
      {"ConfigInfo.VWheelButtonFuncInfo[0].MenuId", 7, [](auto& p) { Config(p).VWheelButtonFuncInfo[0].MenuId = 7; }},
      // The wheel LED byte.
      {nullptr, 0, [](auto& p) { Config(p).HWVWheelValue = 127; }},
      {"ConfigInfo.HWVWheelValue", -1, [](auto& p) { Config(p).HWVWheelValue = -1; }},
      {"ConfigInfo.WheelLedOnOff", 2, [](auto& p) { Config(p).WheelLedOnOff = 2; }},
      // Report rate: the four the mouse knows.
      {nullptr, 0, [](auto& p) { Config(p).ReportRate = 1000; }},
      {"ConfigInfo.ReportRate", 124, [](auto& p) { Config(p).ReportRate = 124; }},
      {"ConfigInfo.ReportRate", 2000, [](auto& p) { Config(p).ReportRate = 2000; }},
      // DPI levels: count 1..10, current level within the count, values
      // within the mouse's range.
      {nullptr, 0,
       [](auto& p) {
         Config(p).CPILevel = 10;
         Config(p).CurrentCPIIndex = 9;
       }},
      {nullptr, 0,
       [](auto& p) {
         Config(p).CPILevel = 1;
         Config(p).CurrentCPIIndex = 0;
       }},
      {"ConfigInfo.CPILevel", 0, [](auto& p) { Config(p).CPILevel = 0; }},
      {"ConfigInfo.CPILevel", 11, [](auto& p) { Config(p).CPILevel = 11; }},
      {"ConfigInfo.CurrentCPIIndex", 4, [](auto& p) { Config(p).CurrentCPIIndex = 4; }},
      {"ConfigInfo.CurrentCPIIndex", -1, [](auto& p) { Config(p).CurrentCPIIndex = -1; }},
      {nullptr, 0,
       [](auto& p) {
         Config(p).CPIState[0] = {100, 4000, 1};
         Config(p).CPIState[9] = {0, 0, 0};
         Config(p).CPIState[3] = {100, 100, 0};
         Config(p).HWCPIState[0] = {250, 4000, 1};
       }},
      {"ConfigInfo.CPIState[0].X", 99, [](auto& p) { Config(p).CPIState[0].X = 99; }},
      {"ConfigInfo.CPIState[2].Y", 4001, [](auto& p) { Config(p).CPIState[2].Y = 4001; }},
      {"ConfigInfo.CPIState[1].X", 0, [](auto& p) { Config(p).CPIState[1].X = 0; }},
      {"ConfigInfo.CPIState[3].State", 2, [](auto& p) { Config(p).CPIState[3].State = 2; }},
      {"ConfigInfo.CPIState[9].X", 50, [](auto& p) { Config(p).CPIState[9].X = 50; }},
      {"ConfigInfo.HWCPIState[2].X", 249, [](auto& p) { Config(p).HWCPIState[2].X = 249; }},
      {"ConfigInfo.HWCPIState[2].State", 7, [](auto& p) { Config(p).HWCPIState[2].State = 7; }},
      // LED: brightness and breathing speed 0..3; the colour is free.
      {nullptr, 0,
       [](auto& p) {
         Config(p).LEDConfig = {1, 2, 3, 3, 3, 200};
       }},
      {"ConfigInfo.LEDConfig.BRIGHT_LEVEL", 4, [](auto& p) { Config(p).LEDConfig.BRIGHT_LEVEL = 4; }},
      {"ConfigInfo.LEDConfig.BREATH_SPEED", 255, [](auto& p) { Config(p).LEDConfig.BREATH_SPEED = 255; }},
      // Button table size and the profile's macro list.
      {nullptr, 0, [](auto& p) { Config(p).ButtonCount = 15; }},
      {"ConfigInfo.ButtonCount", 16, [](auto& p) { Config(p).ButtonCount = 16; }},
      {"ConfigInfo.ButtonCount", -1, [](auto& p) { Config(p).ButtonCount = -1; }},
      {nullptr, 0,
       [](auto& p) {
         p.MacroKeyInfoList.nMacroInfoCount = 21;
         p.MacroKeyInfoList.MacroInfos[20].MacroListCount = 128;
       }},
      {"MacroKeyInfoList.nMacroInfoCount", 22, [](auto& p) { p.MacroKeyInfoList.nMacroInfoCount = 22; }},
      {"MacroKeyInfoList.MacroInfos[1].MacroListCount", 129,
       [](auto& p) {
         p.MacroKeyInfoList.nMacroInfoCount = 2;
         p.MacroKeyInfoList.MacroInfos[1].MacroListCount = 129;
       }},
      // A slot past the count is not the profile's.
      {nullptr, 0,
       [](auto& p) {
         p.MacroKeyInfoList.nMacroInfoCount = 1;
         p.MacroKeyInfoList.MacroInfos[1].MacroListCount = 5000;
       }},
      // Reserved bytes and free fields are carried, never judged.
      {nullptr, 0,
       [](auto& p) {
         std::memset(p.ConfigInfo.ApplicationList, 0xA5, sizeof p.ConfigInfo.ApplicationList);
         std::memset(p.OtherConfig, 0xFF, sizeof p.OtherConfig);
         Config(p).DoubleClickSpeed = 65535;
       }},
  };
  for (const Case& c : cases) {
    auto p = Default();
    c.edit(*p);
    const auto fault = FirstProfileFault(*p);
    if (!c.field) {
      EXPECT_FALSE(fault) << "refused: " << qPrintable(fault->Text());
      continue;
    }
    SCOPED_TRACE(c.field);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->Field.toStdString(), c.field);
    EXPECT_EQ(fault->Value, c.value);
    EXPECT_EQ(fault->Text().toStdString(), std::string(c.field) + " holds " + std::to_string(c.value));
  }
}

TEST_F(ProfileCheckTest, TheFirstFaultInImageOrderIsNamed) {
  auto p = Default();
  Config(*p).ReportRate = 7;
  Button(*p, 3).FunctionClass = 99;
  p->MacroKeyInfoList.nMacroInfoCount = 300;
  ASSERT_TRUE(FirstProfileFault(*p));
  EXPECT_EQ(FirstProfileFault(*p)->Field, QStringLiteral("ConfigInfo.ButtonFuncInfo[3].FunctionClass"));
}

TEST_F(ProfileCheckTest, FirstStartProfilesAndExportedFilesPass) {
  for (int i = 0; i < kProfileCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(FirstProfileFault(*Default(i)));
  }
  // The window's edits at their extremes, then the export as the PRESET menu
  // writes it.
  TMOUSECONFIGINFO& c = dm_->FCurrentProfileInfo.ConfigInfo;
  c.CPIState[0] = {100, 3500, 1};
  c.HWCPIState[0] = {3500, 3500, 1};
  c.CPIState[1].State = c.HWCPIState[1].State = 0;
  c.CurrentCPIIndex = 3;
  c.ReportRate = 1000;
  c.LEDConfig.BRIGHT_LEVEL = c.LEDConfig.BREATH_SPEED = 0;
  c.WheelLedOnOff = 0;
  dm_->FCurrentProfileInfo.MacroKeyInfoList.nMacroInfoCount = 1;
  AssignMacro(dm_->FCurrentProfileInfo, 2, 0);
  dm_->SaveBackToCurrentProfileInfo();
  const QString path = module_.Path("exported.pfd");
  ASSERT_TRUE(dm_->SaveCurrentProfileInfoToFile(path));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  ASSERT_EQ(bytes.size(), kProfile);
  auto exported = NewZeroImage<TMOUSEPROFILEINFO>();
  std::memcpy(static_cast<void*>(exported.get()), bytes.constData(), kProfile);
  const auto fault = FirstProfileFault(*exported);
  EXPECT_FALSE(fault) << qPrintable(fault->Text());
}

// A stored profile that fails the check is not taken: the defaults show, the
// stored bytes stay as they were and are not written over by saves.
TEST_F(ProfileCheckTest, StoredProfileThatFailsIsKeptButNotUsed) {
  const QString file = AddPathDelimiter(dm_->CurrentStore()->FilePath()) + dm_->CurrentStore()->FileName();
  auto bad = Default(0);
  Config(*bad).ReportRate = 3;
  Config(*bad).LEDConfig.R = 17;
  const QByteArray image(reinterpret_cast<const char*>(bad.get()), kProfile);
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(image), kProfile);
  }
  const auto later = module_.Another();
  TDM& again = *later;
  const TStoreStatus st = again.InitData();
  EXPECT_FALSE(st);
  EXPECT_TRUE(st.Error.contains(QStringLiteral("ConfigInfo.ReportRate holds 3"))) << qPrintable(st.Error);
  EXPECT_FALSE(again.IsProfileLoaded(0));
  EXPECT_EQ(again.FCurrentProfileInfo.ConfigInfo.ReportRate, 125);
  EXPECT_EQ(again.FCurrentProfileInfo.ConfigInfo.LEDConfig.R, 255);
  again.SaveBackAllProfileInfoToFile();
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), image) << "the stored profile is not written over";

  // A reload from the settings store that fails keeps what was loaded.
  ASSERT_TRUE(dm_->SaveCurrentProfileInfoToRegistry());
  const QByteArray before(reinterpret_cast<const char*>(&dm_->FCurrentProfileInfo), kProfile);
  ASSERT_EQ(store_->writeBinary(platform::HKEY_CURRENT_USER, QStringLiteral("software\\Orvelline"),
                                dm_->CurrentStore()->FileName(), image),
            platform::RegStatus::Ok);
  EXPECT_FALSE(dm_->LoadCurrentProfileInfoFromRegistry());
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&dm_->FCurrentProfileInfo), kProfile), before);
  EXPECT_FALSE(dm_->LoadCurrentProfileInfoFromFile(file));
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&dm_->FCurrentProfileInfo), kProfile), before);
}
