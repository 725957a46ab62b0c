// The main window's "General" view: the four DPI levels with their X and Y
// values, the X/Y and per-profile choices, the report rate and its Defaults.
#include <QButtonGroup>
#include <QCheckBox>
#include <QGraphicsDropShadowEffect>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <algorithm>
#include <utility>

#include "configurator/MainConfig.h"
#include "configurator/MainConfigViews.h"
#include "device/DMUnit.h"
#include "device/ProfileEncoders.h"
#include "toolkit/uiLanguage.h"

using namespace mainconfig;

namespace {

constexpr int kCpiMin = 100, kCpiMax = 3500, kCpiStep = 100;

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

  BSBTNSENSDEFAULTS = NewSkinButton(v, "BSBTNSENSDEFAULTS", QStringLiteral("Defaults"), QRect(315, 370, 96, 28));
  SetStyleName(BSBTNSENSDEFAULTS, "MyMAINOKButtonStyle");
  connect(BSBTNSENSDEFAULTS, &QPushButton::clicked, this, &TMarvaneMain::BSBTNSENSDEFAULTSClick);
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
// Defaults

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
