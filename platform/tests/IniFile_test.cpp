#include "platform/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::IniFile;

namespace {

QByteArray utf16leWithBom(const char* text) {
  QByteArray out("\xFF\xFE", 2);
  for (const char* p = text; *p; ++p) {
    out.append(*p);
    out.append('\0');
  }
  return out;
}

const char kConfig[] =
    "; config of the mouse software\r\n"
    "[Options]\r\n"
    "  ProfileRegFolder =  Orvelline  \r\n"
    "profilefolder=My Profiles\r\n"
    "[IncludeHIDDeviceList]\r\n"
    "id1=HID\\VID_1A2B&PID_3C4D&MI_01\r\n"
    "ID2=USB\\VID_1A2B&PID_3C4D\r\n"
    "id3=\r\n"
    "[OtherConfig]\n"
    "OfficialWebSite=http://www.example.com/a%20b,c;d\n"
    "NoLogo=0x10\n"
    "bad=12abc\n"
    "[HelpFiles]\n"
    "0409=help\\en.pdf\n"
    "0804=\n"
    "0407=de.pdf\n"
    "0409=second.pdf\n"
    "no equals sign here\n"
    "[options]\n"
    "profileFolder=ignored, the first section wins\n";

}  // namespace

TEST(IniFileTest, ReadsLikeTheProfileApi) {
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"options", "profileregfolder", "Orvelline"},
      {"OPTIONS", "ProfileFolder", "My Profiles"},
      {"includehiddevicelist", "id1", "HID\\VID_1A2B&PID_3C4D&MI_01"},
      {"IncludeHIDDeviceList", "id2", "USB\\VID_1A2B&PID_3C4D"},
      {"IncludeHIDDeviceList", "id3", ""},
      {"IncludeHIDDeviceList", "id4", "<default>"},
      {"OtherConfig", "OfficialWebSite", "http://www.example.com/a%20b,c;d"},
      {"HelpFiles", "0409", "help\\en.pdf"},
      {"NoSuchSection", "id1", "<default>"},
  };
  for (const QByteArray& bytes : {QByteArray(kConfig), utf16leWithBom(kConfig),
                                  QByteArray("\xEF\xBB\xBF") + kConfig}) {
    IniFile ini;
    ini.parse(bytes);
    for (const Case& c : cases) {
      EXPECT_EQ(ini.readString(c.section, c.key, "<default>").toStdString(), c.expected)
          << c.section << "/" << c.key;
    }
    EXPECT_EQ(ini.readInteger("OtherConfig", "NoLogo", 7), 16);
    EXPECT_EQ(ini.readInteger("OtherConfig", "bad", 7), 7);
    EXPECT_EQ(ini.readInteger("OtherConfig", "missing", 7), 7);
    EXPECT_EQ(ini.sectionKeys("helpfiles"), QStringList({"0409", "0804", "0407"}));
    EXPECT_TRUE(ini.hasKey("OtherConfig", "NOLOGO"));
    EXPECT_FALSE(ini.hasKey("OtherConfig", "Nothing"));
  }
}

TEST(IniFileTest, MissingUnreadableAndOversizedFilesGiveDefaults) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  IniFile ini;
  EXPECT_EQ(ini.load(dir.filePath("config.ini")), IniFile::LoadResult::Missing);
  EXPECT_EQ(ini.readString("options", "profileFolder", "Profile"), "Profile");

  // A folder of that name is not a file.
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
  EXPECT_EQ(ini.load(dir.filePath("folder.ini")), IniFile::LoadResult::Error);

  QFile big(dir.filePath("big.ini"));
  ASSERT_TRUE(big.open(QIODevice::WriteOnly));
  big.write("[options]\nprofileFolder=x\n");
  ASSERT_TRUE(big.resize(IniFile::kMaxFileSize + 10));
  big.close();
  EXPECT_EQ(ini.load(big.fileName()), IniFile::LoadResult::Error);
  EXPECT_FALSE(ini.hasSection("options"));

  QFile ok(dir.filePath("ok.ini"));
  ASSERT_TRUE(ok.open(QIODevice::WriteOnly));
  ok.write(utf16leWithBom("[options]\r\nprofilePrefix=Mine\r\n"));
  ok.close();
  EXPECT_EQ(ini.load(ok.fileName()), IniFile::LoadResult::Ok);
  EXPECT_EQ(ini.readString("Options", "ProfilePrefix"), "Mine");
}

// The profile API drops one pair of matching quotes, double or single, around
// a value once its blanks are trimmed; anything else stays as written.
TEST(IniFileTest, OnePairOfSurroundingQuotesIsDropped) {
  struct Case {
    const char* line;  // as written after "key="
    const char* read;
  };
  const Case cases[] = {
      {"\"Quoted\"", "Quoted"},
      {"'Quoted'", "Quoted"},
      {"  \"Quoted\"  ", "Quoted"},
      {"\"  blanks kept inside  \"", "  blanks kept inside  "},
      {"\"\"", ""},
      {"''", ""},
      {"\"", "\""},
      {"'", "'"},
      {"\"open", "\"open"},
      {"closed\"", "closed\""},
      {"\"mixed'", "\"mixed'"},
      {"'mixed\"", "'mixed\""},
      {"\"\"twice\"\"", "\"twice\""},
      {"\"a\"b\"", "a\"b"},
      {"in\"side\"", "in\"side\""},
      {"'it''s'", "it''s"},
      {"plain", "plain"},
  };
  for (const Case& c : cases) {
    IniFile ini;
    ini.parse(QByteArray("[options]\nkey=") + c.line + "\n");
    EXPECT_EQ(ini.readString("options", "key", "<default>").toStdString(), c.read) << c.line;
    ASSERT_EQ(ini.sectionValues("options").size(), 1u);
    EXPECT_EQ(ini.sectionValues("options")[0].second.toStdString(), c.read) << c.line;
  }
  IniFile ini;
  ini.parse("[OtherConfig]\nNoLogo=\"16\"\nBlank=\"\"\n");
  EXPECT_EQ(ini.readInteger("OtherConfig", "NoLogo", 7), 16);
  EXPECT_EQ(ini.readInteger("OtherConfig", "Blank", 7), 7);
  EXPECT_EQ(ini.readString("OtherConfig", "Missing", "\"default\""), "\"default\"");
}
