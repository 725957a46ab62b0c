// The menu trees: captions at their IDs, row heights, the macro sub-menu.
#include "configurator/AssignmentMenus.h"

#include <gtest/gtest.h>

#include <QApplication>
#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

TEST(AssignmentMenus, ButtonMenuIds) {
  TuiMenuEx menu;
  BuildButtonMenu(menu);
  const std::pair<int64_t, const char*> ids[] = {
      {1, "Click"}, {7, "Combo Key"}, {8, "Basic"}, {801, "Cut"}, {808, "Save"}, {901, "Switch Window"},
      {906, "Lock PC"}, {1001, "Play/Pause"}, {1008, "Mute(microphone)"}, {11, "Macro"}, {1101, "Macro Manager"},
      {12, "DPI Switch"}, {15, "Fire Key..."}, {16, "Disable"}};
  for (auto [id, caption] : ids) EXPECT_EQ(MenuCaptionOfId(menu, id), QString::fromUtf8(caption)) << id;
  EXPECT_EQ(MenuCaptionOfId(menu, 17), "");
  EXPECT_EQ(MenuCaptionOfId(menu, 0), "");
  EXPECT_EQ(MenuCaptionOfId(menu, -1), "");
  EXPECT_EQ(menu.Parameters().ItemHeight, 25);
  EXPECT_TRUE(menu.UseCustomMenuParams);
}

TEST(AssignmentMenus, OtherMenus) {
  TuiMenuEx lr, wheel, preset;
  BuildMainButtonMenu(lr);
  BuildWheelMenu(wheel);
  BuildPresetMenu(preset);
  EXPECT_EQ(lr.Items().Count(), 2);
  EXPECT_EQ(MenuCaptionOfId(lr, 2), "Right Click");
  EXPECT_EQ(lr.Parameters().ItemHeight, 30);
  EXPECT_EQ(wheel.Parameters().ItemHeight, 30);
  EXPECT_EQ(preset.Parameters().ItemHeight, 25);
  const char* wheelCaptions[] = {"Wheel Up", "Wheel Down", "Volume +", "Volume -", "Backward", "Forward"};
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(MenuCaptionOfId(wheel, n), wheelCaptions[n - 1]);
  EXPECT_EQ(MenuCaptionOfId(preset, 1), "Default Profile");
  EXPECT_EQ(MenuCaptionOfId(preset, 3), "Save to file");
}

TEST(AssignmentMenus, MacroSubMenuFollowsTheList) {
  TuiMenuEx menu;
  BuildButtonMenu(menu);
  auto list = NewZeroImage<TMACROKEYINFOLIST>();
  WriteText(list->MacroInfos[0].szMacroName, u"fast");
  WriteText(list->MacroInfos[1].szMacroName, u"slow");
  list->nMacroInfoCount = 2;
  RebuildMacroMenu(menu, *list);
  EXPECT_EQ(MenuCaptionOfId(menu, 1102), "Macro<fast>");
  EXPECT_EQ(MenuCaptionOfId(menu, 1103), "Macro<slow>");
  EXPECT_EQ(menu.ItemOfMenuId(1103)->ItemID(), 1103u);
  // The manager deleted the first: the IDs shift.
  list->MacroInfos[0] = list->MacroInfos[1];
  list->nMacroInfoCount = 1;
  RebuildMacroMenu(menu, *list);
  EXPECT_EQ(MenuCaptionOfId(menu, 1102), "Macro<slow>");
  EXPECT_EQ(MenuCaptionOfId(menu, 1103), "");
  // A damaged count stops at the 21 slots.
  list->nMacroInfoCount = 500;
  RebuildMacroMenu(menu, *list);
  EXPECT_EQ(menu.Items().GetItem(10)->SubItems().Count(), 22);
}

}  // namespace
