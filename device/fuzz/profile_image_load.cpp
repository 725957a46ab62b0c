// Loads arbitrary bytes as stored settings and profile values through the
// data module's start-up, reload and import paths; any crash, leak, undefined
// behaviour or index out of range is a finding. The input's first byte picks
// which value it becomes.
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

#include "device/DMUnit.h"

namespace {
struct World {
  QTemporaryDir root;
  std::unique_ptr<platform::RegistryStore> store;
  World() {
    QDir().mkpath(root.filePath("program"));
    store = platform::openSqliteRegistryStore(root.filePath("registry.sqlite"));
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World;  // one world for the whole run: fast
  if (size == 0) return 0;
  const QString key = QStringLiteral("software\\Orvelline");
  const QByteArray value(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
  static const char* names[] = {"ProfileSettingGroup.pfd", "ALLPROFILE.pfd", "Profile1.pfd"};
  const char* name = names[data[0] % 3];
  world->store->writeBinary(platform::HKEY_CURRENT_USER, key, name, value);
  if (data[0] % 3 == 2) {
    // Profile 1 kept in the store for this run.
    QByteArray g;
    world->store->readBinary(platform::HKEY_CURRENT_USER, key, "ProfileSettingGroup.pfd", g);
    if (g.size() > 12 + 6188) {
      g[12 + 6188] = 0;
      world->store->writeBinary(platform::HKEY_CURRENT_USER, key, "ProfileSettingGroup.pfd", g);
    }
  }
  auto dm = std::make_unique<TDM>(TDMEnvironment{world->store.get(), world->root.filePath("program"),
                                                 world->root.filePath("Documents")});
  dm->InitData();
  if (!TDM::IsProfileGroupIndexInRange(dm->ProfileGroupIndex()) || !TDM::IsProfileIndexInRange(dm->ProfileIndex()))
    std::abort();
  dm->LoadProfileGroupSettingInfoFromRegistry();
  dm->LoadAllProfileInfoFromRegistry();
  dm->LoadCurrentProfileInfoFromRegistry();
  dm->ImportCurrentProfileImage(value);
  dm->SaveBackToCurrentProfileInfo();
  return 0;
}
