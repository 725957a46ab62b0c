#pragma once
// Readers of config.ini, the read-only configuration file beside both
// programs. A missing file or key gives the defaults; an unreadable file too,
// with a warning on stderr.
#include <QString>

#include "device/pubunit_quindle.h"

// The name of the file in the program folder.
inline constexpr char16_t kConfigFileName[] = u"config.ini";

// [options]: the settings-store key path ("software\" + ProfileRegFolder,
// "software\Orvelline" without the key), the profile folder name ("Profile"),
// the profile file prefix ("Profile") and the macro folder name ("MacroDB").
void ReadOptionsFromConfigFile(TOptionsFromConfigFile& options, const QString& programFolder);

// [OtherConfig] NoLogo (0), OfficialWebSite and UpdateWebSite (empty), and the
// [HelpFiles] pairs. ShowNumLock and the other three lock fields are left as
// the caller gave them.
void ReadOtherConfig(TOtherConfig& other, const QString& programFolder);

// [HelpFiles]: language ID and help file, in file order; keys with an empty
// value are left out.
std::vector<std::pair<std::u16string, std::u16string>> ReadHelpFiles(const QString& programFolder);
