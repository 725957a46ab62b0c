// Feeds arbitrary bytes to the config.ini reader and reads the sections the
// programs ask for; any crash, leak or undefined behaviour is a finding.
#include "platform/IniFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::IniFile ini;
  ini.parse(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  (void)ini.readString("options", "ProfileRegFolder", "x");
  (void)ini.readInteger("OtherConfig", "NoLogo", 0);
  for (const auto& [k, v] : ini.sectionValues("HelpFiles")) (void)ini.readString("HelpFiles", k);
  (void)ini.sectionKeys("IncludeHIDDeviceList");
  return 0;
}
