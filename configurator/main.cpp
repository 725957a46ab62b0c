// Marvane, the configurator: one instance per user, the data module, the
// main window, the message endpoint for the monitor, the event loop.
#include <QApplication>
#include <QFont>
#include <cstdio>
#include <memory>

#include "configurator/EndConfigurator.h"
#include "configurator/MainConfig.h"
#include "device/DMUnit.h"
#include "device/uiStdCmd.h"
#include "macro/HookSource.h"
#include "macro/uiHook.h"
#include "platform/HidBackend.h"
#include "platform/MessageChannel.h"
#include "platform/QtPlatformChoice.h"
#include "platform/PointerSettings.h"
#include "platform/RegistryStore.h"
#include "platform/RuntimeDir.h"
#include "platform/SingleInstance.h"
#include "platform/UserFolders.h"
#include "toolkit/ImageDataBaseUnit.h"

int main(int argc, char* argv[]) {
  // The runtime folder is examined before any lock or socket is made in it:
  // one that another user owns could hand us their sockets and locks.
  if (const platform::RuntimeDirCheck rt = platform::checkRuntimeDir();
      rt.state == platform::RuntimeDirCheck::State::Refused) {
    std::fprintf(stderr, "Marvane: %s\n", rt.problem.c_str());
    return 1;
  }
  // Then the lock: a second start ends here, silently, touching
  // nothing. The kernel drops the lock when this process dies.
  platform::SingleInstance lock(platform::kConfiguratorClass);
  if (lock.state() == platform::SingleInstance::State::HeldByOther) return 0;
  if (!lock.held())
    std::fprintf(stderr, "Marvane: no runtime folder for the single-instance lock; running without it\n");

  platform::chooseQtPlatform();  // XWayland under Wayland: the hooks speak X11
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Marvane"));
  ImageDataBase();  // the one image cache, before any window
  // The windows name commercial fonts; free ones of the same kind stand in.
  QFont::insertSubstitution(QStringLiteral("Myriad Pro"), QStringLiteral("Liberation Sans"));
  QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"));
  QFont::insertSubstitution(QStringLiteral("黑体"), QStringLiteral("Noto Sans CJK SC"));
  QFont::insertSubstitution(QStringLiteral("SimHei"), QStringLiteral("Noto Sans CJK SC"));
  // The key capture and macro windows record through the system-wide hook.
  SetHookSourceFactory(TuiHook::Factory());

  const QString programFolder = platform::programFolder();
  platform::RegistryStoreAtStart opened = platform::openSqliteRegistryStoreAtStart(platform::defaultRegistryStorePath());
  if (!opened.notice.isEmpty()) std::fprintf(stderr, "Marvane: %s\n", qPrintable(opened.notice));
  std::unique_ptr<platform::RegistryStore> store = std::move(opened.store);
  auto dm = std::make_unique<TDM>(TDMEnvironment{store.get(), programFolder, platform::documentsFolder()});
  // What the start could not read is said with what the store's opening
  // found, once, over the window.
  QString storeNotice = opened.notice;
  if (const TStoreStatus loaded = dm->InitData(); !loaded) {
    const QString unread = QStringLiteral("Start-up could not read every setting: %1").arg(loaded.Error);
    std::fprintf(stderr, "Marvane: %s\n", qPrintable(unread));
    storeNotice += (storeNotice.isEmpty() ? QString() : QStringLiteral("\n")) + unread;
  }
  auto pointer = platform::createPointerSettings();

  TMarvaneEnvironment env;
  env.DM = dm.get();
  env.HidBackend = platform::makeHidBackend();
  env.Notifier = platform::makeHidDeviceNotifier();
  env.Pointer = pointer.get();
  env.ProgramFolder = programFolder;
  env.StoreNotice = storeNotice;
  auto window = std::make_unique<TMarvaneMain>(std::move(env));

  platform::MessageEndpoint endpoint;
  if (lock.held()) {
    TMarvaneMain* w = window.get();
    endpoint.listen(lock, platform::kConfiguratorClass,
                    [w](std::uint32_t m, std::int64_t wp, std::int64_t lp) { return w->HandleMessage(m, wp, lp); });
  }
  window->show();
  endpoint.setActivationWindow(window->windowHandle());
  const int rc = QApplication::exec();
  EndConfigurator(window, dm, pointer, TuiThread::WaitForAll);
  return rc;
}
