#include "device/uiKeyCode.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "device/pubunit_quindle.h"

namespace {

int CountRealRows(const TKeyTable& table) {
  int n = 0;
  for (const TKeyboardInfoTable& row : table)
    if (row.VKName.rfind("VK_UNDEFINED_", 0) != 0 || row.VKName.size() == 15) ++n;
  return n;
}

TEST(KeyTables, StaticRowCounts) {
  // 199 named rows in the normal array (the two-digit "VK_UNDEFINED_xx" rows
  // included), 12 in the extended one.
  EXPECT_EQ(CountRealRows(KeyTableNormal()), 199);
  EXPECT_EQ(CountRealRows(KeyTableExtended()), 12);
  for (int i = 0; i < kKeyTableRows; ++i) {
    EXPECT_EQ(KeyTableNormal()[i].VKCode, i);
    EXPECT_EQ(KeyTableExtended()[i].VKCode, i);
    EXPECT_EQ(KeyTableExtended()[i].Extended, kKeyExtended);
  }
}

TEST(KeyTables, PlaceholderRows) {
  const TKeyboardInfoTable& p = KeyTableNormal()[0xFF];
  EXPECT_EQ(p.VKName, "VK_UNDEFINED_0FF");
  EXPECT_EQ(p.KeyDescription, "UNDEFINED_0FF");
  EXPECT_EQ(p.HIDCode, -1);
  EXPECT_EQ(p.Extended, kKeyNotExtended);
  EXPECT_EQ(KeyTableExtended()[65].VKName, "VK_UNDEFINED_041");
  EXPECT_EQ(KeyTableNormal()[299].VKName, "VK_UNDEFINED_12B");

  const TKeyboardInfoTable& u = KeyTableNormal()[10];
  EXPECT_EQ(u.VKName, "VK_UNDEFINED_0A");
  EXPECT_EQ(u.KeyDescription, "Undefined");
  EXPECT_EQ(u.HIDCode, -1);
  EXPECT_EQ(KeyTableNormal()[224].VKName, "VK_UNDEFINED_E0");
  EXPECT_EQ(KeyTableNormal()[159].KeyDescription, "Undefined");
}

struct KeyCase {
  int vk;
  int ext;
  uint32_t hid;
  const char* text;
};

TEST(KeyTables, RowsOfEachGroup) {
  const KeyCase cases[] = {
      {13, 0, 40, "ENTER"},        {13, 225, 88, "ENTER"},       {13, 1, 88, "ENTER"},
      {33, 0, 97, "PAGE UP"},      {33, 1, 75, "PAGE UP"},       {163, 0, 228, "R CTRL"},
      {163, 1, 228, "R CTRL"},     {65, 0, 4, "A"},              {90, 224, 29, "Z"},
      {48, 0, 39, "0"},            {49, 0, 30, "1"},             {57, 0, 38, "9"},
      {112, 0, 58, "F1"},          {123, 0, 69, "F12"},          {124, 0, 104, "F13"},
      {135, 0, 115, "F24"},        {96, 0, 98, "NUMPAD 0"},      {105, 0, 97, "NUMPAD 9"},
      {166, 1, 548, "BROWSER_BACK"}, {181, 1, 387, "LAUNCH_MEDIA_SELECT"}, {179, 0, 205, "MEDIA_PLAY_PAUSE"},
      {186, 0, 51, ";:"},          {222, 0, 52, "'\""},          {192, 0, 53, "~`"},
      {220, 0, 49, "\\|"},         {226, 0, 100, "Europe 2 (Note 2)"}, {1, 0, 0, "Mouse Left Click"},
      {0, 0, 0, ""},               {45, 0, 98, "Keypad 0 Insert"}, {45, 1, 73, "INS"},
      {46, 1, 76, "DEL"},          {44, 0, 70, "PRINT SCREEN"},  {91, 1, 227, "L WIN"},
      {255, 1, 102, "POWER"},      {65, 5, 0, "UNDEFINED_041"},  {250, 0, 0, "UNDEFINED_0FA"},
      {300, 0, 0, ""},             {-1, 0, 0, ""},               {1 << 20, 1, 0, ""},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.vk << "/" << c.ext);
    EXPECT_EQ(VKToHIDCode(c.vk, c.ext), c.hid);
    EXPECT_EQ(VKToKeyDescription(c.vk, c.ext), c.text);
  }
  EXPECT_EQ(KeyTableNormal()[186].ScanCode, 0x27);
  EXPECT_EQ(KeyTableExtended()[255].ScanCode, 0x5E);
  EXPECT_EQ(FindKeyRow(300, 0), nullptr);
}

TEST(Modifiers, TextAndHidOrder) {
  EXPECT_EQ(ModifierToText(15), "Alt+Ctrl+Shift+WIN+");
  EXPECT_EQ(ModifierToText(0), "");
  EXPECT_EQ(ModifierToText(6), "Ctrl+Shift+");
  EXPECT_EQ(ModifierToHIDModifier(6), 3);
  EXPECT_EQ(ModifierToHIDModifier(9), 12);
  EXPECT_EQ(ModifierToHIDModifier(0xF0), 0);
}

TEST(PresetTables, RowsAndRange) {
  THID_CODE_INFO h{};
  ASSERT_TRUE(GetMediaHIDCodeInfo(4, h));
  EXPECT_EQ(h.nKeyValue1, 233);
  EXPECT_EQ(h.nKeyValue2, 0);
  EXPECT_EQ(h.nModifier, 0);
  const uint16_t media[8] = {205, 183, 182, 181, 233, 234, 226, 387};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(MediaHIDCodes()[i].nKeyValue1, media[i]);

  TCOMBOKEYINFO c{};
  ASSERT_TRUE(GetOfficeComboKeyInfo(2, c));
  EXPECT_EQ(c.nKeyValue1, 86);
  EXPECT_EQ(c.nModifier, 2);
  ASSERT_TRUE(GetSystemComboKeyInfo(1, c));
  EXPECT_EQ(c.nKeyValue1, 115);
  EXPECT_EQ(c.nModifier, 1);
  EXPECT_EQ(SystemHIDCodes()[1].nModifier, 4);
  EXPECT_EQ(SystemHIDCodes()[5].nModifier, 8);
  EXPECT_EQ(SystemHIDCodes()[5].nKeyValue1, 15);  // L
  EXPECT_EQ(OfficeHIDCodes()[0].nModifier, 1);
  EXPECT_EQ(OfficeHIDCodes()[0].nKeyValue1, 27);  // X
  EXPECT_EQ(MediaComboKeys()[7].nKeyValue1, 181);
  EXPECT_EQ(MediaComboKeys()[7].nKey1Extended, 1);

  ASSERT_TRUE(GetSystemComboKeyInfo(49, c));
  EXPECT_EQ(c.nKeyValue1, 0);
  EXPECT_EQ(c.nModifier, 0);
  c = {1, 2, 3, 4, 5};
  EXPECT_FALSE(GetSystemComboKeyInfo(50, c));
  EXPECT_FALSE(GetOfficeComboKeyInfo(-1, c));
  EXPECT_EQ(c.nKeyValue1, 1);
  EXPECT_EQ(c.nModifier, 5);
  h = {7, 8, 9};
  EXPECT_FALSE(GetMediaHIDCodeInfo(50, h));
  EXPECT_EQ(h.nKeyValue1, 7);
}

TEST(KeyTables, FirstLookUpFromManyThreads) {
  // Run under the thread sanitizer build too: the first look-up builds the
  // tables, whichever thread makes it.
  std::vector<std::thread> threads;
  std::vector<uint32_t> got(8);
  for (int i = 0; i < 8; ++i) threads.emplace_back([&got, i] { got[i] = VKToHIDCode(65 + i, 0); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(got[i], uint32_t(4 + i));
}

}  // namespace
