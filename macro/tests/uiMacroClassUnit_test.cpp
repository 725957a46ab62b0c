#include "macro/uiMacroClassUnit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

TMACROKEY key(uint8_t vk, uint16_t state, uint8_t ext = 0) { return {kMacroStepKeyboard, state, vk, ext}; }
TMACROKEY down(uint8_t vk, uint8_t ext = 0) { return key(vk, 1, ext); }
TMACROKEY up(uint8_t vk, uint8_t ext = 0) { return key(vk, 0, ext); }
TMACROKEY delay(uint16_t ms) {
  return {kMacroStepDelay, 0, static_cast<uint8_t>(ms & 0xFF), static_cast<uint8_t>(ms >> 8)};
}
TMACROKEY media(uint16_t state) { return {kMacroStepMedia, state, 0xCD, 0x00}; }
TMACROKEY button(uint16_t state) { return {kMacroStepMouseButton, state, 1, 0}; }

bool same(const TMACROKEY& a, const TMACROKEY& b) {
  return a.nKeyType == b.nKeyType && a.nKeyState == b.nKeyState && a.VALUE1 == b.VALUE1 && a.VALUE2 == b.VALUE2;
}

TMACROKEYINFO macroOf(std::u16string_view name, const std::vector<TMACROKEY>& steps) {
  TMACROKEYINFO info;
  ZeroImage(info);
  WriteTextCut(info.szMacroName, name);
  for (size_t i = 0; i < steps.size(); ++i) info.MacroList[i] = steps[i];
  info.MacroListCount = static_cast<int32_t>(steps.size());
  return info;
}

std::unique_ptr<TMACROKEYINFOLIST> listOf(const std::vector<TMACROKEYINFO>& macros) {
  auto list = NewZeroImage<TMACROKEYINFOLIST>();
  for (size_t i = 0; i < macros.size(); ++i) list->MacroInfos[i] = macros[i];
  list->nMacroInfoCount = static_cast<uint16_t>(macros.size());
  return list;
}

// A model holding one macro with `steps`, selected, with its actions object.
std::unique_ptr<TuiMacroClass> modelWith(const std::vector<TMACROKEY>& steps) {
  auto model = TuiMacroClass::CtlCreate(*listOf({macroOf(u"m", steps)}));
  model->SetMacroListIndex(0);
  return model;
}

std::vector<TMACROKEY> stepsOf(const TuiMacroClass& model, int index = 0) {
  TMACROKEYINFO info;
  EXPECT_TRUE(model.GetMacroKeyItem(index, info));
  return std::vector<TMACROKEY>(info.MacroList, info.MacroList + info.MacroListCount);
}

void expectSteps(const std::vector<TMACROKEY>& got, const std::vector<TMACROKEY>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(same(got[i], want[i])) << "step " << i;
}

}  // namespace

// ---------------------------------------------------------------------------
// Error rules

struct ErrorCase {
  const char* what;
  std::vector<TMACROKEY> steps;
  int errors;
  std::vector<TMACROKEY> afterRemove;
};

class ErrorRules : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorRules, CountAndRemove) {
  const ErrorCase& c = GetParam();
  auto model = modelWith(c.steps);
  EXPECT_EQ(model->CurrentMacroAction()->CheckErrors(), c.errors);
  TMACROKEYINFO info;
  ASSERT_TRUE(model->GetMacroKeyItem(0, info));
  EXPECT_EQ(info.HaveErrors, c.errors > 0 ? 1 : 0);
  EXPECT_EQ(info.ErrorCount, c.errors);

  model->CurrentMacroAction()->RemoveErrors();
  ASSERT_TRUE(model->GetMacroKeyItem(0, info));
  EXPECT_EQ(info.HaveErrors, 0);
  EXPECT_EQ(info.ErrorCount, 0);
  expectSteps(stepsOf(*model), c.afterRemove);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorRules,
    ::testing::Values(
        ErrorCase{"paired", {down(65), delay(20), up(65)}, 0, {down(65), delay(20), up(65)}},
        ErrorCase{"A down, A down, A up", {down(65), down(65), up(65)}, 1, {down(65), down(65), up(65)}},
        ErrorCase{"A down alone", {down(65), delay(30)}, 1, {delay(30)}},
        ErrorCase{"A down twice, never up", {down(65), delay(5), down(65)}, 2, {down(65), delay(5)}},
        ErrorCase{"A up alone", {up(65)}, 1, {up(65)}},
        ErrorCase{"media never released", {media(1)}, 0, {media(1)}},
        ErrorCase{"button never released", {button(1)}, 0, {button(1)}},
        ErrorCase{"media pressed twice", {media(1), media(1)}, 1, {media(1), media(1)}},
        ErrorCase{"plain and extended apart", {down(0x2E, 0), up(0x2E, 1)}, 2, {up(0x2E, 1)}},
        ErrorCase{"delay steps never count", {delay(0), delay(65535)}, 0, {delay(0), delay(65535)}},
        ErrorCase{"state other than 1 releases", {down(65), key(65, 7)}, 0, {down(65), key(65, 7)}},
        ErrorCase{"held keys in first-seen order", {down(66), down(65), up(67)}, 3, {up(67)}}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(ErrorRulesBinding, NextStepEditOfTheSameObjectRestoresTheCopysErrorFields) {
  auto model = modelWith({down(65), down(65), up(65)});
  TuiActionsClass* actions = model->CurrentMacroAction();
  EXPECT_EQ(actions->CheckErrors(), 1);
  actions->SetDelayValue(0, 65);  // any step edit writes the whole copy back
  TMACROKEYINFO info;
  model->GetMacroKeyItem(0, info);
  EXPECT_EQ(info.HaveErrors, 0);
}

// ---------------------------------------------------------------------------
// Step editing

TEST(Actions, InsertDeleteMoveKeepTheSelectionOnItsStep) {
  auto model = modelWith({down(1), down(2), down(3)});
  TuiActionsClass* a = model->CurrentMacroAction();
  EXPECT_EQ(a->ActionIndex(), 0);
  a->SetActionIndex(1);
  EXPECT_TRUE(a->InsertAction(down(9), 1));
  EXPECT_EQ(a->ActionIndex(), 2);
  expectSteps(stepsOf(*model), {down(1), down(9), down(2), down(3)});

  EXPECT_TRUE(a->MoveUpAction(2));
  EXPECT_EQ(a->ActionIndex(), 1);
  EXPECT_FALSE(a->MoveUpAction(0));
  EXPECT_FALSE(a->MoveDownAction(3));
  EXPECT_TRUE(a->MoveDownAction(1));
  EXPECT_EQ(a->ActionIndex(), 2);
  expectSteps(stepsOf(*model), {down(1), down(9), down(2), down(3)});

  a->SetActionIndex(3);
  EXPECT_TRUE(a->DeleteAction(3));
  EXPECT_EQ(a->ActionIndex(), 2);
  a->SetActionIndex(7);  // ignored
  EXPECT_EQ(a->ActionIndex(), 2);
}

TEST(Actions, InsertAfterAndTheIndexPastTheEnd) {
  auto model = modelWith({});
  TuiActionsClass* a = model->CurrentMacroAction();
  EXPECT_EQ(a->ActionIndex(), -1);
  EXPECT_FALSE(a->InsertAction(down(1), 0));  // no step to insert before
  EXPECT_FALSE(a->InsertActionAfter(down(1), 1));
  EXPECT_TRUE(a->InsertActionAfter(down(1), 0));  // = count: appends
  EXPECT_TRUE(a->InsertActionAfter(down(2), 0));  // = count-1: appends
  EXPECT_TRUE(a->InsertActionAfter(down(3), 2));
  expectSteps(stepsOf(*model), {down(1), down(2), down(3)});

  // After RemoveErrors deleted the last step, ActionIndex can equal the count.
  auto m2 = modelWith({up(5), down(6)});
  TuiActionsClass* b = m2->CurrentMacroAction();
  b->SetActionIndex(1);
  b->RemoveErrors();
  EXPECT_EQ(b->ActionIndex(), 1);
  EXPECT_EQ(b->MacroListCount(), 1);
  EXPECT_FALSE(b->DeleteAction(1));
  EXPECT_FALSE(b->InsertAction(down(7), 1));
  EXPECT_FALSE(b->MoveUpAction(1));
  EXPECT_TRUE(b->InsertActionAfter(down(7), 1));
  expectSteps(stepsOf(*m2), {up(5), down(7)});
}

TEST(Actions, FullMacroRefusesInserts) {
  std::vector<TMACROKEY> steps(128, delay(10));
  auto model = modelWith(steps);
  TuiActionsClass* a = model->CurrentMacroAction();
  EXPECT_TRUE(a->IsFull());
  EXPECT_FALSE(a->InsertAction(down(1), 0));
  EXPECT_FALSE(a->InsertActionAfter(down(1), 128));
  EXPECT_EQ(a->TotalDelay(), 1280u);
}

TEST(Clipboard, CopyPastesManyTimesCutOnce) {
  auto model = modelWith({down(1), up(1)});
  TuiActionsClass* a = model->CurrentMacroAction();
  EXPECT_TRUE(a->CopyAction(0));
  EXPECT_TRUE(a->PasteAction(0));
  EXPECT_TRUE(a->PasteAction(0));
  expectSteps(stepsOf(*model), {down(1), down(1), down(1), up(1)});

  EXPECT_TRUE(a->CutAction(3));
  expectSteps(stepsOf(*model), {down(1), down(1), down(1)});
  EXPECT_TRUE(a->PasteAction(0));
  EXPECT_FALSE(a->PasteAction(0));
  expectSteps(stepsOf(*model), {up(1), down(1), down(1), down(1)});
}

TEST(Clipboard, CutStepSurvivesARefusedPaste) {
  auto model = modelWith({down(1)});
  TuiActionsClass* a = model->CurrentMacroAction();
  EXPECT_TRUE(a->CutAction(0));  // the only step: the macro is now empty
  EXPECT_FALSE(a->PasteAction(0));  // nowhere to paste before
  EXPECT_TRUE(a->HasClipboard());
  a->InsertActionAfter(delay(10), 0);
  EXPECT_TRUE(a->PasteAction(0));
  EXPECT_FALSE(a->HasClipboard());
  expectSteps(stepsOf(*model), {down(1), delay(10)});
}

TEST(Clipboard, GoesWithTheActionsObject) {
  auto model = TuiMacroClass::CtlCreate(*listOf({macroOf(u"a", {down(1)}), macroOf(u"b", {down(2)})}));
  model->SetMacroListIndex(0);
  model->CurrentMacroAction()->CopyAction(0);
  model->SetMacroListIndex(1);
  EXPECT_FALSE(model->CurrentMacroAction()->PasteAction(0));
  expectSteps(stepsOf(*model, 1), {down(2)});
}

TEST(Actions, DelayValuesAndRange) {
  auto model = modelWith({delay(300), down(65, 1)});
  TuiActionsClass* a = model->CurrentMacroAction();
  EXPECT_EQ(a->GetDelayValue(0), 300);
  EXPECT_EQ(a->GetDelayValue(1), 256 + 65);  // whatever the type
  EXPECT_EQ(a->GetDelayValue(2), 0);
  EXPECT_TRUE(a->SetDelayValue(0, 65535));
  EXPECT_FALSE(a->SetDelayValue(0, 65536));
  EXPECT_FALSE(a->SetDelayValue(0, -1));
  expectSteps(stepsOf(*model), {delay(65535), down(65, 1)});
}

// ---------------------------------------------------------------------------
// Macro list

TEST(MacroList, CreateSelectsWithoutRebuildAndReindexes) {
  TuiMacroClass model;
  EXPECT_EQ(model.MacroListIndex(), -1);
  EXPECT_TRUE(model.CreateNewMacro(u"one"));
  EXPECT_TRUE(model.CreateNewMacro(u"two"));
  EXPECT_EQ(model.MacroListIndex(), 1);
  EXPECT_EQ(model.CurrentMacroAction(), nullptr);
  TMACROKEYINFO info;
  ASSERT_TRUE(model.GetMacroKeyItem(1, info));
  EXPECT_EQ(info.nMacroIndex, 1);
  EXPECT_EQ(info.Version, 0u);  // the model never sets the format version
  EXPECT_FALSE(model.IsEmpty());
  EXPECT_TRUE(model.MacroExists(u"two"));
  EXPECT_FALSE(model.MacroExists(u"Two"));  // exact comparison

  EXPECT_TRUE(model.MoveUpMacro(1));
  EXPECT_EQ(model.MacroListIndex(), 0);
  EXPECT_EQ(model.IndexOfMacroName(u"two"), 0);
  ASSERT_TRUE(model.GetMacroKeyItem(1, info));
  EXPECT_EQ(info.nMacroIndex, 1);
  EXPECT_FALSE(model.MoveDownMacro(1));

  EXPECT_TRUE(model.DeleteMacro(1));
  EXPECT_EQ(model.MacroListIndex(), 0);
  EXPECT_TRUE(model.DeleteMacroByName(u"two"));
  EXPECT_EQ(model.MacroListIndex(), -1);
  EXPECT_FALSE(model.DeleteMacro(0));
}

TEST(MacroList, TwentyOneSlotsAndNoMore) {
  TuiMacroClass model;
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(model.CreateNewMacro(std::u16string{u'm', char16_t(u'a' + i)}));
  EXPECT_TRUE(model.IsFull());
  EXPECT_TRUE(model.CreateNewMacro(u"21st"));  // the callers guard 20
  EXPECT_FALSE(model.CreateNewMacro(u"22nd"));
  auto list = NewZeroImage<TMACROKEYINFOLIST>();
  model.GetMacroKeyInfoList(*list);
  EXPECT_EQ(list->nMacroInfoCount, 21);
  EXPECT_EQ(ReadText(list->MacroInfos[20].szMacroName), u"21st");
}

// A damaged list is read as the encoders read it: its first 21 slots, each
// macro's steps cut into 0..128; no macro the user sees is dropped.
TEST(MacroList, DamagedListsAreLoadedAsTheEncodersReadThem) {
  struct Case {
    uint16_t count;
    int32_t steps;
    int macros;
    int32_t kept;
  };
  const Case cases[] = {
      {22, 1, 21, 1},
      {65535, 1, 21, 1},
      {1, 129, 1, 128},
      {1, 1000000, 1, 128},
      {1, -1, 1, 0},
      {2, 128, 2, 128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " macros, " << c.steps << " steps");
    auto list = listOf({macroOf(u"a", {down(1)})});
    for (int i = 1; i < kProfileMacroSlots; ++i) list->MacroInfos[i] = list->MacroInfos[0];
    list->nMacroInfoCount = c.count;
    list->MacroInfos[0].MacroListCount = c.steps;
    TuiMacroClass model;
    EXPECT_TRUE(model.LoadMacroInfos(*list));
    ASSERT_EQ(model.MacroListCount(), c.macros);
    TMACROKEYINFO first;
    ASSERT_TRUE(model.GetMacroKeyItem(0, first));
    EXPECT_EQ(first.MacroListCount, c.kept);
    // The editor of the macro takes exactly the kept steps.
    model.SetMacroListIndex(0);
    ASSERT_NE(model.CurrentMacroAction(), nullptr);
    EXPECT_EQ(model.CurrentMacroAction()->MacroListCount(), c.kept);
  }

  // Appending beyond 21 in total is refused.
  auto list = listOf({macroOf(u"a", {down(1)})});
  list->MacroInfos[0].MacroListCount = 0;
  list->nMacroInfoCount = 21;
  TuiMacroClass model;
  EXPECT_TRUE(model.SetMacroKeyInfoList(*list));
  list->nMacroInfoCount = 1;
  EXPECT_FALSE(model.SetMacroKeyInfoList(*list));
  EXPECT_EQ(model.MacroListCount(), 21);
}

TEST(MacroList, SetListAppendsAndSelectsTheFirst) {
  TuiMacroClass model;
  model.CreateNewMacro(u"own");
  EXPECT_TRUE(model.SetMacroKeyInfoList(*listOf({macroOf(u"x", {}), macroOf(u"y", {})})));
  EXPECT_EQ(model.MacroListCount(), 3);
  EXPECT_EQ(model.IndexOfMacroName(u"y"), 2);
  EXPECT_EQ(model.MacroListIndex(), 0);
  model.SetMacroListIndex(5);  // ignored
  EXPECT_EQ(model.MacroListIndex(), 0);
}

TEST(MacroList, NamesThatAreNoPlainFileNameAreRefused) {
  TuiMacroClass model;
  for (const std::u16string& bad : std::vector<std::u16string>{u"", u".", u"..", u"a/b", u"../x", std::u16string(u"a\0b", 3),
                             std::u16string(1, char16_t(0xD800))}) {
    EXPECT_FALSE(model.CreateNewMacro(bad));
  }
  EXPECT_TRUE(model.IsEmpty());
  ASSERT_TRUE(model.CreateNewMacro(u"ok"));
  EXPECT_FALSE(model.ReNameMacro(u"a/b", 0));
  EXPECT_FALSE(model.ReNameMacro(u"ok2", 1));
  EXPECT_TRUE(model.ReNameMacro(u"ok2", 0));
  EXPECT_EQ(model.IndexOfMacroName(u"ok2"), 0);
}

TEST(MacroList, LongNamesAreCutOutsideSurrogatePairs) {
  TuiMacroClass model;
  std::u16string name(49, u'x');
  name += u"\U0001F600";  // a pair at units 49 and 50
  ASSERT_TRUE(model.CreateNewMacro(name));
  TMACROKEYINFO info;
  model.GetMacroKeyItem(0, info);
  EXPECT_EQ(ReadText(info.szMacroName), std::u16string(49, u'x'));
  ASSERT_TRUE(model.ReNameMacro(std::u16string(60, u'y'), 0));
  model.GetMacroKeyItem(0, info);
  EXPECT_EQ(ReadText(info.szMacroName), std::u16string(50, u'y'));  // no terminator
}

TEST(MacroList, LoopValueRebuildsTheActions) {
  auto model = modelWith({down(1), up(1)});
  model->CurrentMacroAction()->SetActionIndex(1);
  EXPECT_TRUE(model->SetMacroLoopValue(0, 255));
  EXPECT_EQ(model->CurrentMacroAction()->ActionIndex(), 0);
  EXPECT_EQ(model->CurrentMacroAction()->GetMacroKeyInfo().nLoopCount, 255);
  EXPECT_FALSE(model->SetMacroLoopValue(0, 65536));
  EXPECT_FALSE(model->SetMacroLoopValue(1, 3));
}

TEST(MacroList, InsertMacroAfterAndBefore) {
  auto model = modelWith({down(1), up(1)});
  const TMACROKEYINFO block = macroOf(u"r", {down(2), up(2)});
  model->InsertMacroAfter(block, 0);
  expectSteps(stepsOf(*model), {down(1), down(2), up(2), up(1)});
  model->InsertMacro(block, 0);
  expectSteps(stepsOf(*model), {down(2), up(2), down(1), down(2), up(2), up(1)});

  // Into a macro without steps: every step is appended.
  auto empty = modelWith({});
  empty->InsertMacroAfter(block, -1);
  expectSteps(stepsOf(*empty), {down(2), up(2)});

  // What does not fit is dropped.
  auto nearlyFull = modelWith(std::vector<TMACROKEY>(127, delay(10)));
  nearlyFull->InsertMacroAfter(block, 126);
  auto steps = stepsOf(*nearlyFull);
  ASSERT_EQ(steps.size(), 128u);
  EXPECT_TRUE(same(steps[127], down(2)));
}

// ---------------------------------------------------------------------------
// Macro files

class MacroFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/macro-files-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override { fs::remove_all(root_); }

  static std::vector<unsigned char> read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path root_;
};

TEST_F(MacroFiles, RawRecordImageAtTheDocumentedOffsets) {
  TMACROKEYINFO info = macroOf(u"Ab\u00e9", {down(0x41), delay(0x1234)});
  info.nAutoAddDelay = 1;
  info.nLoopCount = 3;
  info.nMacroIndex = 2;
  info.Version = 258;
  auto list = listOf({info});
  const fs::path folder = root_ / "macros";  // created, one level
  const TMacroFileResult r = TuiMacroClass::SaveMacroKeyInfoListToMacroFiles(*list, folder.string());
  EXPECT_TRUE(r.Ok) << r.Error;

  const auto bytes = read(folder / "Ab\xc3\xa9.macro");  // the name in UTF-8
  ASSERT_EQ(bytes.size(), 892u);
  const std::vector<unsigned char> step0 = {0x04, 0x00, 0x01, 0x00, 0x41, 0x00};
  const std::vector<unsigned char> step1 = {0x06, 0x00, 0x00, 0x00, 0x34, 0x12};
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 6), step0);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 6, bytes.begin() + 12), step1);
  const std::vector<unsigned char> tail = {0x02, 0x00, 0x00, 0x00,   // MacroListCount at 768
                                           0x01, 0x00, 0x03, 0x00,   // nAutoAddDelay, nLoopCount
                                           0x02, 0x00, 0x00, 0x00,   // nMacroIndex, MacroUse, pad
                                           'A',  0x00, 'b',  0x00, 0xE9, 0x00, 0x00, 0x00};  // name at 780
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 768, bytes.begin() + 788), tail);
  const std::vector<unsigned char> version = {0x02, 0x01, 0x00, 0x00};  // 258 at 880
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 880, bytes.begin() + 884), version);

  // The reader gives the record back.
  TMACROKEYINFO back;
  ZeroImage(back);
  ASSERT_TRUE(TuiMacroClass::LoadMacroFromFile((folder / "Ab\xc3\xa9.macro").string(), back));
  EXPECT_EQ(std::memcmp(&back, &info, sizeof info), 0);
  EXPECT_TRUE(TuiMacroClass::IsValidMacroVersion(back));
}

TEST_F(MacroFiles, TrailingSlashGivesTheSamePath) {
  EXPECT_EQ(TuiMacroClass::MacroFilePath("/x/y", u"n"), "/x/y/n.macro");
  EXPECT_EQ(TuiMacroClass::MacroFilePath("/x/y/", u"n"), "/x/y/n.macro");
  EXPECT_EQ(TuiMacroClass::MacroFilePath("", u"n"), "");
  EXPECT_EQ(TuiMacroClass::MacroFilePath("/x", u".."), "");
}

TEST_F(MacroFiles, ABadNameIsSkippedAndTheOthersAreWritten) {
  auto list = listOf({macroOf(u"first", {}), macroOf(u"../escape", {}), macroOf(u"", {}), macroOf(u"last", {})});
  const TMacroFileResult r = TuiMacroClass::SaveMacroKeyInfoListToMacroFiles(*list, root_.string());
  EXPECT_FALSE(r.Ok);
  ASSERT_EQ(r.Failed.size(), 2u);
  EXPECT_EQ(r.Failed[0], u"../escape");
  EXPECT_TRUE(fs::exists(root_ / "first.macro"));
  EXPECT_TRUE(fs::exists(root_ / "last.macro"));
  EXPECT_FALSE(fs::exists(root_.parent_path() / "escape.macro"));
  EXPECT_FALSE(fs::exists(root_ / ".macro"));
  // Nothing half-written or temporary is left behind.
  int files = 0;
  for (const auto& e : fs::directory_iterator(root_)) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 2);
}

TEST_F(MacroFiles, FilesOfRemovedMacrosStayAndSameNamesEndInOneFile) {
  auto first = listOf({macroOf(u"gone", {}), macroOf(u"kept", {})});
  ASSERT_TRUE(TuiMacroClass::SaveMacroKeyInfoListToMacroFiles(*first, root_.string()).Ok);
  auto second = listOf({macroOf(u"kept", {down(1)}), macroOf(u"kept", {down(2)})});
  ASSERT_TRUE(TuiMacroClass::SaveMacroKeyInfoListToMacroFiles(*second, root_.string()).Ok);
  EXPECT_TRUE(fs::exists(root_ / "gone.macro"));
  EXPECT_EQ(read(root_ / "kept.macro")[4], 2);  // the later one's
}

TEST_F(MacroFiles, RefusedInputsWriteNothing) {
  auto list = listOf({macroOf(u"a", {})});
  EXPECT_FALSE(TuiMacroClass::SaveMacroKeyInfoListToMacroFiles(*list, "").Ok);
  list->nMacroInfoCount = 22;
  EXPECT_FALSE(TuiMacroClass::SaveMacroKeyInfoListToMacroFiles(*list, root_.string()).Ok);
  EXPECT_FALSE(fs::exists(root_ / "a.macro"));
  // A folder that cannot be created (its parent is missing).
  list->nMacroInfoCount = 1;
  const TMacroFileResult r =
      TuiMacroClass::SaveMacroKeyInfoListToMacroFiles(*list, (root_ / "no" / "such").string());
  EXPECT_FALSE(r.Ok);
  EXPECT_FALSE(r.Error.empty());
}

TEST_F(MacroFiles, ShortAndMissingFilesOnRead) {
  {
    std::ofstream out(root_ / "short.macro", std::ios::binary);
    out.write("\x04\x00\x01", 3);
  }
  TMACROKEYINFO info;
  std::memset(&info, 0xAA, sizeof info);
  ASSERT_TRUE(TuiMacroClass::LoadMacroFromFile((root_ / "short.macro").string(), info));
  EXPECT_EQ(info.MacroList[0].nKeyType, 4);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&info)[3], 0xAA);  // past the file: as it was
  EXPECT_FALSE(TuiMacroClass::LoadMacroFromFile((root_ / "missing.macro").string(), info));
}
