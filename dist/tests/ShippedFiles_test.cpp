// The data staged into the program folder, read the way the programs read it:
// "ui.local" through the language component, config.ini through the
// configuration readers and the HID link (against the real emulated mouse).

#include "device/ConfigReaders.h"
#include "device/uiHIDData.h"
#include "emulator/testing/EmulatorProcess.h"
#include "platform/HidBackend.h"
#include "platform/IniFile.h"
#include "toolkit/LanguageFile.h"
#include "toolkit/uiLanguage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace {

const QString kProgramDir = QStringLiteral(MOUSE_PROGRAM_DIR);

QString ProgramFile(const char* name) { return QDir(kProgramDir).filePath(QString::fromLatin1(name)); }

QStringList ListedTexts() {
  QFile file(QStringLiteral(MOUSE_TEXTS_FILE));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return SplitLanguageLines(QString::fromUtf8(file.readAll()));
}

TEST(DistUiLocal, FirstLanguageIsEnglishWithAnEmptyTable) {
  TLanguageData data;
  QString error;
  ASSERT_TRUE(LoadLanguageFile(ProgramFile("ui.local"), data, &error)) << error.toStdString();
  ASSERT_EQ(data.Languages.size(), 1u);
  EXPECT_EQ(data.Languages[0].Name, QStringLiteral("0409"));
  EXPECT_TRUE(data.Languages[0].Table.isEmpty());
}

TEST(DistUiLocal, HoldsEveryListedTextUnchanged) {
  const QStringList listed = ListedTexts();
  ASSERT_GT(listed.size(), 100);
  TLanguageData data;
  ASSERT_TRUE(LoadLanguageFile(ProgramFile("ui.local"), data, nullptr));
  for (const QString& text : listed) EXPECT_TRUE(data.Original.contains(text)) << text.toStdString();
  // Leading blanks are part of a text, and so of its key.
  EXPECT_TRUE(data.Original.contains(
      QStringLiteral("    Please connect your mouse device before apply new settings!")));
}

TEST(DistUiLocal, FreshStartShowsTheTextsAsTheyAre) {
  TuiLanguage language(nullptr, ProgramFile("ui.local"));
  // A fresh store holds language index 0.
  const QString first = language.GetLanguageShortIDByIndex(0);
  EXPECT_EQ(first, QStringLiteral("0409"));
  language.SetLang(first);
  EXPECT_EQ(language.GetLanguageIndexByShortID(language.Lang()), 0);
  EXPECT_EQ(Translate(QStringLiteral("Apply")), QStringLiteral("Apply"));
  EXPECT_EQ(Translate(QStringLiteral("Gaming Mouse Driver")), QStringLiteral("Gaming Mouse Driver"));
}

TEST(DistConfigIni, OptionsOtherConfigAndHelpFiles) {
  TOptionsFromConfigFile options;
  ReadOptionsFromConfigFile(options, kProgramDir);
  EXPECT_EQ(options.ProfileRegFolder, u"software\\Orvelline");
  EXPECT_EQ(options.ProfileFolder, u"Profile");
  EXPECT_EQ(options.ProfileNamePrefix, u"Profile");
  EXPECT_EQ(options.ProfileMacroFolder, u"MacroDB");

  TOtherConfig other;
  ReadOtherConfig(other, kProgramDir);
  EXPECT_EQ(other.Nologo, 0);
  EXPECT_NE(QString::fromStdU16String(other.OfficialWebSite).indexOf(QStringLiteral("example.com")), -1);
  ASSERT_EQ(other.HelpFile.size(), 1u);
  EXPECT_EQ(other.HelpFile[0].first, u"0409");
  // The help page ships in the folder under the name config.ini gives.
  EXPECT_TRUE(QFile::exists(QDir(kProgramDir).filePath(QString::fromStdU16String(other.HelpFile[0].second))));
}

TEST(DistConfigIni, FilterDriverDefaults) {
  platform::IniFile ini;
  ASSERT_EQ(ini.load(ProgramFile("config.ini")), platform::IniFile::LoadResult::Ok);
  const QString s = QStringLiteral("DEVICE");
  EXPECT_EQ(ini.readString(s, QStringLiteral("InfFileName")), QStringLiteral("zovadrv00001.inf"));
  EXPECT_EQ(ini.readString(s, QStringLiteral("FileName")), QStringLiteral("zovadrv00001.sys"));
  for (const char* key : {"ServiceName", "ServiceNamex86", "ServiceNamex64", "DeviceName"})
    EXPECT_EQ(ini.readString(s, QString::fromLatin1(key)), QStringLiteral("zovadrv00001")) << key;
  for (const char* key : {"WHQL", "X32WHQL", "UpperFilter"})
    EXPECT_EQ(ini.readInteger(s, QString::fromLatin1(key), -1), 0) << key;
}

// id1 selects the emulated mouse's vendor collection, and only that one.
TEST(DistConfigIni, IncludeListSelectsTheEmulatedMouse) {
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  qputenv("MOUSE_RUNTIME_DIR", runtime.path().toUtf8());
  emulator::testing::EmulatorProcess mouse;
  ASSERT_TRUE(mouse.start()) << mouse.lastError();

  TuiHIDData hid(nullptr, platform::makeEmulatorHidBackend(mouse.socketPath()), ProgramFile("config.ini"));
  ASSERT_EQ(hid.GetHIDDeviceList().size(), 1u);
  EXPECT_EQ(hid.GetHIDDeviceList()[0], "HID\\VID_1209&PID_0001&Col02");

  auto param = std::make_unique<THIDDataParam>();
  param->UsageAndPage.UsagePage = 0xFFA0;
  param->UsageAndPage.Usage = 1;
  EXPECT_TRUE(hid.IsDeviceExist(*param));
  // The mouse collection of the same device carries other IDs.
  param->UsageAndPage.UsagePage = 1;
  param->UsageAndPage.Usage = 2;
  EXPECT_FALSE(hid.IsDeviceExist(*param));
}

}  // namespace
