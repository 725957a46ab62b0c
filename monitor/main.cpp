// Tessold, the tray monitor.
#include <QApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

#include "device/DMUnit.h"
#include "monitor/MonitorPlatform.h"
#include "monitor/MouseMonitor.h"
#include "platform/HidBackend.h"
#include "platform/MessageChannel.h"
#include "platform/QtPlatformChoice.h"
#include "platform/MicMute.h"
#include "platform/RegistryStore.h"
#include "platform/RuntimeDir.h"
#include "platform/SingleInstance.h"
#include "platform/UserFolders.h"

int main(int argc, char** argv) {
  // The end of the session (SIGTERM, SIGHUP) and Ctrl-C end the event loop
  // so the last DPI table reaches the driver. Blocked before any thread
  // starts, so only the signalfd sees them.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  sigaddset(&endSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  // The runtime folder is examined before any lock or socket is made in it:
  // one that another user owns could hand us their sockets and locks.
  if (const platform::RuntimeDirCheck rt = platform::checkRuntimeDir();
      rt.state == platform::RuntimeDirCheck::State::Refused) {
    std::fprintf(stderr, "tessold: %s\n", rt.problem.c_str());
    return 1;
  }

  // One monitor per user: a second start ends at once, quietly.
  platform::SingleInstance lock(platform::kMonitorClass);
  if (lock.state() == platform::SingleInstance::State::HeldByOther) return 0;
  if (!lock.held()) std::fprintf(stderr, "tessold: no single-instance lock (no runtime folder); going on\n");

  platform::chooseQtPlatform();  // XWayland under Wayland: the hooks speak X11
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const QString folder = QCoreApplication::applicationDirPath();

  const int sigFd = ::signalfd(-1, &endSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  std::unique_ptr<QSocketNotifier> sigNotifier;
  // The start-up's pauses already handle events, before the main loop runs,
  // where quit() does nothing: a signal or "Exit" seen then ends the program
  // after them.
  bool endRequested = false;
  const auto end = [&endRequested] {
    endRequested = true;
    QCoreApplication::quit();
  };
  // Once the monitor exists, an end goes through it: quitting would also end
  // the pauses of a frame it has open.
  TTessoldMain* ending = nullptr;
  if (sigFd >= 0) {
    sigNotifier = std::make_unique<QSocketNotifier>(sigFd, QSocketNotifier::Read);
    QObject::connect(sigNotifier.get(), &QSocketNotifier::activated, &app, [sigFd, end, &ending] {
      signalfd_siginfo info;
      while (::read(sigFd, &info, sizeof info) == sizeof info) {
      }
      if (ending)
        ending->RequestEnd();
      else
        end();
    });
  }

  // The monitor shows no window: what the store's opening found is one line
  // on stderr.
  platform::RegistryStoreAtStart opened = platform::openSqliteRegistryStoreAtStart(platform::defaultRegistryStorePath());
  if (!opened.notice.isEmpty()) std::fprintf(stderr, "tessold: %s\n", qPrintable(opened.notice));
  std::unique_ptr<platform::RegistryStore> store = std::move(opened.store);
  auto dm = std::make_unique<TDM>(TDMEnvironment{store.get(), folder, platform::documentsFolder()});
  if (const TStoreStatus loaded = dm->InitData(); !loaded)
    std::fprintf(stderr, "tessold: Start-up could not read every setting: %s\n", qPrintable(loaded.Error));

  TQtMonitorTray tray(MonitorLogo(folder));
  // Without a tray (stock GNOME, a headless session) nothing of the monitor
  // shows: say so once, and where the configurator is found instead.
  if (!QSystemTrayIcon::isSystemTrayAvailable())
    std::fprintf(stderr,
                 "tessold: no system tray on this desktop; the monitor runs without its icon and goes on "
                 "working. Open the configurator from the menu entry \"Gaming Mouse Config\" or with the "
                 "command Marvane.\n");
  platform::PulseMicrophoneMute mic;
  TuiSTDCommand driver(QDir(folder).filePath(QStringLiteral("config.ini")));
  TPlatformConfiguratorLink configurator(folder);
  QObject hookOwner;
  // The monitor shows no window: a missing hook library is one line on
  // stderr, never a modal box whose event loop would hold up the start and
  // the end on a signal. The remapped wheel then does nothing.
  SetWheelHookErrorReporter([](const std::string& title, const std::string& text) {
    std::fprintf(stderr, "tessold: %s: %s\n", title.c_str(), text.c_str());
  });
  std::unique_ptr<TMonitorWheelHook> hook = MakeTuiHookWheel(&hookOwner);
  std::unique_ptr<TInputSynthesis> input = MakeInputSynthesis();

  TMonitorPlatform p;
  p.Tray = &tray;
  p.Mic = &mic;
  p.Driver = &driver;
  p.Configurator = &configurator;
  p.Hook = hook.get();
  p.Input = input.get();
  p.Backend = platform::makeHidBackend();
  p.Notifier = platform::makeHidDeviceNotifier();
  p.ProgramFolder = folder;
  p.Terminate = end;
  auto monitor = std::make_unique<TTessoldMain>(*dm, std::move(p));
  ending = monitor.get();

  tray.OnClick = [m = monitor.get()] { m->TrayIconDblClick(); };
  tray.OnConfig = [m = monitor.get()] { m->Config1Click(); };
  tray.OnExit = [m = monitor.get()] { m->Exit1Click(); };

  platform::MessageEndpoint endpoint;
  if (lock.held()) {
    endpoint.listen(lock, platform::kMonitorClass,
                    [m = monitor.get()](std::uint32_t msg, std::int64_t w, std::int64_t l) {
                      return m->HandleMessage(msg, w, l);
                    });
  }

  monitor->InitMonitor();
  const int rc = endRequested ? 0 : app.exec();
  monitor->DoneMonitor();
  ending = nullptr;
  monitor.reset();
  if (sigFd >= 0) {
    sigNotifier.reset();
    ::close(sigFd);
  }
  return rc;
}
