#include "device/ConfigReaders.h"

#include <QDir>
#include <cstdio>

#include "platform/IniFile.h"

namespace {

std::u16string toU16(const QString& s) { return s.toStdU16String(); }

platform::IniFile LoadConfig(const QString& programFolder) {
  platform::IniFile ini;
  const QString path = QDir(programFolder).filePath(QString::fromUtf16(kConfigFileName));
  if (ini.load(path) == platform::IniFile::LoadResult::Error)
    std::fprintf(stderr, "config: %s; using the defaults\n", qPrintable(ini.errorString()));
  return ini;
}

std::vector<std::pair<std::u16string, std::u16string>> HelpFilesOf(const platform::IniFile& ini) {
  std::vector<std::pair<std::u16string, std::u16string>> out;
  for (const auto& [key, value] : ini.sectionValues(QStringLiteral("HelpFiles")))
    if (!value.isEmpty()) out.emplace_back(toU16(key), toU16(value));
  return out;
}

}  // namespace

void ReadOptionsFromConfigFile(TOptionsFromConfigFile& options, const QString& programFolder) {
  const platform::IniFile ini = LoadConfig(programFolder);
  const QString section = QStringLiteral("options");
  options.ProfileRegFolder = u"software\\Orvelline";
  if (ini.hasKey(section, QStringLiteral("ProfileRegFolder")))
    options.ProfileRegFolder = u"software\\" + toU16(ini.readString(section, QStringLiteral("ProfileRegFolder")));
  options.ProfileFolder = toU16(ini.readString(section, QStringLiteral("profileFolder"), QStringLiteral("Profile")));
  options.ProfileNamePrefix =
      toU16(ini.readString(section, QStringLiteral("profilePrefix"), QStringLiteral("Profile")));
  options.ProfileMacroFolder =
      toU16(ini.readString(section, QStringLiteral("profileMacroFolder"), QStringLiteral("MacroDB")));
}

void ReadOtherConfig(TOtherConfig& other, const QString& programFolder) {
  const platform::IniFile ini = LoadConfig(programFolder);
  const QString section = QStringLiteral("OtherConfig");
  other.Nologo = ini.readInteger(section, QStringLiteral("NoLogo"), 0);
  other.HelpFile = HelpFilesOf(ini);
  other.OfficialWebSite = toU16(ini.readString(section, QStringLiteral("OfficialWebSite")));
  other.UpdateWebSite = toU16(ini.readString(section, QStringLiteral("UpdateWebSite")));
}

std::vector<std::pair<std::u16string, std::u16string>> ReadHelpFiles(const QString& programFolder) {
  return HelpFilesOf(LoadConfig(programFolder));
}
