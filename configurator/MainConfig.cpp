#include "configurator/MainConfig.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QToolTip>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QFontMetricsF>
#include <QTimer>
#include <QVariantAnimation>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "configurator/AssignmentMenus.h"
#include "configurator/HelpUnit.h"
#include "configurator/fireset.h"
#include "device/DMUnit.h"
#include "device/DeviceProtocol.h"
#include "device/ProfileEncoders.h"
#include "device/uiHIDData.h"
#include "device/uiHIDEvent.h"
#include "macro/SingleKeyfrm.h"
#include "macro/combofrm.h"
#include "macro/macrofrm.h"
#include "platform/HidBackend.h"
#include "platform/MessageChannel.h"
#include "platform/PointerSettings.h"
#include "platform/ProgramLauncher.h"
#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/QtFileChooser.h"
#include "toolkit/SkinCursors.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"
#include "toolkit/uiMenuEx.h"

namespace {

constexpr uint16_t kWheelLedAddress = 62;
constexpr int kCpiMin = 100, kCpiMax = 3500, kCpiStep = 100;
constexpr int kScrollOnePage = 20;

// The six swatch colours: red, yellow, green, teal, magenta, violet.
constexpr uint32_t kSwatchColors[6] = {0xFFFF0000u, 0xFFFFFF00u, 0xFF00FF00u,
                                      0xFF006060u, 0xFFFF00FFu, 0xFF5400FFu};

// The free bold sans font of the skin in place of the commercial one.
QString fontRule(int pointSize, bool bold) {
  return QStringLiteral("font-family: \"DejaVu Sans\"; font-size: %1pt;%2")
      .arg(pointSize)
      .arg(bold ? QStringLiteral(" font-weight: bold;") : QString());
}

// One colour as the swatches and the current-colour picture show it; the
// chosen swatch carries a white ring.
QImage swatchPicture(uint32_t argb, int size, bool chosen = false) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x07, 0x08, 0x0a), 2));
  p.setBrush(QColor::fromRgba(argb));
  p.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), 4, 4);
  p.setPen(QPen(QColor(255, 255, 255, 60), 1));
  p.drawLine(QPointF(4, 2.5), QPointF(size - 4, 2.5));
  if (chosen) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xf2, 0xf2, 0xf2), 2));
    p.drawRoundedRect(QRectF(3, 3, size - 6, size - 6), 3, 3);
  }
  return image;
}

// A fixed text field of a record, up to its first null (or its end).
template <size_t N>
QString fixedString(const char16_t (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n] != 0) ++n;
  return QString::fromUtf16(field, static_cast<qsizetype>(n));
}

}  // namespace

// ---------------------------------------------------------------------------
// Skin controls

void TSkinButton::AssignPictures(const QString& normal, const QString& hotAndPressed) {
  const QString sub = QStringLiteral("Buttons");
  ImageDataBase().AssignIMAGE(PictureNormal, normal, sub, QString());
  ImageDataBase().AssignIMAGE(PictureHot, hotAndPressed, sub, QString());
  ImageDataBase().AssignIMAGE(PicturePressed, hotAndPressed, sub, QString());
  update();
}

void TSkinButton::paintEvent(QPaintEvent* event) {
  if (PictureNormal.isNull()) {
    QPushButton::paintEvent(event);
    return;
  }
  QPainter p(this);
  const QImage* picture = &PictureNormal;
  if ((isDown() || isChecked()) && !PicturePressed.isNull())
    picture = &PicturePressed;
  else if (underMouse() && isEnabled() && !PictureHot.isNull())
    picture = &PictureHot;
  p.drawImage(rect(), *picture);
  p.setFont(font());
  p.setPen(isEnabled() ? palette().color(QPalette::ButtonText) : QColor(0x5d, 0x64, 0x6f));
  p.drawText(rect().marginsRemoved(TextMargins), Qt::AlignCenter, ShownCaption());
}

QString TSkinButton::ShownCaption() const {
  // Every caption keeps the button's font; one wider than the room between
  // the picture's bar and arrow ends in "…" and shows whole as a tooltip.
  return fontMetrics().elidedText(text(), Qt::ElideRight, rect().marginsRemoved(TextMargins).width());
}

bool TSkinButton::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && toolTip().isEmpty() && ShownCaption() != text()) {
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
    return true;
  }
  return QPushButton::event(event);
}

TRotatingImage::TRotatingImage(QWidget* parent) : QWidget(parent) {
  Animation = new QVariantAnimation(this);
  Animation->setStartValue(0.0);
  Animation->setEndValue(360.0);
  Animation->setDuration(1200);
  connect(Animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    RotateAngle = v.toDouble();
    update();
  });
}

void TRotatingImage::paintEvent(QPaintEvent*) {
  if (Picture.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.translate(width() / 2.0, height() / 2.0);
  p.rotate(RotateAngle);
  p.translate(-width() / 2.0, -height() / 2.0);
  p.drawImage(rect(), Picture);
}

void TRotatingImage::mouseDoubleClickEvent(QMouseEvent*) { emit doubleClicked(); }

TBusyIndicator::TBusyIndicator(QWidget* parent) : TRotatingImage(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  Animation->setDuration(900);
  Animation->setLoopCount(-1);
}

void TBusyIndicator::showEvent(QShowEvent*) { Animation->start(); }

void TBusyIndicator::hideEvent(QHideEvent*) {
  Animation->stop();
  RotateAngle = 0;
}

void TBusyIndicator::paintEvent(QPaintEvent* event) {
  if (!Picture.isNull()) {
    TRotatingImage::paintEvent(event);
    return;
  }
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF ring = QRectF(rect()).adjusted(5, 5, -5, -5);
  p.setPen(QPen(QColor(0x2c, 0x31, 0x38), 3));
  p.drawEllipse(ring);
  p.setPen(QPen(QColor(0xff, 0x3b, 0x4f), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(ring, int(-RotateAngle * 16), 90 * 16);
}

// ---------------------------------------------------------------------------
// Creation

TMarvaneMain::TMarvaneMain(TMarvaneEnvironment env, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), FEnv(std::move(env)) {
  setObjectName(QStringLiteral("MarvaneMain"));
  setFixedSize(kWidth, kHeight);
  if (FEnv.ProgramFolder.isEmpty()) FEnv.ProgramFolder = QCoreApplication::applicationDirPath();
  if (FEnv.LanguageFile.isEmpty()) FEnv.LanguageFile = QDir(FEnv.ProgramFolder).filePath(QStringLiteral("ui.local"));
  if (!FEnv.Terminate) FEnv.Terminate = [] { QCoreApplication::exit(0); };
  if (!FEnv.StartMonitor) {
    const QString folder = FEnv.ProgramFolder;
    FEnv.StartMonitor = [folder] {
      if (platform::find(platform::kMonitorClass))
        platform::post(platform::kMonitorClass, platform::WM_ACTIVATE_WINDOW);
      else
        platform::startProgram("tessold.exe", folder);
    };
  }
  // Centred on the desktop.
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));

  uiHIDData1 = new TuiHIDData(this, FEnv.HidBackend, QDir(FEnv.ProgramFolder).filePath(QStringLiteral("config.ini")));
  uiHIDEvent1 = new TuiHIDEvent(this, std::move(FEnv.Notifier));
  uiHIDEvent1->OnDeviceArrival = [this](auto&&...) { uiHIDEvent1DeviceArrival(); };
  uiLanguage1 = new TuiLanguage(this, FEnv.LanguageFile);
  if (!uiLanguage1->parent()) uiLanguage1->setParent(this);  // freed with the window

  // The view-refresh commands, in this order; SetLED has no handler.
  const std::pair<const char*, std::function<void()>> commands[] = {
      {"SetButton", [this] { uiCommandSetting1Commands0Execute(); }},
      {"SetCPI", [this] { uiCommandSetting1Commands1Execute(); }},
      {"SetMouseParam", [this] { uiCommandSetting1Commands2Execute(); }},
      {"SetProfileBtn", [this] { uiCommandSetting1Commands3Execute(); }},
      {"SetReport", [this] { uiCommandSetting1Commands4Execute(); }},
      {"SetLED", nullptr},
  };
  for (const auto& [name, run] : commands) {
    TuiCommand& c = uiCommandSetting1.Commands().Add();
    c.Name = QString::fromLatin1(name);
    if (run) c.OnExecute = [run](TuiGetSet, void*, uint32_t) { run(); };
  }

  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(500);
  connect(Timer2, &QTimer::timeout, this, &TMarvaneMain::Timer2Timer);

  CreateControls();
  FormCreate();
}

TMarvaneMain::~TMarvaneMain() = default;

void TMarvaneMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FEnv.StoreNotice.isEmpty()) return;
  // After the window is on screen, so the dialog has it to stand over; taken
  // out first, so it is said once however often the window shows.
  QMetaObject::invokeMethod(
      this,
      [this, notice = std::exchange(FEnv.StoreNotice, QString())] {
        ShowMessageDialog(Translate(QStringLiteral("Warning")), notice, QString(), this);
      },
      Qt::QueuedConnection);
}

void TMarvaneMain::SetStyleName(QWidget* w, const char* style) {
  if (w->property("skinStyle").toString() == QLatin1String(style)) return;
  w->setProperty("skinStyle", QString::fromLatin1(style));
  w->style()->unpolish(w);
  w->style()->polish(w);
  w->update();
}

void TMarvaneMain::SetFontSize(QWidget* w, int pointSize) {
  w->setStyleSheet(fontRule(pointSize, true) + QStringLiteral(" padding: 0px 2px;"));
}

void TMarvaneMain::CreateControls() {
  auto skinButton = [this](QWidget* parent, const char* name, const QString& text, QRect where) {
    auto* b = new TSkinButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(where);
    b->setFocusPolicy(Qt::NoFocus);
    if (!text.isEmpty()) SetUiText(b, text);
    return b;
  };

  auto* title = new QLabel(this);
  title->setObjectName(QStringLiteral("LabelTitle"));
  title->setGeometry(300, 12, 200, 30);
  title->setAlignment(Qt::AlignCenter);
  title->setStyleSheet(fontRule(12, true) + QStringLiteral(" color: #ffffff;"));
  SetUiText(title, QStringLiteral("Gaming Mouse Config"));

  BSBTNHELP = skinButton(this, "BSBTNHELP", QString(), QRect(705, 16, 24, 24));
  BSBTNHELP->hide();
  BSBTNMIN = skinButton(this, "BSBTNMIN", QString(), QRect(735, 16, 24, 24));
  BtnClose = skinButton(this, "BtnClose", QString(), QRect(765, 16, 24, 24));
  connect(BSBTNHELP, &QPushButton::clicked, this, &TMarvaneMain::BSBTNHELPClick);
  connect(BSBTNMIN, &QPushButton::clicked, this, &TMarvaneMain::BSBTNMINClick);
  connect(BtnClose, &QPushButton::clicked, this, &TMarvaneMain::BtnCloseClick);

  PopBoxLanguage = new QComboBox(this);
  PopBoxLanguage->setObjectName(QStringLiteral("PopBoxLanguage"));
  PopBoxLanguage->setGeometry(560, 20, 130, 22);
  PopBoxLanguage->hide();
  PopBoxLanguage->installEventFilter(this);
  connect(PopBoxLanguage, &QComboBox::currentIndexChanged, this, &TMarvaneMain::PopBoxLanguageChange);

  // Button assignment: buttons 1..7 and the two wheel directions.
  for (int i = 0; i < 9; ++i) {
    const QString name = i == 8 ? QStringLiteral("Btnset9") : QStringLiteral("BtnSet%1").arg(i + 1);
    auto* b = skinButton(this, name.toLatin1().constData(), QStringLiteral("%1.Default").arg(i + 1),
                         QRect(30, 84 + i * 46, 150, 28));
    b->setProperty("tag", i < 7 ? i : i - 7);
    SetStyleName(b, "MyButtonSetStyle");
    b->TextMargins = QMargins(9, 0, 15, 0);
    BtnSet[i] = b;
    connect(b, &QPushButton::clicked, this, [this, i] { BtnSetClick(i); });
  }

  // Modes and profiles.
  BSBTNMODE1 = skinButton(this, "BSBTNMODE1", QStringLiteral("Mode 1"), QRect(20, 539, 88, 30));
  BSBTNMODE2 = skinButton(this, "BSBTNMODE2", QStringLiteral("Mode 2"), QRect(112, 539, 88, 30));
  BSBTNMODE1->setProperty("tag", 0);
  BSBTNMODE2->setProperty("tag", 1);
  connect(BSBTNMODE1, &QPushButton::clicked, this, [this] { BSBTNMODE1Click(0); });
  connect(BSBTNMODE2, &QPushButton::clicked, this, [this] { BSBTNMODE1Click(1); });
  for (int p = 0; p < 5; ++p) {
    auto* b = skinButton(this, QStringLiteral("BtnProfile%1").arg(p + 1).toLatin1().constData(),
                         QStringLiteral("PROFILE%1").arg(p + 1), QRect(206 + p * 116, 539, 104, 30));
    b->setCheckable(true);  // stays pressed
    b->setProperty("tag", p);
    BtnProfile[p] = b;
    connect(b, &QPushButton::clicked, this, [this, p] { BtnProfile1Click(p); });
  }
  BtnLoadProfile = skinButton(this, "BtnLoadProfile", QStringLiteral("PRESET"), QRect(20, 597, 104, 30));
  connect(BtnLoadProfile, &QPushButton::clicked, this, &TMarvaneMain::BtnLoadProfile1Click);

  // Footer.
  BSBTNRESTOREDEFAULTS = skinButton(this, "BSBTNRESTOREDEFAULTS", QStringLiteral("Reset All"), QRect(380, 598, 96, 28));
  BSBTNAPPLY = skinButton(this, "BSBTNAPPLY", QStringLiteral("Apply"), QRect(482, 598, 96, 28));
  BSBTNOK = skinButton(this, "BSBTNOK", QStringLiteral("OK"), QRect(584, 598, 96, 28));
  BSBTNCANCEL = skinButton(this, "BSBTNCANCEL", QStringLiteral("Cancel"), QRect(686, 598, 96, 28));
  for (auto* b : {BSBTNRESTOREDEFAULTS, BSBTNAPPLY, BSBTNOK, BSBTNCANCEL}) SetStyleName(b, "MyMAINOKButtonStyle");
  connect(BSBTNRESTOREDEFAULTS, &QPushButton::clicked, this, &TMarvaneMain::BSBTNRESTOREDEFAULTSClick);
  connect(BSBTNAPPLY, &QPushButton::clicked, this, &TMarvaneMain::BSBTNAPPLYClick);
  connect(BSBTNOK, &QPushButton::clicked, this, &TMarvaneMain::BSBTNOKClick);
  connect(BSBTNCANCEL, &QPushButton::clicked, this, &TMarvaneMain::BSBTNCANCELClick);

  APPLYAniIndicator = new TBusyIndicator(this);
  APPLYAniIndicator->setObjectName(QStringLiteral("APPLYAniIndicator"));
  APPLYAniIndicator->setGeometry(200, 598, 28, 28);
  APPLYAniIndicator->hide();
  APPLYAniIndicator->setEnabled(false);
  ProgressBarTime = new QProgressBar(this);
  ProgressBarTime->setObjectName(QStringLiteral("ProgressBarTime"));
  ProgressBarTime->setRange(0, 100);
  ProgressBarTime->setGeometry(240, 604, 120, 16);
  ProgressBarTime->hide();

  // The three views.
  TabControlMain = new QTabWidget(this);
  TabControlMain->setObjectName(QStringLiteral("TabControlMain"));
  TabControlMain->setGeometry(356, 68, 431, 454);
  TabControlMain->tabBar()->setFocusPolicy(Qt::NoFocus);
  Layout1 = new QWidget;
  Layout1->setObjectName(QStringLiteral("Layout1"));
  Layout2 = new QWidget;
  Layout2->setObjectName(QStringLiteral("Layout2"));
  Layout3 = new QWidget;
  Layout3->setObjectName(QStringLiteral("Layout3"));
  TabControlMain->addTab(Layout1, QString());
  TabControlMain->addTab(Layout2, QString());
  TabControlMain->addTab(Layout3, QString());
  CreateGeneralView();
  CreateLightView();
  CreateAdvancedView();
}

namespace {

QLabel* caption(QWidget* parent, const char* name, const QString& text, QRect where, bool heading = false) {
  auto* l = new QLabel(parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(where);
  if (heading) l->setStyleSheet(QStringLiteral("color: #ff3b4f; font-weight: bold; font-size: 13px;"));
  SetUiText(l, text);
  return l;
}

template <class T>
T* named(T* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

}  // namespace

void TMarvaneMain::CreateGeneralView() {
  QWidget* v = Layout1;
  caption(v, "LabelDPI", QStringLiteral("DPI"), QRect(20, 14, 200, 20), true);
  caption(v, "LabelX", QStringLiteral("X"), QRect(130, 38, 90, 16));
  caption(v, "LabelY", QStringLiteral("Y"), QRect(250, 38, 90, 16));
  const char* levelNames[4] = {"DPI1", "dpi2", "DPI3", "DPI4"};
  for (int i = 0; i < 4; ++i) {
    const int y = 58 + i * 40;
    auto* b = named(new QPushButton(v), levelNames[i]);
    b->setGeometry(20, y, 84, 28);
    b->setCheckable(true);  // stays pressed
    b->setFocusPolicy(Qt::NoFocus);
    b->setProperty("tag", i);
    SetUiText(b, QStringLiteral("DPI%1").arg(i + 1));
    connect(b, &QPushButton::clicked, this, [this, i] { DODPIStateValueChangedEvent(i); });

    auto numberBox = [&](const QString& name, int x) {
      auto* box = new QSpinBox(v);
      box->setObjectName(name);
      box->setRange(kCpiMin, kCpiMax);
      box->setSingleStep(kCpiStep);
      box->setKeyboardTracking(false);  // one edit when the typing is done
      box->setGeometry(x, y, 100, 28);
      box->setProperty("tag", i);
      auto* glow = new QGraphicsDropShadowEffect(box);
      glow->setColor(QColor(0xe3, 0x26, 0x3a));
      glow->setOffset(0, 0);
      glow->setBlurRadius(14);
      glow->setEnabled(false);
      box->setGraphicsEffect(glow);
      box->installEventFilter(this);
      for (QObject* child : box->children())
        if (auto* w = qobject_cast<QWidget*>(child)) w->installEventFilter(this);
      connect(box, &QSpinBox::valueChanged, this, [this, box] { DOCpiValueChangeEvent(box); });
      return box;
    };
    TLevelControls row;
    row.Button = b;
    row.X = numberBox(QStringLiteral("X%1").arg(i + 1), 130);
    row.Y = numberBox(QStringLiteral("Y%1").arg(i + 1), 250);
    row.XY = named(new QSpinBox(v), QStringLiteral("XY%1").arg(i + 1).toLatin1().constData());
    row.XY->setRange(0, 65535);
    row.XY->setEnabled(false);
    row.XY->hide();
    LevelControlTable[i] = row;
  }

  TrackBarCPIX = named(new QSlider(Qt::Horizontal, v), "TrackBarCPIX");
  TrackBarCPIY = named(new QSlider(Qt::Horizontal, v), "TrackBarCPIY");
  for (QSlider* bar : {TrackBarCPIX, TrackBarCPIY}) {
    bar->setRange(kCpiMin, kCpiMax);
    bar->setSingleStep(kCpiStep);
    bar->hide();
    connect(bar, &QSlider::valueChanged, this, [this, bar] { TrackBarCPIXChange(bar); });
  }

  CHKApplyDiffirentXY = named(new QCheckBox(v), "CHKApplyDiffirentXY");
  CHKApplyDiffirentXY->setGeometry(20, 222, 300, 22);
  SetUiText(CHKApplyDiffirentXY, QStringLiteral("Diffirent X/Y setting"));
  CHKAPPLYSETTINGEACHPROFILE = named(new QCheckBox(v), "CHKAPPLYSETTINGEACHPROFILE");
  SetUiText(CHKAPPLYSETTINGEACHPROFILE, QStringLiteral("Apply cpi setting for each profile"));
  CHKAPPLYSETTINGEACHPROFILE->hide();
  CHKApplyAccelaration = named(new QCheckBox(v), "CHKApplyAccelaration");
  SetUiText(CHKApplyAccelaration, QStringLiteral("Accelaration"));
  CHKApplyAccelaration->hide();
  for (QCheckBox* c : {CHKApplyDiffirentXY, CHKAPPLYSETTINGEACHPROFILE, CHKApplyAccelaration})
    connect(c, &QCheckBox::toggled, this, [this, c] { DOCpiAdvanceItemChangeEvent(c); });

  caption(v, "LabelReportRate", QStringLiteral("Report Rate"), QRect(20, 268, 200, 20), true);
  FReportGroup = new QButtonGroup(this);
  const std::pair<QRadioButton**, const char*> rates[] = {
      {&RD125HZ, "125Hz"}, {&RD250HZ, "250Hz"}, {&RD500HZ, "500Hz"}, {&RD1000HZ, "1000Hz"}};
  int x = 20;
  for (auto [field, text] : rates) {
    auto* r = new QRadioButton(v);
    r->setObjectName(QStringLiteral("RD%1").arg(QString::fromLatin1(text).toUpper()));
    r->setGeometry(x, 298, 92, 22);
    SetUiText(r, QString::fromLatin1(text));
    FReportGroup->addButton(r);
    *field = r;
    x += 96;
    connect(r, &QRadioButton::toggled, this, [this, r](bool on) {
      if (on) DoReportRateAndLightChangeEvent(r);  // only the radio that became selected
    });
  }

  BSBTNSENSDEFAULTS = new TSkinButton(v);
  BSBTNSENSDEFAULTS->setObjectName(QStringLiteral("BSBTNSENSDEFAULTS"));
  BSBTNSENSDEFAULTS->setGeometry(315, 370, 96, 28);
  BSBTNSENSDEFAULTS->setFocusPolicy(Qt::NoFocus);
  SetStyleName(BSBTNSENSDEFAULTS, "MyMAINOKButtonStyle");
  SetUiText(BSBTNSENSDEFAULTS, QStringLiteral("Defaults"));
  connect(BSBTNSENSDEFAULTS, &QPushButton::clicked, this, &TMarvaneMain::BSBTNSENSDEFAULTSClick);
}

void TMarvaneMain::CreateLightView() {
  QWidget* v = Layout2;
  caption(v, "LabelBreathing", QStringLiteral("Breathing"), QRect(20, 14, 300, 20), true);
  FBreathGroup = new QButtonGroup(this);
  const std::tuple<QRadioButton**, const char*, const char*, QPoint> breath[] = {
      {&rlow, "rlow", "Low Speed", {20, 46}},
      {&rMedium, "rMedium", "Medium Speed", {210, 46}},
      {&rHigh, "rHigh", "High Speed", {20, 80}},
      {&rClose, "rClose", "Closed", {210, 80}}};
  for (auto [field, name, text, at] : breath) {
    auto* r = named(new QRadioButton(v), name);
    r->setGeometry(at.x(), at.y(), 180, 22);
    SetUiText(r, QString::fromLatin1(text));
    FBreathGroup->addButton(r);
    *field = r;
    connect(r, &QRadioButton::toggled, this, [this, r](bool on) {
      if (on) DoReportRateAndLightChangeEvent(r);
    });
  }

  caption(v, "LabelColor", QStringLiteral("Color"), QRect(20, 130, 300, 20), true);
  for (int i = 0; i < 6; ++i) {
    auto* s = named(new QPushButton(v), QStringLiteral("C%1").arg(i + 1).toLatin1().constData());
    s->setGeometry(20 + i * 46, 166, 36, 36);
    s->setFocusPolicy(Qt::NoFocus);
    s->setProperty("tag", i);
    s->setFlat(true);
    // Checked only by the view: the swatch of the profile's colour, if any.
    s->setCheckable(true);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(swatchPicture(kSwatchColors[i], 36)), QIcon::Normal, QIcon::Off);
    icon.addPixmap(QPixmap::fromImage(swatchPicture(kSwatchColors[i], 36, true)), QIcon::Normal, QIcon::On);
    s->setIcon(icon);
    s->setIconSize(QSize(36, 36));
    s->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; padding: 0; }"));
    connect(s, &QPushButton::clicked, this, [this, i] { DOLightColorSelectionEvent(i); });
  }
  ImageLightColor = named(new QLabel(v), "ImageLightColor");
  ImageLightColor->setGeometry(330, 150, 68, 68);

  RDLIGHTOFF = named(new QRadioButton(v), "RDLIGHTOFF");
  SetUiText(RDLIGHTOFF, QStringLiteral("Turn Off"));
  RDLIGHTON = named(new QRadioButton(v), "RDLIGHTON");
  SetUiText(RDLIGHTON, QStringLiteral("Turn On"));
  FLightGroup = new QButtonGroup(this);
  for (QRadioButton* r : {RDLIGHTOFF, RDLIGHTON}) {
    FLightGroup->addButton(r);
    r->hide();
    connect(r, &QRadioButton::toggled, this, [this, r](bool on) {
      if (on) DoReportRateAndLightChangeEvent(r);
    });
  }
  TrackBarLIGHTSPEED = named(new QSlider(Qt::Horizontal, v), "TrackBarLIGHTSPEED");
  TrackBarLIGHTSPEED->setRange(1, 3);
  TrackBarLIGHTSPEED->hide();
  connect(TrackBarLIGHTSPEED, &QSlider::valueChanged, this,
          [this] { DoReportRateAndLightChangeEvent(TrackBarLIGHTSPEED); });
  NBFIRECOUNT = named(new QSpinBox(v), "NBFIRECOUNT");
  NBFIRECOUNT->setRange(1, 60);
  NBFireDelay = named(new QSpinBox(v), "NBFireDelay");
  NBFireDelay->setRange(10, 250);
  NBFireDelay->setSingleStep(10);
  for (QSpinBox* box : {NBFIRECOUNT, NBFireDelay}) {
    box->hide();
    connect(box, &QSpinBox::valueChanged, this, [this, box] { DoReportRateAndLightChangeEvent(box); });
  }

  BSBTNADVDEFAULTS = new TSkinButton(v);
  BSBTNADVDEFAULTS->setObjectName(QStringLiteral("BSBTNADVDEFAULTS"));
  BSBTNADVDEFAULTS->setGeometry(315, 370, 96, 28);
  BSBTNADVDEFAULTS->setFocusPolicy(Qt::NoFocus);
  SetStyleName(BSBTNADVDEFAULTS, "MyMAINOKButtonStyle");
  SetUiText(BSBTNADVDEFAULTS, QStringLiteral("Defaults"));
  connect(BSBTNADVDEFAULTS, &QPushButton::clicked, this, &TMarvaneMain::BSBTNADVDEFAULTSClick);
}

void TMarvaneMain::CreateAdvancedView() {
  QWidget* v = Layout3;
  auto groove = [v](const char* name, int y) {
    auto* l = named(new QLabel(v), name);
    l->setGeometry(20, y, 240, 24);
    QImage picture;
    ImageDataBase().AssignIMAGE(picture, QStringLiteral("trackbar-back-sm.png"), QStringLiteral("controls"), QString());
    if (!picture.isNull()) l->setPixmap(QPixmap::fromImage(picture));
    return l;
  };
  auto bar = [this, v](const char* name, int y, int lo, int hi, int step) {
    auto* s = named(new QSlider(Qt::Horizontal, v), name);
    s->setGeometry(28, y, 224, 24);
    s->setRange(lo, hi);
    s->setSingleStep(step);
    s->setPageStep(step);
    s->setFocusPolicy(Qt::NoFocus);
    connect(s, &QSlider::valueChanged, this, [this, s] { DOSpeedValueChangedEvent(s); });
    return s;
  };

  caption(v, "LabelDoubleClick", QStringLiteral("Double-click speed"), QRect(20, 14, 250, 20), true);
  groove("Imagedbclickspeed", 44);
  TrackBarDoubleClickSpeed = bar("TrackBarDoubleClickSpeed", 44, 200, 900, 10);
  caption(v, "LabelSlow1", QStringLiteral("Slow"), QRect(20, 70, 60, 16));
  caption(v, "LabelFast1", QStringLiteral("Fast"), QRect(220, 70, 60, 16))->setAlignment(Qt::AlignRight);
  imageTest = named(new TRotatingImage(v), "imageTest");
  imageTest->setGeometry(290, 14, 120, 120);
  connect(imageTest, &TRotatingImage::doubleClicked, this, &TMarvaneMain::imageTestDblClick);

  caption(v, "LabelPointer", QStringLiteral("Pointer speed"), QRect(20, 150, 250, 20), true);
  groove("ImagePointerspeed", 180);
  TrackBarPointerSpeed = bar("TrackBarPointerSpeed", 180, 1, 20, 1);
  caption(v, "LabelSlow2", QStringLiteral("Slow"), QRect(20, 206, 60, 16));
  caption(v, "LabelFast2", QStringLiteral("Fast"), QRect(220, 206, 60, 16))->setAlignment(Qt::AlignRight);
  CHKENHANCEPOINTER = named(new QCheckBox(v), "CHKENHANCEPOINTER");
  CHKENHANCEPOINTER->setGeometry(20, 230, 300, 22);
  SetUiText(CHKENHANCEPOINTER, QStringLiteral("Enhance pointer precision"));
  connect(CHKENHANCEPOINTER, &QCheckBox::toggled, this, [this] { DOSpeedValueChangedEvent(CHKENHANCEPOINTER); });

  caption(v, "LabelScroll", QStringLiteral("Scroll"), QRect(20, 272, 250, 20), true);
  FScrollGroup = new QButtonGroup(this);
  RDSCROLL = named(new QRadioButton(v), "RDSCROLL");
  RDSCROLL->setGeometry(20, 300, 250, 22);
  SetUiText(RDSCROLL, QStringLiteral("Scroll Speed"));
  groove("Imagescrollspeed", 328);
  TRACKBARSCROLLSPEED = bar("TRACKBARSCROLLSPEED", 328, 1, 10, 1);
  RDSCROLLONEPAGE = named(new QRadioButton(v), "RDSCROLLONEPAGE");
  RDSCROLLONEPAGE->setGeometry(20, 362, 250, 22);
  SetUiText(RDSCROLLONEPAGE, QStringLiteral("Scroll for one page"));
  for (QRadioButton* r : {RDSCROLL, RDSCROLLONEPAGE}) {
    FScrollGroup->addButton(r);
    connect(r, &QRadioButton::toggled, this, [this, r](bool on) {
      if (on) DOSpeedValueChangedEvent(r);
    });
  }
}

// ---------------------------------------------------------------------------
// Start-up

void TMarvaneMain::LoadSkin() {
  const QDir folder(FEnv.ProgramFolder);
  const QString styleFile = ResolveProgramPath(folder.filePath(QStringLiteral("images/ui.vgstyle")), FEnv.ProgramFolder);
  QFile style(styleFile);
  if (style.open(QIODevice::ReadOnly | QIODevice::Text) && style.size() < (4 << 20))
    setStyleSheet(QString::fromUtf8(style.readAll()));
  const QString icon = ResolveProgramPath(folder.filePath(QStringLiteral("images/0409/icons/logo.ico")), FEnv.ProgramFolder);
  if (QFileInfo(icon).isFile()) {
    const QIcon appIcon(icon);
    if (!appIcon.isNull()) {
      QApplication::setWindowIcon(appIcon);
      setWindowIcon(appIcon);
    }
  }

  // The pictures come through the one image cache, rooted in this program folder.
  const QString base = folder.filePath(QStringLiteral("Images/0409"));
  if (QDir::cleanPath(ImageDataBase().ImageDBPath()) != QDir::cleanPath(base)) ImageDataBase().SetImageBasePath(base);
  QImage back(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  back.fill(QColor(0x0e, 0x10, 0x13));
  ImageDataBase().AssignIMAGE(back, QStringLiteral("cfgMainback.png"), QStringLiteral("background"), QString());
  FBackground = back;
  ImageDataBase().AssignIMAGE(imageTest->Picture, QStringLiteral("DB-CLICK-TEST-AREA.png"), QStringLiteral("background"), QString());
  for (TSkinButton* b : BtnProfile) b->AssignPictures(QStringLiteral("ProfileButton-1.png"), QStringLiteral("ProfileButton-2.png"));
  BtnLoadProfile->AssignPictures(QStringLiteral("ProfileButton-1.png"), QStringLiteral("ProfileButton-2.png"));
  for (TSkinButton* b : BtnSet) {
    b->AssignPictures(QStringLiteral("ButtonAssign-1.png"), QStringLiteral("ButtonAssign-2.png"));
    SetFontSize(b, 11);
  }
  ImageDataBase().AssignIMAGE(imageTest->Picture, QStringLiteral("db-click-back.png"), QStringLiteral("background"), QString());
  for (TSkinButton* b : {BSBTNOK, BSBTNCANCEL, BSBTNAPPLY, BSBTNRESTOREDEFAULTS, BSBTNSENSDEFAULTS, BSBTNADVDEFAULTS})
    b->AssignPictures(QStringLiteral("ok-1.png"), QStringLiteral("ok-2.png"));
  BSBTNMIN->AssignPictures(QStringLiteral("min-1.png"), QStringLiteral("min-2.png"));
  BtnClose->AssignPictures(QStringLiteral("Close-1.png"), QStringLiteral("Close-2.png"));
  BSBTNHELP->AssignPictures(QStringLiteral("help-1.png"), QStringLiteral("help-2.png"));
  ImageDataBase().AssignIMAGE(APPLYAniIndicator->Picture, QStringLiteral("busy.png"), QStringLiteral("controls"),
                              QString());
  for (QWidget* w : std::initializer_list<QWidget*>{BtnProfile[0], BtnProfile[1], BtnProfile[2], BtnProfile[3],
                                                     BtnProfile[4], BtnLoadProfile, BSBTNMODE1, BSBTNMODE2})
    SetFontSize(w, 11);
}

void TMarvaneMain::LoadCursors() {
  const QDir folder(FEnv.ProgramFolder);
  InstallSkinCursors(ResolveProgramPath(folder.filePath(QStringLiteral("images/hand.cur")), FEnv.ProgramFolder),
                     ResolveProgramPath(folder.filePath(QStringLiteral("images/attack.cur")), FEnv.ProgramFolder));
}

void TMarvaneMain::FormCreate() {
  CreateMenus();  // before the language: applying it refreshes the captions
  LoadSkin();                                                     // 1
  FInitlizing = true;                                             // 2
  for (int i = 0; i < 4; ++i) {                                   // 3
    FCPI_NBOX_INFO[i] = LevelControlTable[i];
    FLight_Colors[i].Color = kSwatchColors[i];
  }
  for (int i = 0; i < 7; ++i) {
    FConfigButtonSet[i] = BtnSet[i];
    BtnSet[i]->setToolTipDuration(-1);
    BtnSet[i]->installEventFilter(this);  // the hint follows the assignment on mouse enter
  }
  FWheelConfigButtonSet[0] = BtnSet[7];
  FWheelConfigButtonSet[1] = BtnSet[8];
  for (int i = 0; i < 6; ++i) {
    FLight_Colors[i].Color = kSwatchColors[i];
    FLight_Colors[i].Swatch = findChild<QPushButton*>(QStringLiteral("C%1").arg(i + 1));
  }
  FillLanguageList();                                             // 4
  ApplyLanguage();
  FMacroFolderList.clear();                                       // 5
  FCurrentMacro = 0;
  TabControlMain->setCurrentIndex(0);                             // 6
  const TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;  // 7
  SystemMouseParams = {c.PointerSpeed, c.VWheelSpeed, c.PointerAcceleration};
  const int p = DM().ProfileIndex();                              // 8
  if (TDM::IsProfileIndexInRange(p)) {
    FProfilePath = fixedString(DM().FProfileSettingGroup.ProfileSettingList[p].FileFolder);
    FMacroPath = fixedString(DM().FProfileSettingGroup.ProfileSettingList[p].MacroFolder);
  }
  RefreshAllViews();                                              // 9
  LoadCursors();                                                  // 10
  SettingsChanged = false;                                        // 11
  FPreSavedLedConfig = DM().FCurrentProfileInfo.ConfigInfo.LEDConfig;  // 12
  FInitlizing = false;                                            // 13
  SelectedCpiLevel = 0;
  FEnv.StartMonitor();                                            // 14
}

void TMarvaneMain::RefreshAllViews() {
  // The record and size do not matter to the window's commands.
  uiCommandSetting1.SetData(&DM().FProfileSettingGroup, sizeof(DM().FProfileSettingGroup));
}

void TMarvaneMain::FillLanguageList() {
  const QSignalBlocker block(PopBoxLanguage);
  PopBoxLanguage->clear();
  for (int i = 0; i < int(uiLanguage1->Resources.size()); ++i) {
    const TLocaleInfo* locale = FindLocale(uiLanguage1->Resources[i].Name);
    if (!locale) continue;
    QString name = QString::fromUtf16(locale->NativeName);
    // First letter upper-cased by Unicode rules ("Русский").
    if (!name.isEmpty()) name = name.left(1).toUpper() + name.mid(1);
    PopBoxLanguage->addItem(name, i);
  }
}

void TMarvaneMain::ApplyLanguage() {
  const int wanted = DM().FAllProfileSettingInfo.CurrentLanguage;
  const int count = int(uiLanguage1->Resources.size());
  if (wanted >= 0 && wanted < count && uiLanguage1->GetLanguageIndexByShortID(uiLanguage1->Lang()) != wanted)
    uiLanguage1->SetLang(uiLanguage1->GetLanguageShortIDByIndex(wanted));
  {
    const QSignalBlocker block(PopBoxLanguage);
    const int item = PopBoxLanguage->findData(wanted);
    PopBoxLanguage->setCurrentIndex(item >= 0 ? item : (PopBoxLanguage->count() > 0 ? 0 : -1));
  }
  const QString lang = uiLanguage1->Lang();
  int groupSize = 0, assignSize = 0;
  if (lang == QLatin1String("0409")) {
    groupSize = 11;
    assignSize = 11;
  } else if (lang == QLatin1String("0419")) {
    groupSize = 9;
    assignSize = 10;
  }
  if (groupSize) {
    for (QWidget* w : std::initializer_list<QWidget*>{BtnProfile[0], BtnProfile[1], BtnProfile[2], BtnProfile[3],
                                                       BtnProfile[4], BtnLoadProfile, BSBTNMODE1, BSBTNMODE2})
      SetFontSize(w, groupSize);
    TabControlMain->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { %1 }").arg(fontRule(groupSize, true)));
    for (TSkinButton* b : BtnSet) SetFontSize(b, assignSize);
  }
  SetUiText(TabControlMain, QString());  // keeps the tab texts below in the language walk
  TabControlMain->setTabText(0, Translate(QStringLiteral("General")));
  TabControlMain->setTabText(1, Translate(QStringLiteral("Light")));
  TabControlMain->setTabText(2, Translate(QStringLiteral("Advanced")));
  const QString title = Translate(QStringLiteral("Gaming Mouse Config"));
  QGuiApplication::setApplicationDisplayName(title);
  setWindowTitle(title);
  uiCommandSetting1Commands0Execute();
}

// ---------------------------------------------------------------------------
// Window lifecycle

void TMarvaneMain::BtnCloseClick() { close(); }

void TMarvaneMain::BSBTNMINClick() {
  // Queued, so the click finishes before the window goes away.
  QMetaObject::invokeMethod(this, &QWidget::showMinimized, Qt::QueuedConnection);
}

void TMarvaneMain::BSBTNHELPClick() {
  ShowHelpForm(*uiLanguage1, FEnv.ProgramFolder, DM().FOtherConfig.HelpFile, this);
}

void TMarvaneMain::BSBTNOKClick() {
  BSBTNOK->setEnabled(false);
  if (SettingsChanged && ApplySettings())
    Timer2->start();
  else
    close();
  BSBTNOK->setEnabled(true);
}

void TMarvaneMain::BSBTNCANCELClick() {
  if (SettingsChanged) {
    const int answer = ShowMessageDialog(Translate(QStringLiteral("Warning")),
                                         Translate(QStringLiteral("The settings was changed, save the current setting anyway?")),
                                         QString(), this);
    if (answer == kMessageDialogOK) {
      TStoreStatus saved = DM().SaveBackAllProfileSettingInfo();
      saved.Merge(DM().SaveCurrentProfileInfoToRegistry());
      saved.Merge(DM().SaveBackAllProfileInfo());
      saved.Merge(DM().SaveBackAllProfileInfoToFile());
      // A profile switch is one of the changes asked about: its binding of
      // the profile to the mode in use is kept too.
      saved.Merge(DM().SaveProfileGroupSettingInfoToRegistry());
      if (!saved) {
        // The window closes all the same; the user is told what was not kept.
        ShowMessageDialog(Translate(QStringLiteral("Warning")), saved.Summary(), QString(), this);
      }
    }
  }
  close();
}

void TMarvaneMain::Timer2Timer() {
  if (!ProgressBarTime->isVisible()) {
    close();
    Timer2->stop();
  }
}

void TMarvaneMain::uiHIDEvent1DeviceArrival() { BSBTNAPPLY->setEnabled(true); }

void TMarvaneMain::WMCloseConfig() { FEnv.Terminate(); }

void TMarvaneMain::WMLanguageChanged() { ApplyLanguage(); }

void TMarvaneMain::WMReloadCurrentProfile() {
  const TStoreStatus status = DM().LoadCurrentProfileInfoFromRegistry();
  if (!status.Ok) {
    std::fprintf(stderr, "Marvane: reloading the current profile failed: %s\n", qPrintable(status.Error));
    return;
  }
  // The views show what was reloaded; showing them is not an edit.
  const bool was = FInitlizing;
  FInitlizing = true;
  RefreshAllViews();
  FInitlizing = was;
}

std::int64_t TMarvaneMain::HandleMessage(std::uint32_t message, std::int64_t, std::int64_t) {
  switch (message) {
    case platform::WM_CLOSE_CONFIG: WMCloseConfig(); break;
    case platform::WM_LANGUAGE_CHANGED: WMLanguageChanged(); break;
    case platform::WM_RELOAD_CURRENT_PROFILE: WMReloadCurrentProfile(); break;
    default: break;
  }
  return 0;
}

bool TMarvaneMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Enter)
    for (int i = 0; i < 7; ++i)
      if (watched == BtnSet[i]) BtnSet1MouseEnter(i);
  if (watched == PopBoxLanguage && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease))
    return true;  // every key is swallowed
  if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::FocusIn) {
    for (int i = 0; i < 4; ++i) {
      for (QSpinBox* box : {LevelControlTable[i].X, LevelControlTable[i].Y}) {
        if (box && (watched == box || watched->parent() == box)) {
          if (SelectedCpiLevel != i || event->type() == QEvent::MouseButtonPress) X1Click(i);
          return false;
        }
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TMarvaneMain::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(rect(), FBackground);
}

// The window has no frame: the top bar moves it.
void TMarvaneMain::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && event->position().y() < 56) {
    FDragging = true;
    FDragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
}

void TMarvaneMain::mouseMoveEvent(QMouseEvent* event) {
  if (FDragging) move(event->globalPosition().toPoint() - FDragOffset);
}

void TMarvaneMain::mouseReleaseEvent(QMouseEvent*) { FDragging = false; }

void TMarvaneMain::PumpMessages() { QCoreApplication::processEvents(); }

void TMarvaneMain::PumpMessagesAndSleep(int ms) {
  QCoreApplication::processEvents();
  QThread::msleep(static_cast<unsigned long>(ms));
}

// ---------------------------------------------------------------------------
// DPI view

void TMarvaneMain::ShowLevels() {
  TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  for (int i = 0; i < 4; ++i) {
    const TLevelControls& row = LevelControlTable[i];
    TCPISTATE& s = c.CPIState[i];
    TCPISTATE& h = c.HWCPIState[i];
    const QSignalBlocker b1(row.X), b2(row.Y), b3(row.XY), b4(row.Button);
    SetStyleName(row.Button, s.State == 1 ? "MyDPIBtnA" : "MyDPIBtn");
    row.X->setValue(s.X);
    row.Y->setValue(s.Y);
    row.XY->setValue(h.X);
    const bool on = s.State != 0;
    row.Button->setChecked(on);
    row.X->setEnabled(on);
    row.Y->setEnabled(on);
    s.State = on ? 1 : 0;
    h.State = on ? 1 : 0;
  }
  const QSignalBlocker b1(CHKAPPLYSETTINGEACHPROFILE), b2(CHKApplyDiffirentXY), b3(CHKApplyAccelaration);
  CHKAPPLYSETTINGEACHPROFILE->setChecked(c.ApplyCPISettingEachProfile == 1);
  CHKApplyDiffirentXY->setChecked(c.ApplyDiffirentXY == 1);
  CHKApplyAccelaration->setChecked(c.ApplyAccelaration == 1);
}

void TMarvaneMain::SetCpiTrackBars(int level) {
  if (level < 0 || level > 3) return;
  const QSignalBlocker bx(TrackBarCPIX), by(TrackBarCPIY);
  TrackBarCPIX->setValue(LevelControlTable[level].X->value());
  TrackBarCPIY->setValue(LevelControlTable[level].Y->value());
}

void TMarvaneMain::HighlightLevel(int level) {
  for (int i = 0; i < 4; ++i)
    for (QSpinBox* box : {LevelControlTable[i].X, LevelControlTable[i].Y})
      if (auto* glow = qobject_cast<QGraphicsDropShadowEffect*>(box->graphicsEffect())) glow->setEnabled(i == level);
}

void TMarvaneMain::uiCommandSetting1Commands1Execute() {
  ShowLevels();
  SetCpiTrackBars(0);
  SelectedCpiLevel = 1;
  HighlightLevel(1);
  SetCpiTrackBars(1);
}

void TMarvaneMain::DOCpiValueChangeEvent(QSpinBox* box) {
  if (FInitlizing) return;
  const int t = box->property("tag").toInt();
  if (t < 0 || t > 3) return;
  TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  const bool isX = box == LevelControlTable[t].X;
  const uint16_t value = static_cast<uint16_t>(std::clamp(box->value(), kCpiMin, kCpiMax));
  SelectedCpiLevel = t;
  if (c.ApplyDiffirentXY != 0) {
    (isX ? c.CPIState[t].X : c.CPIState[t].Y) = value;
  } else {
    c.CPIState[t].X = value;
    c.CPIState[t].Y = value;
  }
  const uint16_t step = static_cast<uint16_t>(NearestCPIStep(std::max(c.CPIState[t].X, c.CPIState[t].Y)));
  c.HWCPIState[t].X = step;
  c.HWCPIState[t].Y = step;
  c.HWCPIState[t].State = c.CPIState[t].State;
  DM().SaveBackToCurrentProfileInfo();
  ShowLevels();
  SetCpiTrackBars(t);
  SettingsChanged = true;
}

void TMarvaneMain::X1Click(int tag) {
  if (tag < 0 || tag > 3) return;
  SelectedCpiLevel = tag;
  HighlightLevel(tag);
  SetCpiTrackBars(tag);
}

void TMarvaneMain::DODPIStateValueChangedEvent(int t) {
  if (t < 0 || t > 3) return;
  TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  // The level's own state decides (the button only mirrors it): a click
  // switches an enabled level off and a disabled one on.
  if (c.CPIState[t].State == 0) {
    c.CPIState[t].State = 1;
  } else {
    bool another = false;
    for (int j = 0; j < 4; ++j)
      if (j != t && c.CPIState[j].State != 0) another = true;
    if (another) {
      c.CPIState[t].State = 0;
    } else {
      // The last enabled level stays on.
      const QSignalBlocker block(LevelControlTable[t].Button);
      LevelControlTable[t].Button->setChecked(true);
      PumpMessages();
    }
  }
  for (int i = 0; i < 4; ++i)
    if (c.CPIState[i].State == 1) {
      c.CurrentCPIIndex = i;
      break;
    }
  ShowLevels();
  c.CPILevel = 4;
  DM().SaveBackToCurrentProfileInfo();
  SettingsChanged = true;
}

void TMarvaneMain::TrackBarCPIXChange(QSlider* bar) {
  const int t = SelectedCpiLevel;
  if (t < 0 || t > 3) return;
  QSpinBox* box = bar == TrackBarCPIX ? LevelControlTable[t].X : LevelControlTable[t].Y;
  {
    const QSignalBlocker block(box);
    box->setValue(bar->value());
  }
  DOCpiValueChangeEvent(box);
}

void TMarvaneMain::DOCpiAdvanceItemChangeEvent(QObject* sender) {
  if (FInitlizing) return;
  TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  if (sender == CHKApplyDiffirentXY) c.ApplyDiffirentXY = CHKApplyDiffirentXY->isChecked() ? 1 : 0;
  c.ApplyCPISettingEachProfile = CHKAPPLYSETTINGEACHPROFILE->isChecked() ? 1 : 0;
  if (sender == CHKApplyAccelaration) c.ApplyAccelaration = CHKApplyAccelaration->isChecked() ? 1 : 0;
  DM().SaveBackToCurrentProfileInfo();
  SettingsChanged = true;
}

// ---------------------------------------------------------------------------
// Report rate and light

void TMarvaneMain::SendLedPreview() {
  // Built from a copy: the stored colour is never complemented in place.
  const TMOUSEPROFILEINFO& profile = DM().FCurrentProfileInfo;
  std::array<uint8_t, kLedBlockSize> block{};
  BuildLedBlock(profile, block);
  const TMOUSECONFIGINFO& c = profile.ConfigInfo;
  // Without the mouse these fail quietly; nothing is shown.
  (void)DeviceCommand6(*uiHIDData1, 0, 0);
  (void)DeviceCommand4(*uiHIDData1, block);
  (void)DeviceWriteWheelLed(*uiHIDData1, c.HWVWheelValue, c.WheelLedOnOff, kWheelLedAddress);
  (void)DeviceCommand6(*uiHIDData1, 1, 0);
}

void TMarvaneMain::DoReportRateAndLightChangeEvent(QObject* sender) {
  if (FInitlizing) return;
  TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  TLEDCONFIG& led = c.LEDConfig;
  auto afterPreview = [this] {
    SendLedPreview();
    PumpMessages();
    PumpMessagesAndSleep(100);
  };
  if (sender == RD125HZ || sender == RD250HZ || sender == RD500HZ || sender == RD1000HZ) {
    if (RD125HZ->isChecked()) c.ReportRate = 125;
    if (RD250HZ->isChecked()) c.ReportRate = 250;
    if (RD500HZ->isChecked()) c.ReportRate = 500;
    if (RD1000HZ->isChecked()) c.ReportRate = 1000;
  } else if (sender == rClose) {
    if (rClose->isChecked()) {
      c.WheelLedOnOff = 0;
      led.BRIGHT_LEVEL = 0;
      led.BREATH_SPEED = 0;
    } else {
      c.WheelLedOnOff = 1;
      led.BRIGHT_LEVEL = 3;
      led.BREATH_SPEED = 1;
    }
    DM().SaveBackToCurrentProfileInfo();
    afterPreview();
  } else if (sender == rlow || sender == rMedium || sender == rHigh) {
    c.WheelLedOnOff = 1;
    if (led.BRIGHT_LEVEL == 0) led.BRIGHT_LEVEL = 3;
    if (rlow->isChecked()) led.BREATH_SPEED = 1;
    if (rMedium->isChecked()) led.BREATH_SPEED = 2;
    if (rHigh->isChecked()) led.BREATH_SPEED = 3;
    DM().SaveBackToCurrentProfileInfo();
    afterPreview();
  } else if (sender == NBFireDelay) {
    c.FireKeySpeed = NBFireDelay->value();
  } else if (sender == NBFIRECOUNT) {
    c.FireKeyCount = NBFIRECOUNT->value();
  }
  DM().SaveBackToCurrentProfileInfo();
  SettingsChanged = true;
}

void TMarvaneMain::DOLightColorSelectionEvent(int t) {
  if (FInitlizing || t < 0 || t > 5) return;
  ShowLightColor(FLight_Colors[t].Color, t);
  TLEDCONFIG& led = DM().FCurrentProfileInfo.ConfigInfo.LEDConfig;
  const QColor colour = QColor::fromRgba(FLight_Colors[t].Color);
  led.R = static_cast<uint8_t>(colour.red());
  led.G = static_cast<uint8_t>(colour.green());
  led.B = static_cast<uint8_t>(colour.blue());
  DM().SaveBackToCurrentProfileInfo();
  SettingsChanged = true;
  SendLedPreview();
}

void TMarvaneMain::ShowReportAndLight() {
  const TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  const QSignalBlocker r1(RD125HZ), r2(RD250HZ), r3(RD500HZ), r4(RD1000HZ);
  switch (c.ReportRate) {
    case 250: RD250HZ->setChecked(true); break;
    case 500: RD500HZ->setChecked(true); break;
    case 1000: RD1000HZ->setChecked(true); break;
    default: RD125HZ->setChecked(true); break;
  }
  const QSignalBlocker l1(rlow), l2(rMedium), l3(rHigh), l4(rClose);
  const TLEDCONFIG& led = c.LEDConfig;
  if (led.BRIGHT_LEVEL == 0)
    rClose->setChecked(true);
  else if (led.BREATH_SPEED == 1)
    rlow->setChecked(true);
  else if (led.BREATH_SPEED == 3)
    rHigh->setChecked(true);
  else
    rMedium->setChecked(true);
  const uint32_t colour = 0xFF000000u | uint32_t(led.R) << 16 | uint32_t(led.G) << 8 | led.B;
  int match = -1;
  for (int i = 0; i < 6; ++i)
    if (FLight_Colors[i].Color == colour) {
      match = i;
      break;
    }
  if (match >= 0) SendLedPreview();
  // The mouse glows in the profile's colour whether or not a swatch holds it.
  ShowLightColor(colour, match);
  const QSignalBlocker f1(NBFireDelay), f2(NBFIRECOUNT);
  NBFireDelay->setValue(c.FireKeySpeed);
  NBFIRECOUNT->setValue(c.FireKeyCount);
}

void TMarvaneMain::ShowLightColor(uint32_t argb, int swatch) {
  ImageLightColor->setPixmap(QPixmap::fromImage(swatchPicture(argb, 68)));
  for (int i = 0; i < 6; ++i)
    if (QPushButton* s = FLight_Colors[i].Swatch) s->setChecked(i == swatch);
}

void TMarvaneMain::uiCommandSetting1Commands4Execute() { ShowReportAndLight(); }

// ---------------------------------------------------------------------------
// Speeds

void TMarvaneMain::DOSpeedValueChangedEvent(QObject* sender) {
  if (FInitlizing) return;
  TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  if (RDSCROLL->isChecked()) {
    c.VWheelSpeed = static_cast<uint16_t>(TRACKBARSCROLLSPEED->value());
    SystemMouseParams.ScrollLines = c.VWheelSpeed;
    TRACKBARSCROLLSPEED->setEnabled(true);
  }
  if (RDSCROLLONEPAGE->isChecked()) {
    c.VWheelSpeed = kScrollOnePage;
    SystemMouseParams.ScrollLines = kScrollOnePage;
    TRACKBARSCROLLSPEED->setEnabled(false);
  }
  if (sender == TrackBarDoubleClickSpeed) {
    c.DoubleClickSpeed = static_cast<uint16_t>(TrackBarDoubleClickSpeed->maximum() + TrackBarDoubleClickSpeed->minimum() -
                                               TrackBarDoubleClickSpeed->value());
    if (FEnv.Pointer) FEnv.Pointer->setDoubleClickTime(c.DoubleClickSpeed);
  }
  if (sender == TrackBarPointerSpeed) {
    c.PointerSpeed = static_cast<uint16_t>(TrackBarPointerSpeed->value());
    SystemMouseParams.PointerSpeed = c.PointerSpeed;
  }
  if (sender == CHKENHANCEPOINTER) {
    c.PointerAcceleration = CHKENHANCEPOINTER->isChecked() ? 1 : 0;
    SystemMouseParams.AccelerationIndex = c.PointerAcceleration;
  }
  DM().SaveBackToCurrentProfileInfo();
  // Apply carries these to the desktop, so OK applies them and Cancel asks.
  SettingsChanged = true;
}

void TMarvaneMain::ShowSpeeds() {
  const TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  const QSignalBlocker b1(RDSCROLL), b2(RDSCROLLONEPAGE), b3(TRACKBARSCROLLSPEED), b4(TrackBarDoubleClickSpeed),
      b5(TrackBarPointerSpeed), b6(CHKENHANCEPOINTER);
  if (c.VWheelSpeed >= kScrollOnePage) {
    RDSCROLLONEPAGE->setChecked(true);
    TRACKBARSCROLLSPEED->setEnabled(false);
  } else {
    RDSCROLL->setChecked(true);
    TRACKBARSCROLLSPEED->setValue(c.VWheelSpeed);
    TRACKBARSCROLLSPEED->setEnabled(true);
  }
  SystemMouseParams.ScrollLines = c.VWheelSpeed;
  TrackBarDoubleClickSpeed->setValue(TrackBarDoubleClickSpeed->maximum() + TrackBarDoubleClickSpeed->minimum() -
                                     c.DoubleClickSpeed);
  TrackBarPointerSpeed->setValue(c.PointerSpeed);
  SystemMouseParams.PointerSpeed = TrackBarPointerSpeed->value();
  SystemMouseParams.AccelerationIndex = c.PointerAcceleration;
  CHKENHANCEPOINTER->setChecked(c.PointerAcceleration == 1);
}

void TMarvaneMain::uiCommandSetting1Commands2Execute() { ShowSpeeds(); }

// ---------------------------------------------------------------------------
// Defaults, Reset All, language, test picture

void TMarvaneMain::BSBTNSENSDEFAULTSClick() {
  DM().RestoreToDefaultCPISetting();
  DM().SaveBackToCurrentProfileInfo();
  uiCommandSetting1Commands1Execute();
  DM().RestoreToDefaultReportRateSetting();
  // Stored as well, so a switch of profile before Apply keeps it.
  DM().SaveBackToCurrentProfileInfo();
  ShowReportAndLight();
  SettingsChanged = true;
}

void TMarvaneMain::BSBTNADVDEFAULTSClick() {
  DM().RestoreToDefaultLightAndReportAdvancedSetting();
  DM().SaveBackToCurrentProfileInfo();
  ShowReportAndLight();
  SettingsChanged = true;
}

void TMarvaneMain::BSBTNRESTOREDEFAULTSClick() {
  if (DeviceSequenceRunning()) return;
  const int answer = ShowMessageDialog(Translate(QStringLiteral("Reset This Profile")),
                                       Translate(QStringLiteral("Are you sure you want to reset this profile ?")),
                                       Translate(QStringLiteral("Reset the current profile back to factory setting.")), this);
  if (answer != kMessageDialogOK) return;
  DM().RestoreCurrentProfileInfoToDefault();
  FPreSavedLedConfig = DM().FCurrentProfileInfo.ConfigInfo.LEDConfig;
  RefreshAllViews();  // the macro menu is rebuilt by the SetButton command
  SettingsChanged = true;
}

void TMarvaneMain::PopBoxLanguageChange(int itemIndex) {
  if (itemIndex < 0) return;
  const int language = PopBoxLanguage->itemData(itemIndex).toInt();
  uiLanguage1->SetLang(uiLanguage1->GetLanguageShortIDByIndex(language));
  DM().FAllProfileSettingInfo.CurrentLanguage = language;
  DM().SaveBackAllProfileSettingInfo();
  ApplyLanguage();
  platform::send(platform::kMonitorClass, platform::WM_LANGUAGE_CHANGED, 0, 0);
  SettingsChanged = true;
}

void TMarvaneMain::imageTestDblClick() {
  imageTest->Animation->stop();
  imageTest->Animation->start();
}

// ---------------------------------------------------------------------------
// Mode and profile buttons (display only)

void TMarvaneMain::uiCommandSetting1Commands3Execute() {
  const bool second = DM().ProfileGroupIndex() == 1;
  SetStyleName(BSBTNMODE1, second ? "MyMODEBtn" : "MyMODEBtnA");
  SetStyleName(BSBTNMODE2, second ? "MyMODEBtnA" : "MyMODEBtn");
  for (int p = 0; p < 5; ++p) {
    const QSignalBlocker block(BtnProfile[p]);
    BtnProfile[p]->setChecked(p == DM().ProfileIndex());
  }
}

// ---------------------------------------------------------------------------
// Button assignment

void TMarvaneMain::CreateMenus() {
  auto menu = [this](const char* name, void (*build)(TuiMenuEx&)) {
    auto* m = new TuiMenuEx(this);
    m->setObjectName(QString::fromLatin1(name));
    build(*m);
    // The skin's dark look; the menu's own defaults paint black text on black.
    TMenuParams& look = m->Parameters();
    look.BGFill = QColor(0x16, 0x18, 0x1c);
    look.ItemNormalFill = QColor(0x16, 0x18, 0x1c);
    look.ItemOverFill = QColor(0xe3, 0x26, 0x3a);
    look.ItemDownFill = QColor(0x7a, 0x14, 0x20);
    look.ItemCheckFill = QColor(0xff, 0xff, 0xff);
    look.ItemExtenderFill = QColor(0xc8, 0xcc, 0xd2);
    look.ItemFontFill = QColor(0xf0, 0xf2, 0xf5);
    look.ItemFont = QFont(QStringLiteral("DejaVu Sans"), 10, QFont::Bold);
    look.BGMargins = QMarginsF(1, 1, 1, 1);
    return m;
  };
  uiMenuEx1 = menu("uiMenuEx1", BuildButtonMenu);
  uiMenuExLRBUTTON = menu("uiMenuExLRBUTTON", BuildMainButtonMenu);
  uiMenuEx2 = menu("uiMenuEx2", BuildWheelMenu);
  uiMenuEx3 = menu("uiMenuEx3", BuildPresetMenu);
  // The choice arrives queued, after every popup of the menu has closed.
  auto report = [this](void (TMarvaneMain::*handler)(int64_t)) {
    return [this, handler](TuiMenuItemEx*, const QString&, uint32_t id, const void*, int) { (this->*handler)(id); };
  };
  uiMenuEx1->OnItemsClick = report(&TMarvaneMain::uiMenuEx1ItemsClick);
  uiMenuExLRBUTTON->OnItemsClick = report(&TMarvaneMain::uiMenuEx1ItemsClick);
  uiMenuEx2->OnItemsClick = report(&TMarvaneMain::uiMenuEx2ItemsClick);
  uiMenuEx3->OnItemsClick = report(&TMarvaneMain::uiMenuEx3ItemsClick);

  AssignmentDialogs = DefaultAssignmentDialogs();
  AssignmentDialogs.SingleKey = [this](TSINGLEKEYINFO& key) { return ShowSingleKeyDialog(key, this); };
  AssignmentDialogs.ComboKey = [this](TCOMBOKEYINFO& key) { return ShowComboKeyDialog(key, this); };
  AssignmentDialogs.FireKey = [this](TFIREKEYINFO& fire) { return ShowFireKeyDialog(fire, this); };
  AssignmentDialogs.MacroManager = [this](TMACROKEYINFOLIST& macros, int& current, const QString& folder) {
    bool needUpdate = false;
    // A file that could not be written has had its message from the manager;
    // the edited list is used all the same.
    return ShowMacroManager(macros, current, folder, needUpdate, this);
  };
  AssignmentDialogs.Message = [this](const QString& title, const QString& text, const QString& third) {
    return ShowMessageDialog(title, text, third, this);
  };
  FileChooser = std::make_unique<QtFileChooser>(this);

  TDeviceSequenceContext context;
  context.DM = FEnv.DM;
  context.Hid = uiHIDData1;
  context.Pointer = FEnv.Pointer;
  context.Message = [this](const QString& title, const QString& text, const QString& third) {
    return ShowMessageDialog(title, text, third, this);
  };
  context.RefreshViews = [this] {
    RebuildMacroMenu(*uiMenuEx1, DM().FCurrentProfileInfo.MacroKeyInfoList);
    RefreshAllViews();
  };
  context.LedPreview = [this] { SendLedPreview(); };
  context.Busy = [this](bool busy) {
    APPLYAniIndicator->setEnabled(busy);
    APPLYAniIndicator->setVisible(busy);
  };
  seq = std::make_unique<TDeviceSequences>(std::move(context));
}

void TMarvaneMain::SetButtonCaptions() {
  if (!uiMenuEx1) return;  // before the menus exist
  // The macro rows first: their IDs shift when the macro list changes.
  RebuildMacroMenu(*uiMenuEx1, DM().FCurrentProfileInfo.MacroKeyInfoList);
  const TButtonCaptions captions = AllCaptions(DM().FCurrentProfileInfo.ConfigInfo, *uiMenuEx1, *uiMenuEx2);
  for (int i = 0; i < kCaptionButtons && i < int(captions.Buttons.size()); ++i) BtnSet[i]->setText(captions.Buttons[i]);
  BtnSet[7]->setText(captions.Wheel[0]);
  BtnSet[8]->setText(captions.Wheel[1]);
}

void TMarvaneMain::uiCommandSetting1Commands0Execute() { SetButtonCaptions(); }

void TMarvaneMain::BtnSetClick(int index) {
  if (DeviceSequenceRunning() || index < 0 || index > 8) return;
  const TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  if (index < kCaptionButtons) {
    FPlaceButtonTag = index;
    TuiMenuEx* menu = index < kMainButtonCount ? uiMenuExLRBUTTON : uiMenuEx1;
    menu->ShowMainMenu(c.ButtonFuncInfo[index].MenuId, BtnSet[index], vgPlacementRightCenter);
  } else {
    FPlaceWheelButtonTag = index - kCaptionButtons;
    uiMenuEx2->ShowMainMenu(c.VWheelButtonFuncInfo[FPlaceWheelButtonTag].MenuId, BtnSet[index],
                            vgPlacementRightCenter);
  }
}

void TMarvaneMain::uiMenuEx1ItemsClick(int64_t menuId) {
  if (DeviceSequenceRunning()) return;
  const TAssignOutcome outcome = AssignButtonFunction(DM(), FPlaceButtonTag, menuId, AssignmentDialogs, FCurrentMacro);
  if (outcome.Invalid) {
    std::fprintf(stderr, "Marvane: menu choice %lld for button %d is not an assignment; nothing changed\n",
                 static_cast<long long>(menuId), FPlaceButtonTag + 1);
    return;
  }
  // Also after a cancelled dialog: Cancel then asks, as the user expects.
  SettingsChanged = true;
  SetButtonCaptions();
}

void TMarvaneMain::uiMenuEx2ItemsClick(int64_t menuId) {
  if (DeviceSequenceRunning()) return;
  // Counted as a change, or OK would close without storing the choice.
  if (AssignWheelFunction(DM(), FPlaceWheelButtonTag, menuId)) SettingsChanged = true;
  SetButtonCaptions();
}

void TMarvaneMain::BtnSet1MouseEnter(int index) {
  if (index < 0 || index >= kCaptionButtons) return;
  BtnSet[index]->setToolTip(ButtonHint(DM().FCurrentProfileInfo.ConfigInfo, index));
}

// ---------------------------------------------------------------------------
// Apply, modes, profiles, PRESET

void TMarvaneMain::BSBTNAPPLYClick() {
  if (DeviceSequenceRunning()) return;
  BSBTNAPPLY->setEnabled(false);
  ApplySettings();
  BSBTNAPPLY->setEnabled(true);
}

bool TMarvaneMain::ApplySettings() {
  if (DeviceSequenceRunning()) return false;
  return seq->ApplySettings(SettingsChanged, SystemMouseParams, FPreSavedLedConfig);
}

void TMarvaneMain::BSBTNMODE1Click(int g) {
  if (DeviceSequenceRunning() || g < 0 || g > 1) return;
  TSkinButton* clicked = g == 0 ? BSBTNMODE1 : BSBTNMODE2;
  clicked->setEnabled(false);
  SetStyleName(BSBTNMODE1, g == 0 ? "MyMODEBtnA" : "MyMODEBtn");
  SetStyleName(BSBTNMODE2, g == 0 ? "MyMODEBtn" : "MyMODEBtnA");
  seq->SwitchMode(g);
  clicked->setEnabled(true);
  uiCommandSetting1Commands3Execute();  // the buttons show the mode in use, also after a refusal
}

void TMarvaneMain::BtnProfile1Click(int p) {
  if (DeviceSequenceRunning()) {
    uiCommandSetting1Commands3Execute();  // the click is ignored: the pressed button stays
    return;
  }
  if (p < 0 || p > 4) return;
  TSkinButton* clicked = BtnProfile[p];
  clicked->setEnabled(false);
  seq->SwitchProfile(p, SettingsChanged, SystemMouseParams, FPreSavedLedConfig);
  clicked->setEnabled(true);
  uiCommandSetting1Commands3Execute();
}

void TMarvaneMain::BtnLoadProfile1Click() {
  if (DeviceSequenceRunning()) return;
  uiMenuEx3->ShowMainMenu(0, BtnLoadProfile, vgPlacementRightCenter);
}

void TMarvaneMain::uiMenuEx3ItemsClick(int64_t menuId) {
  if (DeviceSequenceRunning()) return;
  seq->PresetMenuClick(menuId, SettingsChanged, *FileChooser, FProfilePath);
}

void EndConfigurator(std::unique_ptr<TMarvaneMain>& window, std::unique_ptr<TDM>& dm,
                     std::unique_ptr<platform::PointerSettings>& pointer,
                     const std::function<void()>& waitForWorkers) {
  // Without the window no Apply can start another worker; the running ones
  // use the pointer settings and hand work to this thread, so they end
  // before the pointer settings and the application do.
  window.reset();
  if (waitForWorkers) waitForWorkers();
  dm.reset();
  pointer.reset();
}
