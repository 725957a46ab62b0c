#include "device/ConfigReaders.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
void writeConfig(const QTemporaryDir& dir, const QByteArray& text) {
  QFile f(dir.filePath("config.ini"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(text);
}
}  // namespace

TEST(ConfigReadersTest, DefaultsWithoutFileOrSection) {
  QTemporaryDir dir;
  for (const QByteArray& text : {QByteArray(), QByteArray("[other]\nx=1\n")}) {
    if (!text.isNull()) writeConfig(dir, text);
    TOptionsFromConfigFile o;
    ReadOptionsFromConfigFile(o, dir.path());
    EXPECT_EQ(o.ProfileRegFolder, u"software\\Orvelline");
    EXPECT_EQ(o.ProfileFolder, u"Profile");
    EXPECT_EQ(o.ProfileNamePrefix, u"Profile");
    EXPECT_EQ(o.ProfileMacroFolder, u"MacroDB");
    TOtherConfig other;
    other.ShowCapsLock = 5;
    ReadOtherConfig(other, dir.path());
    EXPECT_EQ(other.Nologo, 0);
    EXPECT_TRUE(other.HelpFile.empty());
    EXPECT_TRUE(other.OfficialWebSite.empty());
    EXPECT_EQ(other.ShowCapsLock, 5) << "left as the caller gave it";
  }
}

TEST(ConfigReadersTest, ValuesFromTheFile) {
  QTemporaryDir dir;
  writeConfig(dir,
              "[OPTIONS]\r\nprofileregfolder=Quill\r\nProfileFolder=Mouse Profiles\r\nPROFILEPREFIX=Game\r\n"
              "[OtherConfig]\r\nNoLogo=1\r\nOfficialWebSite=http://example.com/a%20b?x=1,2\r\n"
              "UpdateWebSite=http://example.com/up\r\n"
              "[HelpFiles]\r\n0804=help\\cn.pdf\r\n0409=\r\n0407=de.pdf\r\n");
  TOptionsFromConfigFile o;
  ReadOptionsFromConfigFile(o, dir.path());
  EXPECT_EQ(o.ProfileRegFolder, u"software\\Quill");
  EXPECT_EQ(o.ProfileFolder, u"Mouse Profiles");
  EXPECT_EQ(o.ProfileNamePrefix, u"Game");
  TOtherConfig other;
  ReadOtherConfig(other, dir.path());
  EXPECT_EQ(other.Nologo, 1);
  EXPECT_EQ(other.OfficialWebSite, u"http://example.com/a%20b?x=1,2");
  EXPECT_EQ(other.UpdateWebSite, u"http://example.com/up");
  using Pair = std::pair<std::u16string, std::u16string>;
  const std::vector<Pair> expected = {{u"0804", u"help\\cn.pdf"}, {u"0407", u"de.pdf"}};
  EXPECT_EQ(other.HelpFile, expected);
  EXPECT_EQ(ReadHelpFiles(dir.path()), expected);
}

// Values written in quotes, as Windows users of config.ini do, read as the
// Windows reader gives them: without the one surrounding pair.
TEST(ConfigReadersTest, QuotedValuesLoseTheirSurroundingQuotes) {
  QTemporaryDir dir;
  writeConfig(dir,
              "[options]\r\nProfileRegFolder=\"Quill\"\r\nprofileFolder='My Profiles'\r\n"
              "profilePrefix=\"Quoted\"\r\n"
              "[OtherConfig]\r\nNoLogo=\"1\"\r\n"
              "[HelpFiles]\r\n0409=\"help\\en.pdf\"\r\n0804=\"\"\r\n");
  TOptionsFromConfigFile o;
  ReadOptionsFromConfigFile(o, dir.path());
  EXPECT_EQ(o.ProfileRegFolder, u"software\\Quill");
  EXPECT_EQ(o.ProfileFolder, u"My Profiles");
  EXPECT_EQ(o.ProfileNamePrefix, u"Quoted");
  TOtherConfig other;
  ReadOtherConfig(other, dir.path());
  EXPECT_EQ(other.Nologo, 1);
  using Pair = std::pair<std::u16string, std::u16string>;
  EXPECT_EQ(other.HelpFile, (std::vector<Pair>{{u"0409", u"help\\en.pdf"}}));
}
