#include "macro/macrofrm.h"

#include "device/uiKeyCode.h"
#include "macro/macrocreat.h"
#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"
#include "toolkit/uiMenuEx.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>

namespace {

// The mark shown on a macro row while its macro holds errors.
QPixmap errorPicture() {
  QPixmap pixmap(18, 18);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xE3, 0x26, 0x3A));
  p.drawEllipse(QRectF(1, 1, 16, 16));
  p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(9, 4.5), QPointF(9, 10.5));
  p.drawPoint(QPointF(9, 13.5));
  return pixmap;
}

QString keyText(int code, int extended) {
  return Translate(QString::fromStdString(VKToKeyDescription(code, extended)));
}

}  // namespace

TFrmMacro::TFrmMacro(QWidget* parent) : TSkinDialog(parent, kClientWidth, kClientHeight) {
  setObjectName(QStringLiteral("FrmMacro"));
  SetUiText(this, QStringLiteral("Macro Manager"), "windowTitle");
  using macroskin::MakeLabel;

  auto button = [this](const char* name, const QRect& geometry, const char* caption = nullptr) {
    auto* b = new TBitmapStateButton(this);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    if (caption) SetUiText(b, QLatin1String(caption));
    return b;
  };
  auto check = [this](const char* name, const char* caption, const QRect& geometry) {
    auto* c = new QCheckBox(this);
    c->setObjectName(QLatin1String(name));
    c->setGeometry(geometry);
    c->setFocusPolicy(Qt::NoFocus);
    SetUiText(c, QLatin1String(caption));
    return c;
  };
  auto spin = [this](const char* name, const QRect& geometry, int min, int max, int value) {
    auto* s = new QSpinBox(this);
    s->setObjectName(QLatin1String(name));
    s->setGeometry(geometry);
    s->setRange(min, max);
    s->setValue(value);
    s->setEnabled(false);
    return s;
  };

  // Top bar.
  MakeLabel(this, "LabelMacroManager", QStringLiteral("Macro Manager"), QRect(20, 10, 400, 24), 16, true);
  BtnMin = button("BtnMin", QRect(697, 10, 24, 24));
  BtnClose = button("BtnClose", QRect(727, 10, 24, 24));
  connect(BtnMin, &QAbstractButton::clicked, this, &TFrmMacro::BtnMinClick);
  connect(BtnClose, &QAbstractButton::clicked, this, [this] { done(2); });

  // Left: macros.
  MakeLabel(this, "LabelMacroName", QStringLiteral("Macro Name:"), QRect(24, 60, 190, 24), 13, true);
  MakeLabel(this, "LabelSelect", QStringLiteral("Select:"), QRect(24, 98, 52, 24));
  TextBoxSelectedMacroName = new QLineEdit(this);
  TextBoxSelectedMacroName->setObjectName(QStringLiteral("TextBoxSelectedMacroName"));
  TextBoxSelectedMacroName->setGeometry(78, 98, 136, 24);
  TextBoxSelectedMacroName->setEnabled(false);
  TextBoxSelectedMacroName->setMaxLength(200);
  TextBoxSelectedMacroName->installEventFilter(this);
  connect(TextBoxSelectedMacroName, &QLineEdit::returnPressed, this, &TFrmMacro::CommitRename);
  BSBTNNEWMACRO = button("BSBTNNEWMACRO", QRect(24, 132, 80, 26), "New");
  BSBTNDELETEMACRO = button("BSBTNDELETEMACRO", QRect(134, 132, 80, 26), "Delete");
  connect(BSBTNNEWMACRO, &QAbstractButton::clicked, this, &TFrmMacro::BSBTNNEWMACROClick);
  connect(BSBTNDELETEMACRO, &QAbstractButton::clicked, this, &TFrmMacro::BSBTNDELETEMACROClick);
  IMGMACROLISTSCROLLUP = button("IMGMACROLISTSCROLLUP", QRect(109, 168, 20, 12));
  IMGMACROLISTSCROLLDOWN = button("IMGMACROLISTSCROLLDOWN", QRect(109, 584, 20, 12));
  connect(IMGMACROLISTSCROLLUP, &QAbstractButton::clicked, this, [this] { scrollMacroList(-1); });
  connect(IMGMACROLISTSCROLLDOWN, &QAbstractButton::clicked, this, [this] { scrollMacroList(1); });
  ListBoxMacroList = new QListWidget(this);
  ListBoxMacroList->setObjectName(QStringLiteral("ListBoxMacroList"));
  ListBoxMacroList->setGeometry(24, 186, 190, 392);
  ListBoxMacroList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ListBoxMacroList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ListBoxMacroList->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  ListBoxMacroList->setFont(macroskin::Font(14));
  ListBoxMacroList->setEnabled(false);
  ListBoxMacroList->viewport()->installEventFilter(this);
  connect(ListBoxMacroList, &QListWidget::currentRowChanged, this, &TFrmMacro::ListBoxMacroListChange);

  // Middle: actions.
  MakeLabel(this, "LabelActionEditor", QStringLiteral("Macro Action Editor:"), QRect(246, 60, 244, 24), 13, true);
  BtnMacroStart = button("BtnMacroStart", QRect(246, 96, 32, 32));
  BtnMacroStop = button("BtnMacroStop", QRect(288, 96, 32, 32));
  BtnMacroStart->setCheckable(true);
  BtnMacroStop->setCheckable(true);
  BtnMacroStart->setProperty("Tag", 0);
  BtnMacroStop->setProperty("Tag", 1);
  BtnMacroStop->setEnabled(false);
  connect(BtnMacroStart, &QAbstractButton::clicked, this, [this] { BtnMacroStopClick(0); });
  connect(BtnMacroStop, &QAbstractButton::clicked, this, [this] { BtnMacroStopClick(1); });
  MakeLabel(this, "LabelStatus", QStringLiteral("Status"), QRect(246, 138, 60, 20));
  MakeLabel(this, "LabelButton", QStringLiteral("Button"), QRect(306, 138, 80, 20));
  MakeLabel(this, "LabelElapsed", QStringLiteral("Elapsed time (ms)"), QRect(380, 138, 112, 20))
      ->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ListBoxMacroKey = new QListWidget(this);
  ListBoxMacroKey->setObjectName(QStringLiteral("ListBoxMacroKey"));
  ListBoxMacroKey->setGeometry(246, 160, 244, 370);
  ListBoxMacroKey->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ListBoxMacroKey->setIconSize(QSize(16, 16));
  ListBoxMacroKey->viewport()->installEventFilter(this);
  connect(ListBoxMacroKey, &QListWidget::currentRowChanged, this, &TFrmMacro::ListBoxMacroKeyChange);
  connect(ListBoxMacroKey, &QListWidget::itemDoubleClicked, this, &TFrmMacro::ListBoxMacroKeyDblClick);
  TextEditDelay = new QSpinBox(ListBoxMacroKey->viewport());
  TextEditDelay->setObjectName(QStringLiteral("TextEditDelay"));
  // Wider than the stored range so that Enter can clamp what was typed.
  TextEditDelay->setRange(0, 999999);
  TextEditDelay->setButtonSymbols(QAbstractSpinBox::NoButtons);
  TextEditDelay->hide();
  TextEditDelay->installEventFilter(this);
  // Caption, figure and unit columns end with the action list (x 490),
  // inside the panel's border.
  MakeLabel(this, "LabelTotalTime", QStringLiteral("Total Elapsed Time"), QRect(246, 540, 130, 18));
  LabelAllDelayTime = MakeLabel(this, "LabelAllDelayTime", QString(), QRect(376, 540, 56, 18));
  LabelAllDelayTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel(this, "LabelMs", QStringLiteral("ms"), QRect(438, 540, 52, 18));
  MakeLabel(this, "LabelTotalActions", QStringLiteral("Total Actions"), QRect(246, 560, 130, 18));
  lableTotalActions = MakeLabel(this, "lableTotalActions", QString(), QRect(376, 560, 56, 18));
  lableTotalActions->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel(this, "LabelEntries", QStringLiteral("Entries"), QRect(438, 560, 52, 18));
  LayoutActionsFull = new QWidget(this);
  LayoutActionsFull->setObjectName(QStringLiteral("LayoutActionsFull"));
  LayoutActionsFull->setGeometry(246, 580, 244, 20);
  auto* dot = new QLabel(LayoutActionsFull);
  dot->setGeometry(0, 6, 8, 8);
  dot->setStyleSheet(QStringLiteral("background: #e3263a; border-radius: 4px;"));
  MakeLabel(LayoutActionsFull, "LabelReachedMax", QStringLiteral("Reached Max"), QRect(14, 0, 200, 20))
      ->setStyleSheet(QStringLiteral("color: #ff3b4f; background: transparent;"));
  LayoutActionsFull->hide();

  // Right: options.
  MakeLabel(this, "LabelOption", QStringLiteral("Option:"), QRect(522, 60, 220, 24), 13, true);
  BtnAutoDelay = check("BtnAutoDelay", "Record delays between action", QRect(522, 100, 224, 24));
  BtnAutoDelay->setChecked(true);
  BtnCustomDelay = check("BtnCustomDelay", "Insert default delay", QRect(522, 134, 224, 24));
  NumBoxDelay = spin("NumBoxDelay", QRect(546, 164, 100, 24), 10, 65535, 10);
  MakeLabel(this, "LabelDelayMs", QStringLiteral("ms"), QRect(652, 164, 30, 24));
  BtnMacroLoop = check("BtnMacroLoop", "Number of loops(1-255)", QRect(522, 202, 224, 24));
  BoxMacroLoop = spin("BoxMacroLoop", QRect(546, 232, 100, 24), 0, 255, 1);
  connect(BtnAutoDelay, &QAbstractButton::clicked, this, &TFrmMacro::BtnAutoDelayClick);
  connect(BtnCustomDelay, &QAbstractButton::clicked, this, &TFrmMacro::BtnCustomDelayMouseUp);
  connect(BtnMacroLoop, &QAbstractButton::clicked, this, &TFrmMacro::BtnMacroLoopMouseUp);
  connect(BoxMacroLoop, &QSpinBox::valueChanged, this, &TFrmMacro::ApplyLoopValue);

  // Bottom.
  BtnOK = button("BtnOK", QRect(560, 628, 80, 26), "OK");
  BtnCANCEL = button("BtnCANCEL", QRect(660, 628, 80, 26), "CANCEL");
  connect(BtnOK, &QAbstractButton::clicked, this, &TFrmMacro::BtnOKClick);
  connect(BtnCANCEL, &QAbstractButton::clicked, this, &TFrmMacro::BtnCancelClick);

  // Popup menus, opened by a right-click on their list.
  uiMenuMacro = new TuiMenuEx(this);
  uiMenuMacro->setObjectName(QStringLiteral("uiMenuMacro"));
  for (const char* caption : {"Rename", "Up", "Down"}) uiMenuMacro->Items().Add()->Caption = QLatin1String(caption);
  uiMenuMacro->OnItemsClick = [this](TuiMenuItemEx*, const QString&, uint32_t id, const void*, int) {
    uiMenuMacroItemsClick(id);
  };
  uiMenuMacroList = new TuiMenuEx(this);
  uiMenuMacroList->setObjectName(QStringLiteral("uiMenuMacroList"));
  for (const char* caption : {"Insert", "Delete", "Up", "Down", "Copy", "Cut", "Paste"})
    uiMenuMacroList->Items().Add()->Caption = QLatin1String(caption);
  uiMenuMacroList->OnItemsClick = [this](TuiMenuItemEx*, const QString&, uint32_t id, const void*, int) {
    uiMenuMacroListItemsClick(id);
  };

  uiHook1 = CreateHookSource(this);
  uiHook1->OnRecordKeyboardMacroKeyEx = [this](int, int, int AState, int, double, uint32_t TotalTime,
                                               const std::string& text, const std::string&,
                                               const TMacroKeyHookList&) {
    uiHook1RecordKeyboardMacroKeyEx(AState, TotalTime, QString::fromStdString(text));
  };
  uiHook1->OnStopRecordKeyboardMacroKey = [this](const TMacroKeyHookList& list) {
    uiHook1StopRecordKeyboardMacroKey(list);
  };

  FMacroClass = std::make_unique<TuiMacroClass>();
  FNeedUpdate = false;
  LoadSkin();
  UpdateTotals();
}

TFrmMacro::~TFrmMacro() {
  // The window owns the recording: it never outlives the window.
  if (FMacroRecording) {
    uiHook1->OnStopRecordKeyboardMacroKey = nullptr;
    uiHook1->StopRecordKeyboardMacroKeyEx();
    FMacroRecording = false;
  }
  uiHook1->OnRecordKeyboardMacroKeyEx = nullptr;
  uiHook1->OnStopRecordKeyboardMacroKey = nullptr;
}

void TFrmMacro::LoadSkin() {
  ImageDataBase().AssignIMAGE(ImageMain, QStringLiteral("dlg-macro-back.png"), QStringLiteral("background"),
                              QString());
  const QString buttons = QStringLiteral("buttons");
  const QString controls = QStringLiteral("controls");
  for (TBitmapStateButton* b : {BSBTNNEWMACRO, BSBTNDELETEMACRO, BtnOK, BtnCANCEL})
    b->SetPictures(QStringLiteral("Button-1.png"), QStringLiteral("Button-2.png"), QStringLiteral("Button-3.png"),
                   buttons);
  BtnMacroStart->SetPictures(QStringLiteral("iconstart-1.png"), QStringLiteral("iconstart-2.png"),
                             QStringLiteral("iconstart-2.png"), buttons);
  BtnMacroStop->SetPictures(QStringLiteral("iconstop-1.png"), QStringLiteral("iconstop-2.png"),
                            QStringLiteral("iconstop-2.png"), buttons);
  IMGMACROLISTSCROLLUP->SetPictures(QStringLiteral("up.png"), QStringLiteral("up.png"), QStringLiteral("up.png"),
                                    controls);
  IMGMACROLISTSCROLLDOWN->SetPictures(QStringLiteral("down.png"), QStringLiteral("down.png"),
                                      QStringLiteral("down.png"), controls);
  BtnMin->SetPictures(QStringLiteral("min-1.png"), QStringLiteral("min-3.png"), QStringLiteral("min-2.png"),
                      QStringLiteral("Buttons"));
  BtnClose->SetPictures(QStringLiteral("Close-1.png"), QStringLiteral("Close-2.png"), QStringLiteral("Close-2.png"),
                        QStringLiteral("Buttons"));
  ImageDataBase().AssignIMAGE(FFlagDown, QStringLiteral("keydown.png"), controls, QString());
  ImageDataBase().AssignIMAGE(FFlagUp, QStringLiteral("keyup.png"), controls, QString());
  ImageDataBase().AssignIMAGE(FFlagDelay, QStringLiteral("delay.png"), controls, QString());
  update();
}

// ---------------------------------------------------------------------------
// Lists

void TFrmMacro::FillMacroList() {
  {
    const QSignalBlocker block(ListBoxMacroList);
    ListBoxMacroList->clear();
  }
  ListBoxMacroList->setEnabled(false);
  if (FMacroClass->IsEmpty()) {
    ListBoxMacroKey->clear();
    TextBoxSelectedMacroName->clear();
    BSBTNDELETEMACRO->setEnabled(false);
    UpdateTotals();
    return;
  }
  ListBoxMacroList->setEnabled(!FMacroRecording);
  {
    const QSignalBlocker block(ListBoxMacroList);
    for (int i = 0; i < FMacroClass->MacroListCount(); ++i) {
      TMACROKEYINFO info;
      FMacroClass->GetMacroKeyItem(i, info);
      auto* item = new QListWidgetItem(QString::fromStdU16String(ReadText(info.szMacroName)));
      ListBoxMacroList->addItem(item);
      // The error mark, right-aligned over the row.
      auto* holder = new QWidget;
      auto* layout = new QHBoxLayout(holder);
      layout->setContentsMargins(0, 0, 4, 0);
      layout->addStretch();
      auto* icon = new QLabel;
      icon->setObjectName(QStringLiteral("ErrorIcon"));
      icon->setFixedSize(18, 18);
      icon->setPixmap(errorPicture());
      icon->setAttribute(Qt::WA_TransparentForMouseEvents);
      icon->hide();
      layout->addWidget(icon);
      holder->setAttribute(Qt::WA_TransparentForMouseEvents);
      ListBoxMacroList->setItemWidget(item, holder);
    }
  }
  // Selecting the row goes through the change handler, which rebuilds the
  // action editor for that macro.
  ListBoxMacroList->setCurrentRow(-1);
  ListBoxMacroList->setCurrentRow(FMacroClass->MacroListIndex());
  UpdateAllErrorIcons();
}

void TFrmMacro::UpdateErrorIcon(int AIndex) {
  QListWidgetItem* item = ListBoxMacroList->item(AIndex);
  TMACROKEYINFO info;
  if (!item || !FMacroClass->GetMacroKeyItem(AIndex, info)) return;
  if (QWidget* holder = ListBoxMacroList->itemWidget(item)) {
    if (auto* icon = holder->findChild<QLabel*>(QStringLiteral("ErrorIcon"))) icon->setVisible(info.HaveErrors >= 1);
  }
}

void TFrmMacro::UpdateAllErrorIcons() {
  for (int i = 0; i < ListBoxMacroList->count(); ++i) UpdateErrorIcon(i);
}

void TFrmMacro::ListBoxMacroListChange() {
  const int row = ListBoxMacroList->currentRow();
  if (row >= 0 && !FMacroClass->IsEmpty()) {
    BSBTNDELETEMACRO->setEnabled(!FMacroRecording);
    FMacroClass->SetMacroListIndex(row);
    if (FMacroClass->MacroListIndex() >= 0) ShowMacroActions();
  } else {
    BSBTNDELETEMACRO->setEnabled(false);
    TextBoxSelectedMacroName->clear();
  }
}

void TFrmMacro::addActionRow(int at, const char* binding, const QString& text, int step) {
  auto* item = new QListWidgetItem(text);
  const QString name = QLatin1String(binding);
  item->setData(kStepRole, step);
  item->setData(kBindingRole, name);
  const QImage& flag = name == QLatin1String("Delay") ? FFlagDelay
                       : (name == QLatin1String("KeyDown") || name == QLatin1String("Mouse")) ? FFlagDown
                                                                                              : FFlagUp;
  if (!flag.isNull()) item->setIcon(QIcon(QPixmap::fromImage(flag)));
  if (name == QLatin1String("Delay")) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  const QSignalBlocker block(ListBoxMacroKey);
  ListBoxMacroKey->insertItem(std::clamp(at, 0, ListBoxMacroKey->count()), item);
}

void TFrmMacro::RefreshMacroActions() {
  TMACROKEYINFO m;
  if (!FMacroClass->GetCurrentMacroKeyItem(m)) return;
  if (QListWidgetItem* row = ListBoxMacroList->item(FMacroClass->MacroListIndex()))
    ShowSelectedMacroName(row->text());
  {
    const QSignalBlocker block(ListBoxMacroKey);
    ListBoxMacroKey->clear();
  }
  {
    const QSignalBlocker blockCheck(BtnMacroLoop);
    const QSignalBlocker blockBox(BoxMacroLoop);
    BtnMacroLoop->setChecked(m.nLoopCount != 0);
    BoxMacroLoop->setValue(m.nLoopCount != 0 ? std::min<int>(m.nLoopCount, 255) : 0);
    BoxMacroLoop->setEnabled(BtnMacroLoop->isChecked() && !FMacroRecording);
  }
  // Each row carries its step's index: hidden delay rows and steps without
  // a row never shift the commands onto another step.
  for (int i = 0; i < m.MacroListCount; ++i) {
    const TMACROKEY& s = m.MacroList[i];
    const int at = ListBoxMacroKey->count();
    switch (s.nKeyType) {
      case kMacroStepDelay:
        addActionRow(at, "Delay", QString::number(MacroStepValue(s)), i);
        break;
      case kMacroStepKeyboard:
        if (s.nKeyState == 0) addActionRow(at, "KeyUp", QStringLiteral(" ") + keyText(s.VALUE1, s.VALUE2), i);
        else if (s.nKeyState == 1) addActionRow(at, "KeyDown", QStringLiteral(" ") + keyText(s.VALUE1, s.VALUE2), i);
        break;
      case kMacroStepMouseButton:
        if (s.nKeyState == 0) addActionRow(at, "MouseUp", QStringLiteral(" ") + keyText(s.VALUE1, s.VALUE2), i);
        else if (s.nKeyState == 1) addActionRow(at, "Mouse", QStringLiteral(" ") + keyText(s.VALUE1, s.VALUE2), i);
        break;
      default:
        break;
    }
  }
  UpdateTotals();
}

void TFrmMacro::ShowMacroActions() {
  TMACROKEYINFO m;
  if (!FMacroClass->GetCurrentMacroKeyItem(m)) return;
  RefreshMacroActions();
  if (m.nAutoAddDelay != 1) {
    // Delay steps of a macro recorded without delays stay hidden.
    for (int r = ListBoxMacroKey->count() - 1; r >= 0; --r) {
      if (ListBoxMacroKey->item(r)->data(kBindingRole).toString() == QLatin1String("Delay")) {
        const QSignalBlocker block(ListBoxMacroKey);
        delete ListBoxMacroKey->takeItem(r);
      }
    }
  }
  BtnAutoDelay->setChecked(m.nAutoAddDelay == 1);
  selectActionRow();
  UpdateTotals();
}

void TFrmMacro::selectActionRow() {
  TuiActionsClass* actions = FMacroClass->CurrentMacroAction();
  if (!actions) return;
  const QSignalBlocker block(ListBoxMacroKey);
  ListBoxMacroKey->setCurrentRow(-1);
  for (int r = 0; r < ListBoxMacroKey->count(); ++r) {
    if (ListBoxMacroKey->item(r)->data(kStepRole).toInt() == actions->ActionIndex()) {
      ListBoxMacroKey->setCurrentRow(r);
      break;
    }
  }
}

int TFrmMacro::selectedStep() const {
  QListWidgetItem* item = ListBoxMacroKey->currentItem();
  return item ? item->data(kStepRole).toInt() : -1;
}

void TFrmMacro::UpdateTotals() {
  TuiActionsClass* actions = FMacroClass ? FMacroClass->CurrentMacroAction() : nullptr;
  const bool shown = actions && FMacroClass->MacroListIndex() >= 0;
  LabelAllDelayTime->setText(QString::number(shown ? actions->TotalDelay() : 0));
  lableTotalActions->setText(QString::number(shown ? actions->MacroListCount() : 0));
}

void TFrmMacro::ListBoxMacroKeyChange() {
  FInsertRowIndex = ListBoxMacroKey->currentRow();
  if (TuiActionsClass* actions = FMacroClass->CurrentMacroAction()) actions->SetActionIndex(selectedStep());
}

void TFrmMacro::scrollMacroList(int direction) {
  if (ListBoxMacroList->count() == 0) return;
  const int step = ListBoxMacroList->visualItemRect(ListBoxMacroList->item(0)).height();
  QScrollBar* bar = ListBoxMacroList->verticalScrollBar();
  bar->setValue(bar->value() + direction * step);
}

// ---------------------------------------------------------------------------
// Delay editing

void TFrmMacro::ListBoxMacroKeyDblClick() {
  QListWidgetItem* item = ListBoxMacroKey->currentItem();
  TuiActionsClass* actions = FMacroClass->CurrentMacroAction();
  if (!item || !actions || item->data(kBindingRole).toString() != QLatin1String("Delay")) return;
  const int step = item->data(kStepRole).toInt();
  if (!actions->IsValidActionIndex(step)) return;  // a live row of a running recording
  FEditedDelayStep = step;
  const QRect r = ListBoxMacroKey->visualItemRect(item);
  TextEditDelay->setGeometry(r.right() - 90, r.top(), 90, r.height());
  TextEditDelay->setValue(actions->GetDelayValue(step));
  TextEditDelay->show();
  TextEditDelay->setFocus();
  TextEditDelay->selectAll();
}

void TFrmMacro::CommitDelayEdit() {
  TuiActionsClass* actions = FMacroClass->CurrentMacroAction();
  TextEditDelay->interpretText();
  const int value = std::clamp(TextEditDelay->value(), 10, 65535);
  const int step = FEditedDelayStep;
  FEditedDelayStep = -1;
  TextEditDelay->hide();
  if (!actions || !actions->SetDelayValue(step, value)) return;
  RefreshMacroActions();
  selectActionRow();
}

bool TFrmMacro::eventFilter(QObject* watched, QEvent* event) {
  if (watched == TextEditDelay) {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        CommitDelayEdit();
        return true;
      }
    } else if (event->type() == QEvent::FocusOut && TextEditDelay->isVisible()) {
      // A value typed without Enter is dropped.
      FEditedDelayStep = -1;
      TextEditDelay->hide();
    }
  } else if (watched == TextBoxSelectedMacroName) {
    if (event->type() == QEvent::FocusOut && TextBoxSelectedMacroName->isEnabled()) {
      TextBoxSelectedMacroName->setEnabled(false);
      if (QListWidgetItem* row = ListBoxMacroList->currentItem()) ShowSelectedMacroName(row->text());
      ListBoxMacroList->setEnabled(!FMacroRecording && !FMacroClass->IsEmpty());
    }
  } else if (event->type() == QEvent::MouseButtonRelease &&
             static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
    if (watched == ListBoxMacroList->viewport() && ListBoxMacroList->isEnabled() &&
        FMacroClass->MacroListIndex() >= 0) {
      uiMenuMacro->ShowMainMenu(ListBoxMacroList, vgPlacementRightCenter);
      return true;
    }
    if (watched == ListBoxMacroKey->viewport() && ListBoxMacroKey->isEnabled() &&
        FMacroClass->MacroListIndex() >= 0) {
      uiMenuMacroList->ShowMainMenu(ListBoxMacroKey, vgPlacementRightCenter);
      return true;
    }
  }
  return TSkinDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Commands

void TFrmMacro::BSBTNNEWMACROClick() {
  if (FMacroClass->IsFull()) {
    ShowMessageDialog(Translate(QStringLiteral("Warning")),
                      Translate(QStringLiteral("You can create macros shall not exceed 20 .")), QString(), this);
    return;
  }
  QString name;
  if (ShowCreateMacroDialog(name, FMacroPath, this) == 1) AddOrSelectMacro(name);
}

void TFrmMacro::AddOrSelectMacro(const QString& AName) {
  if (AName.isEmpty()) return;
  const int existing = FMacroClass->IndexOfMacroName(AName.toStdU16String());
  if (existing >= 0) {
    ListBoxMacroList->setFocus();
    ListBoxMacroList->setCurrentRow(existing);
    return;
  }
  if (FMacroClass->CreateNewMacro(AName.toStdU16String())) FillMacroList();
}

void TFrmMacro::BSBTNDELETEMACROClick() {
  const int index = FMacroClass->MacroListIndex();
  if (index == -1) return;
  if (ShowMessageDialog(Translate(QStringLiteral("Delete")),
                        Translate(QStringLiteral("Are your sure you want to delete this macro?")), Translate(QString()),
                        this) == 2)
    return;
  // By index: two macros may share a name.
  FMacroClass->DeleteMacro(index);
  FillMacroList();
}

void TFrmMacro::BtnAutoDelayClick() {
  if (!BtnAutoDelay->isChecked()) {
    BtnCustomDelay->setChecked(false);
    NumBoxDelay->setEnabled(false);
  }
}

void TFrmMacro::BtnCustomDelayMouseUp() {
  NumBoxDelay->setEnabled(BtnCustomDelay->isChecked());
  if (BtnCustomDelay->isChecked()) BtnAutoDelay->setChecked(true);
}

void TFrmMacro::BtnMacroLoopMouseUp() {
  {
    const QSignalBlocker block(BoxMacroLoop);
    BoxMacroLoop->setEnabled(BtnMacroLoop->isChecked());
    BoxMacroLoop->setValue(BtnMacroLoop->isChecked() ? 1 : 0);
  }
  ApplyLoopValue();
}

void TFrmMacro::ApplyLoopValue() {
  const int index = FMacroClass->MacroListIndex();
  if (index < 0) return;
  FMacroClass->SetMacroLoopValue(index, BtnMacroLoop->isChecked() ? BoxMacroLoop->value() : 0);
  selectActionRow();
}

void TFrmMacro::StartRename() {
  if (FMacroClass->MacroListIndex() < 0) return;
  ListBoxMacroList->setEnabled(false);
  TextBoxSelectedMacroName->setEnabled(true);
  TextBoxSelectedMacroName->setFocus();
  TextBoxSelectedMacroName->selectAll();
}

void TFrmMacro::ShowSelectedMacroName(const QString& name) {
  TextBoxSelectedMacroName->setText(name);
  // A name longer than the box shows from its first letter, not its last.
  TextBoxSelectedMacroName->setCursorPosition(0);
}

void TFrmMacro::CommitRename() {
  if (!TextBoxSelectedMacroName->isEnabled()) return;
  const int index = FMacroClass->MacroListIndex();
  const std::u16string name = CutMacroName(TextBoxSelectedMacroName->text().toStdU16String());
  TextBoxSelectedMacroName->setEnabled(false);
  const int other = FMacroClass->IndexOfMacroName(name);
  // An empty, invalid or taken name is refused: the old name comes back.
  if (!IsValidMacroName(name) || (other >= 0 && other != index) || !FMacroClass->ReNameMacro(name, index)) {
    if (QListWidgetItem* row = ListBoxMacroList->item(index)) ShowSelectedMacroName(row->text());
    ListBoxMacroList->setEnabled(!FMacroRecording && !FMacroClass->IsEmpty());
    return;
  }
  FillMacroList();
}

void TFrmMacro::uiMenuMacroItemsClick(uint32_t AMenuItemID) {
  const int index = FMacroClass->MacroListIndex();
  if (index < 0 || FMacroRecording) return;
  switch (AMenuItemID) {
    case 1:
      StartRename();
      break;
    case 2:
      if (FMacroClass->MoveUpMacro(index)) {
        FMacroClass->SetMacroListIndex(index - 1);
        FillMacroList();
      }
      break;
    case 3:
      if (FMacroClass->MoveDownMacro(index)) {
        FMacroClass->SetMacroListIndex(index + 1);
        FillMacroList();
      }
      break;
    default:
      break;
  }
}

void TFrmMacro::uiMenuMacroListItemsClick(uint32_t AMenuItemID) {
  TuiActionsClass* actions = FMacroClass->CurrentMacroAction();
  if (FMacroClass->MacroListIndex() < 0 || !actions || FMacroRecording) return;
  const int at = actions->ActionIndex();
  switch (AMenuItemID) {
    case 2: actions->DeleteAction(at); break;
    case 3: actions->MoveUpAction(at); break;
    case 4: actions->MoveDownAction(at); break;
    case 5: actions->CopyAction(at); break;
    case 6: actions->CutAction(at); break;
    case 7: actions->PasteAction(at); break;
    default: break;
  }
  actions->CheckErrors();
  actions->RemoveErrors();
  ShowMacroActions();
  UpdateErrorIcon(FMacroClass->MacroListIndex());
  if (AMenuItemID == 1) {
    FMacroRecordMode = 2;
    StartInsertRecording();
  }
}

void TFrmMacro::BtnOKClick() {
  if (FMacroRecording) StopRecording();
  const int row = ListBoxMacroList->currentRow();
  if (row >= 0) FMacroClass->SetMacroListIndex(row);
  done(1);
}

void TFrmMacro::BtnCancelClick() {
  if (FMacroRecording) StopRecording();
  if (ShowMessageDialog(Translate(QStringLiteral("Warning")),
                        Translate(QStringLiteral("Do you want to leave macro manager without saving?")), QString(),
                        this) == 1)
    done(2);
}

void TFrmMacro::BtnMinClick() {
  // The configurator's main window is minimised, and the manager with it.
  if (QWidget* main = parentWidget()) main->window()->showMinimized();
}

void TFrmMacro::done(int result) {
  if (FMacroRecording) StopRecording();
  TSkinDialog::done(result);
}

// ---------------------------------------------------------------------------
// Recording

void TFrmMacro::SetEditControlsEnabled(bool AValue) {
  for (QWidget* w : std::initializer_list<QWidget*>{BtnMin, BtnClose, BtnMacroStart, BtnAutoDelay, BtnCustomDelay,
                                                    BtnMacroLoop, BSBTNNEWMACRO, IMGMACROLISTSCROLLUP,
                                                    IMGMACROLISTSCROLLDOWN, ListBoxMacroKey})
    w->setEnabled(AValue);
  BSBTNDELETEMACRO->setEnabled(AValue && FMacroClass->MacroListIndex() >= 0);
  ListBoxMacroList->setEnabled(AValue && !FMacroClass->IsEmpty());
}

void TFrmMacro::BtnMacroStopClick(int ATag) {
  if (ListBoxMacroList->currentRow() < 0 || FMacroClass->IsEmpty() || !FMacroClass->CurrentMacroAction()) {
    BtnMacroStart->setChecked(false);
    if (!FMacroRecording) BtnMacroStop->setChecked(false);
    return;
  }
  LayoutActionsFull->hide();
  if (ATag == 0) {
    if (FMacroRecording) return;
    FMacroRecordMode = 0;
    FRecordRowIndex = 0;
    {
      const QSignalBlocker block(ListBoxMacroKey);
      ListBoxMacroKey->clear();
    }
    BtnMacroStart->setChecked(true);
    uiHook1->RecordKeyboardMacroKeyEx();
    SetEditControlsEnabled(false);
    BtnMacroStop->setChecked(true);
    FMacroRecording = true;
    BtnMacroStop->setEnabled(true);
  } else if (FMacroRecording) {
    StopRecording();
  }
}

void TFrmMacro::StartInsertRecording() {
  if (FMacroRecording) return;
  LayoutActionsFull->hide();
  FInsertRowIndex = ListBoxMacroKey->currentRow();
  BtnMacroStart->setChecked(true);
  BtnMacroStop->setChecked(true);
  uiHook1->RecordKeyboardMacroKeyEx();
  SetEditControlsEnabled(false);
  FMacroRecording = true;
  BtnMacroStop->setEnabled(true);
}

void TFrmMacro::StopRecording() {
  if (!FMacroRecording) return;
  BtnMacroStart->setChecked(false);
  FRecordRowIndex = 0;
  // The conversion runs inside this call, through the stop event.
  uiHook1->StopRecordKeyboardMacroKeyEx();
  FInsertRowIndex = 0;
  FMacroRecording = false;
  SetEditControlsEnabled(true);
  BoxMacroLoop->setEnabled(BtnMacroLoop->isChecked());
  BtnMacroStop->setEnabled(false);
}

void TFrmMacro::uiHook1RecordKeyboardMacroKeyEx(int AState, uint32_t TotalTime, const QString& MacroKeyString) {
  if (!FMacroRecording) return;
  LayoutActionsFull->hide();
  auto add = [&](const char* binding, const QString& text) {
    if (ListBoxMacroKey->count() >= kMaxRecordRows) {
      LayoutActionsFull->show();
      return false;
    }
    if (FMacroRecordMode == 2) addActionRow(++FInsertRowIndex, binding, text, -1);
    else addActionRow(FRecordRowIndex++, binding, text, -1);
    ListBoxMacroKey->scrollToItem(ListBoxMacroKey->item(FMacroRecordMode == 2 ? FInsertRowIndex : FRecordRowIndex - 1));
    lableTotalActions->setText(QString::number(ListBoxMacroKey->count()));
    return true;
  };
  if (ListBoxMacroKey->count() >= kMaxRecordRows) {
    LayoutActionsFull->show();
    return;
  }
  const bool custom = BtnCustomDelay->isChecked();
  if ((TotalTime > 0 || custom) && TotalTime < 10000 && ListBoxMacroKey->count() > 0 && BtnAutoDelay->isChecked()) {
    if (!add("Delay", QString::number(custom ? NumBoxDelay->value() : static_cast<int>(TotalTime)))) return;
  }
  add(AState == 1 ? "KeyDown" : "KeyUp", Translate(MacroKeyString));
}

void TFrmMacro::uiHook1StopRecordKeyboardMacroKey(const TMacroKeyHookList& KeyList) {
  TuiActionsClass* actions = FMacroClass->CurrentMacroAction();
  TMACROKEYINFO rec;
  if (!FMacroRecording || !actions || !FMacroClass->GetCurrentMacroKeyItem(rec)) return;
  const int loop = BtnMacroLoop->isChecked() && BoxMacroLoop->value() > 0 ? BoxMacroLoop->value() : 0;
  const bool autoDelay = BtnAutoDelay->isChecked();
  const bool custom = BtnCustomDelay->isChecked();
  // The last kept key as (code, extended, state): a repeat of the same event
  // is dropped, any other event kept.
  int lastCode = 0, lastExtended = 0, lastState = -1;
  int n = 0;
  for (const TMACROKEYHOOK& e : KeyList) {
    if (n >= kMaxRecordRows) break;
    if (e.nKeyType == 0) {
      if (!autoDelay) continue;
      const int delay = std::max(custom ? NumBoxDelay->value() : static_cast<int>(e.nKeyValue), 10);
      rec.MacroList[n++] = {kMacroStepDelay, 0, static_cast<uint8_t>(delay & 0xFF), static_cast<uint8_t>(delay >> 8)};
    } else if (e.nKeyType == 1) {
      if (e.nKeyValue > 255) continue;  // no virtual key
      const int ext = e.nKeyValueExtended ? 1 : 0;
      const int state = e.nKeyState == 1 ? 1 : 0;
      if (e.nKeyValue == lastCode && ext == lastExtended && state == lastState) continue;
      rec.MacroList[n++] = {kMacroStepKeyboard, static_cast<uint16_t>(state), static_cast<uint8_t>(e.nKeyValue),
                            static_cast<uint8_t>(ext)};
      lastCode = e.nKeyValue;
      lastExtended = ext;
      lastState = state;
    }
  }
  rec.MacroListCount = n;
  rec.nAutoAddDelay = autoDelay ? 1 : 0;
  rec.nLoopCount = static_cast<uint16_t>(loop);
  if (FMacroRecordMode == 2) FMacroClass->InsertMacroAfter(rec, actions->ActionIndex());
  else actions->SetMacroKeyInfo(rec);
  if (TuiActionsClass* current = FMacroClass->CurrentMacroAction()) {
    current->CheckErrors();
    current->RemoveErrors();
  }
  ShowMacroActions();
  UpdateErrorIcon(FMacroClass->MacroListIndex());
}

// ---------------------------------------------------------------------------

int ShowMacroManager(TMACROKEYINFOLIST& AMacroList, int& AMacroIndex, const QString& AMacroPath, bool& ANeedUpdate,
                     QWidget* over, QString* AWriteError) {
  if (AWriteError) AWriteError->clear();
  QPointer<TFrmMacro> form = new TFrmMacro(over);
  form->FCreateByOther = true;
  form->FMacroClass->SetMacroKeyInfoList(AMacroList);
  form->FMacroClass->SetMacroListIndex(AMacroIndex);
  form->FMacroPath = AMacroPath;
  form->FillMacroList();
  ANeedUpdate = false;
  macroskin::CentreOver(form, over);
  const int result = form->exec() == 1 ? 1 : 2;
  if (!form) return 2;
  ANeedUpdate = form->FNeedUpdate;
  AMacroIndex = form->FMacroClass->MacroListIndex();
  if (result == 1) {
    form->FMacroClass->GetMacroKeyInfoList(AMacroList);
    AMacroIndex = form->FMacroClass->MacroListIndex();
    // The files are never read back: a write error is reported and the
    // edited list is still returned.
    const TMacroFileResult written =
        TuiMacroClass::SaveMacroKeyInfoListToMacroFiles(AMacroList, AMacroPath.toStdString());
    if (!written.Ok) {
      if (AWriteError) *AWriteError = QString::fromStdString(written.Error);
      // The one message of this failure: which file, and why.
      const QString file = QFileInfo(QString::fromStdString(written.File)).fileName();
      const QString why = QString::fromStdString(written.Reason);
      ShowMessageDialog(Translate(QStringLiteral("Error")),
                        Translate(QStringLiteral("The macro files could not be written.")),
                        why.isEmpty() ? file : file + QStringLiteral(": ") + why, over);
    }
  }
  delete form.data();
  return result;
}
