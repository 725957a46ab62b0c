#include "monitor/MonitorPlatform.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <cstdio>

#include "platform/InputSynthesis.h"
#include "platform/MessageChannel.h"
#include "platform/ProgramLauncher.h"

#if defined(MOUSE_HAVE_UIHOOK)
#include "macro/uiHook.h"
#endif

TQtMonitorTray::TQtMonitorTray(const QIcon& icon, QObject* parent) : QObject(parent), FMenu(new QMenu) {
  FConfig = FMenu->addAction(QStringLiteral("Config"));
  FAbout = FMenu->addAction(QStringLiteral("About"));
  FAbout->setVisible(false);
  FExit = FMenu->addAction(QStringLiteral("Exit"));
  connect(FConfig, &QAction::triggered, this, [this] { if (OnConfig) OnConfig(); });
  connect(FAbout, &QAction::triggered, this, [this] { if (OnAbout) OnAbout(); });
  connect(FExit, &QAction::triggered, this, [this] { if (OnExit) OnExit(); });

  FIcon = new QSystemTrayIcon(icon, this);
  FIcon->setContextMenu(FMenu.get());
  connect(FIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger && OnClick) OnClick();
  });
  FIcon->setVisible(true);
}

TQtMonitorTray::~TQtMonitorTray() = default;

void TQtMonitorTray::SetHint(const QString& hint) { FIcon->setToolTip(hint); }

void TQtMonitorTray::SetMenuTexts(const QString& config, const QString& about, const QString& exit) {
  FConfig->setText(config);
  FAbout->setText(about);
  FExit->setText(exit);
}

void TQtMonitorTray::SetVisible(bool visible) { FIcon->setVisible(visible); }

QIcon MonitorLogo(const QString& programFolder) {
  const QString path = QDir(programFolder).filePath(QStringLiteral("Images/0409/icons/logo.png"));
  if (QFileInfo::exists(path)) {
    QIcon icon(path);
    if (!icon.isNull()) return icon;
  }
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(0x20, 0x20, 0x20));
  painter.setPen(QPen(QColor(0xE0, 0x30, 0x30), 3));
  painter.drawEllipse(3, 3, 26, 26);
  painter.end();
  return QIcon(pixmap);
}

bool TPlatformConfiguratorLink::Activate() {
  return platform::post(platform::kConfiguratorClass, platform::WM_ACTIVATE_WINDOW);
}

void TPlatformConfiguratorLink::Start() {
  (void)platform::startProgram("Marvane.exe", FFolder);
}

void TPlatformConfiguratorLink::PostClose() {
  (void)platform::post(platform::kConfiguratorClass, platform::WM_CLOSE_CONFIG);
}

#if defined(MOUSE_HAVE_UIHOOK)
namespace {

class TuiHookWheel : public TMonitorWheelHook {
 public:
  explicit TuiHookWheel(QObject*) : FHook(std::make_unique<TuiHook>()) {
    FHook->OnHookMouseButton = [this](TMouseButtons button, int state, bool& blocked) {
      if (OnHookMouseButton) OnHookMouseButton(int(button), state, blocked);
    };
  }
  void StopHookMouse() override { FHook->StopHookMouse(); }
  void RemoveAllMouseHookObject() override { FHook->RemoveAllMouseHookObject(); }
  void AddMouseHookObject(int wheelButton) override {
    auto object = std::make_unique<TMouseHookDetailObject>();
    object->FMouseHookDetail.MouseButton = static_cast<TMouseButtons>(wheelButton);
    object->FMouseHookDetail.MouseStateSet = MouseStateBit(MOUSEWHEEL);
    object->FMouseHookDetail.ModifiedFunction = BUTTON_NONE;
    FHook->AddMouseHookObject(std::move(object));
  }
  void StartHookMouse() override { FHook->StartHookMouse(); }

 private:
  std::unique_ptr<TuiHook> FHook;
};

}  // namespace

std::unique_ptr<TMonitorWheelHook> MakeTuiHookWheel(QObject* owner) { return std::make_unique<TuiHookWheel>(owner); }

void SetWheelHookErrorReporter(std::function<void(const std::string&, const std::string&)> reporter) {
  TuiHook::SetErrorReporter(std::move(reporter));
}
#else
void SetWheelHookErrorReporter(std::function<void(const std::string&, const std::string&)>) {}

std::unique_ptr<TMonitorWheelHook> MakeTuiHookWheel(QObject*) {
  std::fprintf(stderr, "wheel remapping is not part of this build\n");
  return nullptr;
}
#endif

namespace {

// The monitor's narrow view of input synthesis over the platform backend.
// The wheel functions send media and browser keys only, none of which has
// an extended position.
class TPlatformInputSynthesis : public TInputSynthesis {
 public:
  explicit TPlatformInputSynthesis(std::unique_ptr<platform::InputSynthesis> backend)
      : FBackend(std::move(backend)) {}
  void Wheel(int delta) override {
    if (!FBackend->wheel(delta)) std::fprintf(stderr, "wheel %+d could not be synthesised\n", delta);
  }
  void Key(uint16_t vk, bool press) override {
    if (!FBackend->key(vk, false, press))
      std::fprintf(stderr, "key 0x%02X %s could not be synthesised\n", unsigned(vk), press ? "down" : "up");
  }

 private:
  std::unique_ptr<platform::InputSynthesis> FBackend;
};

}  // namespace

std::unique_ptr<TInputSynthesis> MakeInputSynthesis() {
  return MakeInputSynthesis(platform::createInputSynthesis());
}

std::unique_ptr<TInputSynthesis> MakeInputSynthesis(std::unique_ptr<platform::InputSynthesis> backend) {
  if (!backend || backend->backendName() == "none") {
    // The remapped directions are still swallowed; their functions do nothing.
    std::fprintf(stderr, "input synthesis is not available: remapped wheel functions do nothing\n");
    return nullptr;
  }
  return std::make_unique<TPlatformInputSynthesis>(std::move(backend));
}
