#pragma once
// The real platform layers of the monitor: the tray icon, the road to the
// configurator, the wheel hook over TuiHook and synthesised input.

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

#include "monitor/MouseMonitor.h"

namespace platform {
class InputSynthesis;
}

class QAction;
class QMenu;
class QSystemTrayIcon;

// QSystemTrayIcon with the menu "Config", "About" (hidden), "Exit". Where no
// tray host exists the icon simply does not show; the monitor works on.
class TQtMonitorTray : public QObject, public TMonitorTray {
  Q_OBJECT
 public:
  // icon: our logo (a Qt tray icon without an icon is never shown).
  explicit TQtMonitorTray(const QIcon& icon, QObject* parent = nullptr);
  ~TQtMonitorTray() override;

  void SetHint(const QString& hint) override;
  void SetMenuTexts(const QString& config, const QString& about, const QString& exit) override;
  void SetVisible(bool visible) override;

  std::function<void()> OnClick;   // single click ("Trigger")
  std::function<void()> OnConfig;
  std::function<void()> OnAbout;
  std::function<void()> OnExit;

  QSystemTrayIcon* Icon() const { return FIcon; }
  QMenu* Menu() const { return FMenu.get(); }

 private:
  std::unique_ptr<QMenu> FMenu;
  QSystemTrayIcon* FIcon = nullptr;
  QAction* FConfig = nullptr;
  QAction* FAbout = nullptr;
  QAction* FExit = nullptr;
};

// The program's logo from the skin, or a plain drawn mark when it is missing.
QIcon MonitorLogo(const QString& programFolder);

// The configurator through the message layer and the launcher.
class TPlatformConfiguratorLink : public TConfiguratorLink {
 public:
  explicit TPlatformConfiguratorLink(QString programFolder) : FFolder(std::move(programFolder)) {}
  bool Activate() override;
  void Start() override;
  void PostClose() override;

 private:
  QString FFolder;
};

// The wheel interception over TuiHook; nullptr when the hook component is
// not part of this build.
std::unique_ptr<TMonitorWheelHook> MakeTuiHookWheel(QObject* owner);
// Where the hook component's load errors go (by default a modal message box).
void SetWheelHookErrorReporter(std::function<void(const std::string& title, const std::string& text)> reporter);

// Synthesised input for the remapped wheel: the emulated mouse when
// MOUSE_EMULATOR is set, else XTest on the display; nullptr when neither
// answers (the remapped directions are then swallowed only).
std::unique_ptr<TInputSynthesis> MakeInputSynthesis();
// The same over a given backend; nullptr for none.
std::unique_ptr<TInputSynthesis> MakeInputSynthesis(std::unique_ptr<platform::InputSynthesis> backend);
