// The main window's "Light" view: breathing speed and colour, shown on the
// mouse at once (the LED preview), with its Defaults; and the report-rate
// and light changes both views hand in.
#include <QButtonGroup>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <array>
#include <tuple>

#include "configurator/MainConfig.h"
#include "configurator/MainConfigViews.h"
#include "device/DMUnit.h"
#include "device/DeviceProtocol.h"
#include "device/ProfileEncoders.h"
#include "device/uiHIDData.h"
#include "toolkit/uiLanguage.h"

using namespace mainconfig;

namespace {

constexpr uint16_t kWheelLedAddress = 62;

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

}  // namespace

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

  BSBTNADVDEFAULTS = NewSkinButton(v, "BSBTNADVDEFAULTS", QStringLiteral("Defaults"), QRect(315, 370, 96, 28));
  SetStyleName(BSBTNADVDEFAULTS, "MyMAINOKButtonStyle");
  connect(BSBTNADVDEFAULTS, &QPushButton::clicked, this, &TMarvaneMain::BSBTNADVDEFAULTSClick);
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
// Defaults

void TMarvaneMain::BSBTNADVDEFAULTSClick() {
  DM().RestoreToDefaultLightAndReportAdvancedSetting();
  DM().SaveBackToCurrentProfileInfo();
  ShowReportAndLight();
  SettingsChanged = true;
}
