// The main window's "Advanced" view: double-click speed with its test
// picture, pointer speed and precision, and scrolling.
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVariantAnimation>

#include "configurator/MainConfig.h"
#include "configurator/MainConfigViews.h"
#include "device/DMUnit.h"
#include "platform/PointerSettings.h"
#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/uiLanguage.h"

using namespace mainconfig;

namespace {

constexpr int kScrollOnePage = 20;

}  // namespace

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
// Test picture

void TMarvaneMain::imageTestDblClick() {
  imageTest->Animation->stop();
  imageTest->Animation->start();
}
