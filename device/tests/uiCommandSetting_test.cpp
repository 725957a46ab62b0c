#include "device/uiCommandSetting.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

// The main window's list: five refresh commands and "SetLED" without handler.
TEST(uiCommandSetting, SetDataRunsHandlersInListOrderAndSkipsEmptyOnes) {
  TuiCommandSetting setting;
  std::vector<QString> calls;
  std::array<uint8_t, 30964> group{};
  const char* names[] = {"SetButton", "SetCPI", "SetMouseParam", "SetProfileBtn", "SetReport", "SetLED"};
  for (const char* name : names) {
    TuiCommand& c = setting.Commands().Add();
    c.Name = QString::fromLatin1(name);
    if (c.Name != QLatin1String("SetLED")) {
      c.OnExecute = [&calls, &group, name = c.Name](TuiGetSet kind, void* buffer, uint32_t size) {
        EXPECT_EQ(kind, uiSet);
        EXPECT_EQ(buffer, group.data());
        EXPECT_EQ(size, 30964u);
        calls.push_back(name);
      };
    }
  }
  EXPECT_TRUE(setting.SetData(group.data(), group.size()));
  EXPECT_EQ(calls, (std::vector<QString>{"SetButton", "SetCPI", "SetMouseParam", "SetProfileBtn", "SetReport"}));
}

TEST(uiCommandSetting, GetDataPassesGet) {
  TuiCommandSetting setting;
  TuiGetSet seen = uiSet;
  setting.Commands().Add().OnExecute = [&](TuiGetSet kind, void*, uint32_t) { seen = kind; };
  EXPECT_TRUE(setting.GetData(nullptr, 0));
  EXPECT_EQ(seen, uiGet);
}

TEST(uiCommandSetting, EmptyListAnswersTrue) {
  TuiCommandSetting setting;
  EXPECT_TRUE(setting.SetData(nullptr, 0));
}

TEST(uiCommandSetting, NamesTakeTheSmallestFreeCommandNumber) {
  TuiCommands commands;
  EXPECT_EQ(commands.Add().Name, "Command1");
  EXPECT_EQ(commands.Add().Name, "Command2");
  EXPECT_EQ(commands.Add().Name, "Command3");
  ASSERT_TRUE(commands.Delete(1));
  EXPECT_EQ(commands.Add().Name, "Command2");
  commands.Items(0)->Name = "COMMAND4";  // taken, whatever the case
  EXPECT_EQ(commands.Add().Name, "Command1");
  EXPECT_EQ(commands.Add().Name, "Command5");
  EXPECT_FALSE(commands.Delete(6));
  EXPECT_FALSE(commands.Delete(-1));
  EXPECT_EQ(commands.Items(6), nullptr);
}

TEST(uiCommandSetting, SettingCommandsCopiesTheItems) {
  TuiCommandSetting a;
  int runs = 0;
  TuiCommand& c = a.Commands().Add();
  c.Name = "SetCPI";
  c.Description = "refresh";
  c.OnExecute = [&](TuiGetSet, void*, uint32_t) { ++runs; };
  TuiCommandSetting b;
  b.Commands().Add();
  b.Commands().Add();
  b.SetCommands(a.Commands());
  ASSERT_EQ(b.Commands().Count(), 1);
  EXPECT_EQ(b.Commands().Items(0)->Name, "SetCPI");
  EXPECT_EQ(b.Commands().Items(0)->Description, "refresh");
  EXPECT_EQ(b.Commands().Items(0)->Collection(), &b.Commands());
  EXPECT_EQ(b.Commands().GetOwner(), &b);
  b.SetData(nullptr, 0);
  EXPECT_EQ(runs, 1);
  a.Commands().Clear();  // the copy does not depend on the source
  b.SetData(nullptr, 0);
  EXPECT_EQ(runs, 2);
}

}  // namespace
