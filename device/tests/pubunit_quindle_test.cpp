#include "device/pubunit_quindle.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

uint8_t At(const TMOUSEPROFILEINFO& p, size_t offset) {
  return std::to_integer<uint8_t>(ImageBytes(p)[offset]);
}

std::vector<uint8_t> Range(const TMOUSEPROFILEINFO& p, size_t offset, size_t n) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < n; ++i) out.push_back(At(p, offset + i));
  return out;
}

TEST(ProfileImage, NewImageIsAllZeroBytes) {
  auto p = NewZeroImage<TMOUSEPROFILEINFO>();
  for (std::byte b : ImageBytes(*p)) ASSERT_EQ(b, std::byte{0});
}

// Sets one field of each kind through the record and reads it back from the
// bytes at the offsets that files and the other program use.
TEST(ProfileImage, FieldsLandAtTheirImageOffsets) {
  auto p = NewZeroImage<TMOUSEPROFILEINFO>();
  p->ProfileHeader.FFileVersion = kProfileFileVersion;
  p->ConfigInfo.ButtonCount = 0x01020304;
  p->ConfigInfo.LEDConfig = {0xAA, 0xBB, 0xCC, 2, 3, 4};
  p->ConfigInfo.ReportRate = 1000;
  p->ConfigInfo.CurrentCPIIndex = -2;
  p->ConfigInfo.HWVWheelValue = -1;
  p->ConfigInfo.CPIState[1] = {0x1234, 0x5678, 1};
  p->ConfigInfo.FireKeyCount = 2;
  TBUTTONFUNCINFO& b3 = p->ConfigInfo.ButtonFuncInfo[3];
  b3.FunctionType = kFunctionTypeMicMute;
  b3.FunctionIndex = kMicMuteFunctionIndex;
  b3.FunctionClass = kMicMuteFunctionClass;
  b3.MenuId = kMicMuteMenuId;
  b3.MicMask[0] = 0x08;
  b3.ComboKey.nModifier = 6;
  b3.MacroInfo.MacroList[2] = {4, 1, 65, 0};
  b3.MacroInfo.MacroListCount = 3;
  ASSERT_TRUE(WriteText(b3.MacroInfo.szMacroName, u"Mé"));
  p->ConfigInfo.VWheelButtonFuncInfo[1].WheelValue = 0x7F;
  p->MacroKeyInfoList.nMacroInfoCount = 21;
  p->MacroKeyInfoList.MacroInfos[20].ErrorCount = 9;

  EXPECT_EQ(Range(*p, 0, 4), (std::vector<uint8_t>{0x02, 0x01, 0, 0}));
  EXPECT_EQ(Range(*p, 82988, 4), (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(Range(*p, 82980, 7), (std::vector<uint8_t>{0xAA, 0xBB, 0xCC, 2, 3, 4, 0}));
  EXPECT_EQ(At(*p, 82987), 0);  // padding
  EXPECT_EQ(Range(*p, 860 + 71686, 2), (std::vector<uint8_t>{0xE8, 0x03}));
  EXPECT_EQ(Range(*p, 860 + 71688, 4), (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(At(*p, 860 + 71676), 0xFF);
  EXPECT_EQ(Range(*p, 860 + 71724 + 6, 6), (std::vector<uint8_t>{0x34, 0x12, 0x78, 0x56, 1, 0}));
  EXPECT_EQ(At(*p, 860 + 84200), 2);

  const size_t b3at = 860 + 3 * 3772;
  EXPECT_EQ(At(*p, b3at + 3756), 11);
  EXPECT_EQ(Range(*p, b3at + 3754, 2), (std::vector<uint8_t>{34, 0}));
  EXPECT_EQ(Range(*p, b3at + 3760, 4), (std::vector<uint8_t>{19, 0, 0, 0}));
  EXPECT_EQ(Range(*p, b3at + 3764, 4), (std::vector<uint8_t>{0xF0, 0x03, 0, 0}));
  EXPECT_EQ(Range(*p, b3at + 3748, 4), (std::vector<uint8_t>{0x08, 0, 0, 0}));
  EXPECT_EQ(Range(*p, b3at + 6 + 8, 2), (std::vector<uint8_t>{6, 0}));
  EXPECT_EQ(Range(*p, b3at + 24 + 12, 6), (std::vector<uint8_t>{4, 0, 1, 0, 65, 0}));
  EXPECT_EQ(Range(*p, b3at + 24 + 768, 4), (std::vector<uint8_t>{3, 0, 0, 0}));
  EXPECT_EQ(Range(*p, b3at + 24 + 780, 6), (std::vector<uint8_t>{'M', 0, 0xE9, 0, 0, 0}));
  EXPECT_EQ(Range(*p, 860 + 56580 + 3772 + 924, 4), (std::vector<uint8_t>{0x7F, 0, 0, 0}));
  EXPECT_EQ(Range(*p, 86664 + 18732, 2), (std::vector<uint8_t>{21, 0}));
  EXPECT_EQ(At(*p, 86664 + 20 * 892 + 888), 9);
}

TEST(ProfileImage, LoadImageCopiesOnlyWhatIsStored) {
  TMACROKEYINFO m;
  ZeroImage(m);
  m.MacroListCount = 7;
  std::vector<std::byte> shortImage(2, std::byte{0xFF});
  EXPECT_EQ(LoadImage(m, shortImage), 2u);
  EXPECT_EQ(m.MacroList[0].nKeyType, 0xFFFF);
  EXPECT_EQ(m.MacroListCount, 7);  // the rest as it was
  std::vector<std::byte> longImage(sizeof m + 10, std::byte{1});
  EXPECT_EQ(LoadImage(m, longImage), sizeof m);
  EXPECT_EQ(m.ErrorCount, 0x01010101);
}

TEST(SettingsImages, OffsetsOfTheStoredFields) {
  auto g = NewZeroImage<TProfileSettingGroup>();
  g->ProfileIndexOfProfileGroup[1] = 4;
  g->ProfileSettingList[1].Storage = kStorageFile;
  ASSERT_TRUE(WriteText(g->ProfileSettingList[0].FileName, u"Profile1.pfd"));
  const auto bytes = ImageBytes(*g);
  EXPECT_EQ(bytes[8], std::byte{4});
  EXPECT_EQ(bytes[12 + 6190 + 6188], std::byte{1});
  EXPECT_EQ(bytes[12 + 4098], std::byte{'P'});
  EXPECT_EQ(bytes[12 + 4098 + 2 * 11], std::byte{'d'});

  auto a = NewZeroImage<TALLGAMESINFO>();
  a->CurrentGame = 3;
  a->CurrentLanguage = 1;
  EXPECT_EQ(ImageBytes(*a)[30952], std::byte{3});
  EXPECT_EQ(ImageBytes(*a)[30956], std::byte{1});
}

TEST(CpiUnit, PackedItemsThroughAccessors) {
  CPI_UNIT u;
  ZeroImage(u);
  u.password = kCpiUnitPassword;
  u.HWCpi[1].SetEnabled(1);
  u.HWCpi[1].SetX(0x11223344);
  u.HWCpi[1].SetY(800);
  u.XYCpiRate[9] = {125, -1};
  const auto b = ImageBytes(u);
  EXPECT_EQ(b[0], std::byte{0x5A});
  EXPECT_EQ(b[1], std::byte{0x3C});
  EXPECT_EQ(b[18 + 9], std::byte{1});
  EXPECT_EQ(b[18 + 9 + 1], std::byte{0x44});
  EXPECT_EQ(b[18 + 9 + 4], std::byte{0x11});
  EXPECT_EQ(b[18 + 9 + 5], std::byte{0x20});
  EXPECT_EQ(b[18 + 9 + 6], std::byte{0x03});
  EXPECT_EQ(b[198 + 36], std::byte{125});
  EXPECT_EQ(b[198 + 38], std::byte{0xFF});
  EXPECT_EQ(u.HWCpi[1].X(), 0x11223344u);
  EXPECT_EQ(u.HWCpi[1].Y(), 800u);
}

TEST(Text, ReaderStopsAtTerminatorOrArrayEnd) {
  char16_t units[4] = {u'a', u'b', u'\0', u'z'};
  EXPECT_EQ(ReadText(units), u"ab");
  char16_t full[3] = {u'x', u'y', u'z'};
  EXPECT_EQ(ReadText(full), u"xyz");
}

TEST(Text, WriterRefusesWhatDoesNotFit) {
  char16_t units[4] = {u'q', u'q', u'q', u'q'};
  EXPECT_FALSE(WriteText(units, u"abcde"));
  EXPECT_EQ(units[0], u'q');  // unchanged
  EXPECT_TRUE(WriteText(units, u"abcd"));
  EXPECT_EQ(ReadText(units), u"abcd");
  EXPECT_TRUE(WriteText(units, u"a"));
  EXPECT_EQ(units[1], u'\0');
  EXPECT_EQ(units[3], u'\0');

  TProfileSetting s;
  ZeroImage(s);
  EXPECT_FALSE(WriteText(s.FileName, std::u16string(21, u'n'), kProfileFileNameMaxUnits));
  EXPECT_TRUE(WriteText(s.FileName, std::u16string(20, u'n'), kProfileFileNameMaxUnits));
  EXPECT_EQ(s.FileName[20], u'\0');
}

TEST(Text, MacroNameIsCutNeverInsideASurrogatePair) {
  TMACROKEYINFO m;
  ZeroImage(m);
  std::u16string sixty(60, u'm');
  EXPECT_EQ(WriteTextCut(m.szMacroName, sixty).size(), 50u);
  EXPECT_EQ(ReadText(m.szMacroName), std::u16string(50, u'm'));

  std::u16string pairAtCut(49, u'x');
  pairAtCut += u"\U0001F600tail";  // units 49 and 50 are one character
  EXPECT_EQ(WriteTextCut(m.szMacroName, pairAtCut), std::u16string(49, u'x'));
  EXPECT_EQ(m.szMacroName[49], u'\0');

  std::u16string pairBefore(48, u'x');
  pairBefore += u"\U0001F600tail";  // the pair ends exactly at unit 50
  EXPECT_EQ(WriteTextCut(m.szMacroName, pairBefore).size(), 50u);
}

TEST(DeviceFunctionTable, RowsAndRanges) {
  struct Row { int row, cls, menu; };
  const Row rows[] = {{0, 1, 1},   {1, 2, 2},    {2, 3, 3},    {3, 5, 4},    {4, 4, 5},
                      {5, 16, 6},  {6, 15, 7},   {7, 15, 801}, {14, 15, 808}, {15, 15, 901},
                      {20, 15, 906}, {21, 14, 1001}, {27, 14, 1007}, {28, 17, 11}, {29, 8, 12},
                      {30, 9, 13}, {31, 10, 14}, {32, 18, 15}, {33, 14, 16}, {34, 19, 1008}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.row);
    auto f = DeviceFunctionOf(r.row);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->FunctionIndex, r.row);
    EXPECT_EQ(f->FunctionClass, r.cls);
    EXPECT_EQ(f->MenuId, r.menu);
    EXPECT_EQ(FunctionOfMenuId(r.menu), r.row);
  }
  for (int i = 0; i < kDeviceFunctionCount; ++i) EXPECT_EQ(DeviceFunctionTable[i].FunctionIndex, i);
  EXPECT_EQ(FunctionClassOf(kMicMuteFunctionIndex), 19);
  EXPECT_EQ(MenuIdOfFunction(kMicMuteFunctionIndex), 1008);
}

TEST(DeviceFunctionTable, OutOfRangeIsNotFound) {
  for (int64_t i : {int64_t{-1}, int64_t{35}, int64_t{1008}, int64_t{65535}, INT64_MIN, INT64_MAX}) {
    EXPECT_FALSE(DeviceFunctionOf(i));
    EXPECT_FALSE(FunctionClassOf(i));
    EXPECT_FALSE(MenuIdOfFunction(i));
  }
  EXPECT_FALSE(FunctionOfMenuId(0));
  EXPECT_FALSE(FunctionOfMenuId(1009));
  EXPECT_FALSE(FunctionOfMenuId(-1));
}

TEST(ButtonMaskTable, EntriesAndRange) {
  EXPECT_EQ(ButtonMaskOf(0), (TButtonMask{0x07, 0x01, 0x00, 0x00}));
  EXPECT_EQ(ButtonMaskOf(8), (TButtonMask{0x07, 0x00, 0x01, 0x00}));
  EXPECT_EQ(ButtonMaskOf(23), (TButtonMask{0x07, 0x00, 0x00, 0x80}));
  EXPECT_EQ(ButtonMaskOf(5), (TButtonMask{0x07, 0x20, 0x00, 0x00}));
  EXPECT_FALSE(ButtonMaskOf(24));
  EXPECT_FALSE(ButtonMaskOf(-1));
}

TEST(ProgramIdentity, StringsAndRange) {
  const std::u16string_view expected[] = {u"TMarvaneMain", u"Marvane.exe",  u"Gaming Mouse Config",
                                          u"TTessoldMain", u"tessold.exe", u"Gaming Mouse Monitor",
                                          u"Gaming Mouse Driver"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(ProgramIdentityOf(i), expected[i]);
  EXPECT_FALSE(ProgramIdentityOf(7));
  EXPECT_FALSE(ProgramIdentityOf(-1));
}

}  // namespace
