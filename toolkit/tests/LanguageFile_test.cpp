#include "toolkit/LanguageFile.h"
#include "toolkit/testing/PinnedLocale.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// Two texts, two languages; written by hand from the file layout.
//   "CANCEL\r\nOK\r\n"   12 units
//   2 languages
//   "040a"  "OK=Aceptar\r\n"   (12 units)
//   "0804"  "OK=确定\r\n"       (7 units: U+786E U+5B9A)
const char kFixtureHex[] =
    "0c000000"
    "430041004e00430045004c000d000a00"
    "4f004b000d000a00"
    "02000000"
    "04000000" "3000340030006100"
    "0c000000" "4f004b003d0041006300650070007400610072000d000a00"
    "04000000" "3000380030003400"
    "07000000" "4f004b003d006e789a5b0d000a00";

QByteArray fixture() { return QByteArray::fromHex(kFixtureHex); }

TEST(LanguageFileFormat, ReadsHandWrittenFile) {
  TLanguageData data;
  QString error, warning;
  ASSERT_TRUE(ParseLanguageFile(fixture(), data, &error, &warning)) << error.toStdString();
  EXPECT_TRUE(warning.isEmpty());
  EXPECT_EQ(data.Original, (QStringList{"CANCEL", "OK"}));
  ASSERT_EQ(data.Languages.size(), 2u);
  EXPECT_EQ(data.Languages[0].Name, "040a");
  EXPECT_EQ(data.Languages[0].Table, QStringList{"OK=Aceptar"});
  EXPECT_EQ(data.Languages[1].Name, "0804");
  EXPECT_EQ(data.Languages[1].Table, QStringList{QString::fromUtf8("OK=确定")});
}

TEST(LanguageFileFormat, WritesTheSameBytesBack) {
  TLanguageData data;
  ASSERT_TRUE(ParseLanguageFile(fixture(), data, nullptr));
  EXPECT_EQ(SerializeLanguageFile(data).toHex(), fixture().toHex());
}

TEST(LanguageFileFormat, EmptyContentAndZeroLanguages) {
  TLanguageData data;
  data.Original = {"x"};
  ASSERT_TRUE(ParseLanguageFile(QByteArray::fromHex("0000000000000000"), data, nullptr));
  EXPECT_TRUE(data.Original.isEmpty());
  EXPECT_TRUE(data.Languages.empty());
  EXPECT_EQ(SerializeLanguageFile(data).toHex(), "0000000000000000");
}

TEST(LanguageFileFormat, LanguageOrderIsKeptAsInTheFile) {
  // "b" before "a": positions are the stored language indices.
  const QByteArray bytes = QByteArray::fromHex(
      "00000000" "02000000"
      "01000000" "6200" "00000000"
      "01000000" "6100" "00000000");
  TLanguageData data;
  ASSERT_TRUE(ParseLanguageFile(bytes, data, nullptr));
  ASSERT_EQ(data.Languages.size(), 2u);
  EXPECT_EQ(data.Languages[0].Name, "b");
  EXPECT_EQ(data.Languages[1].Name, "a");
  EXPECT_EQ(SerializeLanguageFile(data), bytes);
}

struct DamagedCase {
  const char* name;
  const char* hex;
};

class DamagedFile : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedFile, IsRejectedWholeAndChangesNothing) {
  TLanguageData data;
  data.Original = {"kept"};
  data.Languages.push_back({"0409", {"kept=yes"}});
  QString error;
  EXPECT_FALSE(ParseLanguageFile(QByteArray::fromHex(GetParam().hex), data, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(data.Original, QStringList{"kept"});
  ASSERT_EQ(data.Languages.size(), 1u);
  EXPECT_EQ(data.Languages[0].Table, QStringList{"kept=yes"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedFile,
    ::testing::Values(
        DamagedCase{"Empty", ""},
        DamagedCase{"CutInsideFirstCount", "0c00"},
        DamagedCase{"NegativeTextCount", "ffffffff00000000"},
        DamagedCase{"TextCountPastEnd", "0500000041004200"},
        DamagedCase{"HugeTextCount", "ffffff7f"},
        DamagedCase{"CutInsideString", "04000000410042004300"},
        DamagedCase{"OddByteInsideString", "02000000410042"},
        DamagedCase{"MissingLanguageCount", "00000000"},
        DamagedCase{"CutInsideLanguageCount", "000000000100"},
        DamagedCase{"NegativeLanguageCount", "00000000ffffffff"},
        DamagedCase{"LanguageCountMaxIn12Bytes", "00000000ffffff7f00000000"},
        DamagedCase{"LanguageCountPastEnd", "000000000200000000000000 00000000"},
        DamagedCase{"CutInsideLanguageName", "000000000100000002000000 3000"},
        DamagedCase{"MissingTable", "00000000010000000100000030000000"},
        DamagedCase{"NegativeTableCount", "000000000100000001000000 3000 ffffffff"},
        DamagedCase{"TableCountPastEnd", "000000000100000001000000 3000 03000000 41004100"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LanguageFileFormat, TrailingBytesAreIgnoredWithAWarning) {
  TLanguageData data;
  QString error, warning;
  ASSERT_TRUE(ParseLanguageFile(fixture() + QByteArray(1, '\xff'), data, &error, &warning));
  EXPECT_FALSE(warning.isEmpty());
  EXPECT_EQ(data.Languages.size(), 2u);
}

TEST(LanguageLines, SplitAtEveryBreakAndStopAtNul) {
  const QString text = QString::fromUtf16(
      u"a\r\nb\rc\nd\x000B" u"e\x000C" u"f\u2028g\u2029h\r\n");
  EXPECT_EQ(SplitLanguageLines(text), (QStringList{"a", "b", "c", "d", "e", "f", "g", "h"}));
  QString withNul = QStringLiteral("one\r\ntwo");
  withNul.append(QChar(0)).append(QStringLiteral("three\r\n"));
  EXPECT_EQ(SplitLanguageLines(withNul), (QStringList{"one", "two"}));
  EXPECT_EQ(SplitLanguageLines(u"x\r\n\r\n\n y \r\n"), (QStringList{"x", " y "}));
  EXPECT_TRUE(SplitLanguageLines(u"\r\n").isEmpty());
  EXPECT_EQ(SplitLanguageLines(u"last"), QStringList{"last"});
}

TEST(LanguageLines, SortKeepsDifferentTranslationsAndCollapsesCopies) {
  QStringList lines{"OK=b", "OK=a", "OK=a", "CANCEL=c"};
  SortLanguageLines(lines);
  EXPECT_EQ(lines, (QStringList{"CANCEL=c", "OK=a", "OK=b"}));
  // Letter case makes different lines.
  QStringList cased{"ok=x", "OK=x"};
  SortLanguageLines(cased);
  EXPECT_EQ(cased.size(), 2);
}

TEST(LanguageLines, OrderIsEnglishCollationWhateverTheMachinesLocale) {
  // Letters before case, and lower case before upper case within a letter;
  // a byte order would put every capital first.
  QStringList lines{"OK=x", "ok=x", "Apply=x", "apply=x", "CANCEL=c", "b=1"};
  SortLanguageLines(lines);
  EXPECT_EQ(lines, (QStringList{"apply=x", "Apply=x", "b=1", "CANCEL=c", "ok=x", "OK=x"}));
}

TEST(LanguageLines, KeyEndsAtTheFirstEquals) {
  EXPECT_EQ(LanguageLineKey("A=B=C"), "A");
  EXPECT_EQ(LanguageLineValue("A=B=C"), "B=C");
  EXPECT_EQ(LanguageLineKey("none"), "");
  EXPECT_EQ(LanguageLineValue("Empty="), "");
}

TEST(LanguageFileStorage, SaveAndLoadRoundTrip) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("ui.local");
  TLanguageData data;
  data.Original = {"Zoom", "Apply", "Apply"};
  data.Languages.push_back({"0c0a", {"Zoom=Zum", "Apply=Aplicar"}});
  data.Languages.push_back({"0409", {}});
  QString error;
  ASSERT_TRUE(SaveLanguageFile(path, data, &error)) << error.toStdString();
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"ui.local"});

  TLanguageData back;
  ASSERT_TRUE(LoadLanguageFile(path, back, &error)) << error.toStdString();
  EXPECT_EQ(back.Original, (QStringList{"Apply", "Zoom"}));
  ASSERT_EQ(back.Languages.size(), 2u);
  EXPECT_EQ(back.Languages[0].Name, "0c0a");
  EXPECT_EQ(back.Languages[0].Table, (QStringList{"Apply=Aplicar", "Zoom=Zum"}));
  EXPECT_TRUE(back.Languages[1].Table.isEmpty());
}

TEST(LanguageFileStorage, MissingAndOversizedFilesAreErrors) {
  QTemporaryDir dir;
  TLanguageData data;
  QString error;
  EXPECT_FALSE(LoadLanguageFile(dir.filePath("absent"), data, &error));
  EXPECT_FALSE(error.isEmpty());

  QFile big(dir.filePath("big.local"));
  ASSERT_TRUE(big.open(QIODevice::WriteOnly));
  ASSERT_TRUE(big.resize(kMaxLanguageFileSize + 1));  // sparse: nothing is written
  big.close();
  error.clear();
  EXPECT_FALSE(LoadLanguageFile(big.fileName(), data, &error));
  EXPECT_TRUE(error.contains("too large"));
}

}  // namespace
