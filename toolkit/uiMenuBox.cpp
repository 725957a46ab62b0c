#include "toolkit/uiMenuBox.h"

#include "device/uiFunctionManager.h"

#include <QByteArray>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <climits>
#include <cstdio>

namespace {

constexpr double kCheckWidth = 28;
constexpr double kExtenderWidth = 20;
constexpr double kIconWidth = 25;

bool HasPicture(const QImage& image) {
  return !image.isNull() && qint64(image.width()) * image.height() > 1;
}

// What a choice reports, copied before the menu closes: the handlers run
// later and may rebuild or delete the items they were chosen from.
struct Choice {
  QPointer<TuiMenuEx> menu;
  std::weak_ptr<char> itemAlive;
  TuiMenuItemEx* item = nullptr;
  QString name;
  uint32_t id = 0;
  TuiMenuItemExEvent onClick;
  QByteArray buffer;
  bool hasBuffer = false;
};

// Reports a chosen item to its OnClick or the menu's OnItemsClick, queued, so
// that the handler runs once the popups' own event handling has finished.
void DoMenuItemClick(TuiMenuEx* menu, TuiMenuItemEx* item, std::weak_ptr<char> itemAlive) {
  Choice c;
  c.menu = menu;
  c.itemAlive = std::move(itemAlive);
  c.item = item;
  c.name = item->Name;
  c.id = item->ItemID();
  c.onClick = item->OnClick;
  if (menu->FunctionManager && menu->FunctionItemIndex >= 0) {
    TuiFunctionItem* function = menu->FunctionManager->Items().Items(menu->FunctionItemIndex);
    if (!function) {
      std::fprintf(stderr, "menu: function item %d does not exist; choice of %s not reported\n",
                   menu->FunctionItemIndex, qPrintable(c.name));
      return;
    }
    if (function->BufferSize() > uint32_t(INT_MAX)) {
      std::fprintf(stderr, "menu: function item buffer too large; choice not reported\n");
      return;
    }
    c.hasBuffer = function->BufferSize() > 0;
    c.buffer = QByteArray(static_cast<const char*>(function->BufferPointer()), int(function->BufferSize()));
  }
  QMetaObject::invokeMethod(
      menu,
      [c] {
        if (!c.menu) return;
        TuiMenuItemEx* sender = c.itemAlive.expired() ? nullptr : c.item;
        const void* data = c.hasBuffer ? c.buffer.constData() : nullptr;
        const int size = int(c.buffer.size());
        if (c.onClick) {
          c.onClick(sender, data, size);
        } else if (c.menu->OnItemsClick) {
          TuiMenuItemsExEvent handler = c.menu->OnItemsClick;
          handler(sender, c.name, c.id, data, size);
        }
      },
      Qt::QueuedConnection);
}

}  // namespace

// ---------------------------------------------------------------------------
// Box

TuiMenuBox::TuiMenuBox(QWidget* parent) : QWidget(parent) {
  // The popup window takes every mouse event and routes it here itself.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  resize(100, 100);
}

TuiMenuBoxItem* TuiMenuBox::ItemByIndex(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  return &FRows[size_t(index)];
}

const TuiMenuBoxItem* TuiMenuBox::ItemByIndex(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return &FRows[size_t(index)];
}

int TuiMenuBox::ItemByPoint(const QPointF& pos) const {
  for (int i = 0; i < Count(); ++i)
    if (FRows[size_t(i)].Rect.contains(pos)) return i;
  return -1;
}

QRectF TuiMenuBox::RowRect(int index) const {
  const TuiMenuBoxItem* row = ItemByIndex(index);
  return row ? row->Rect : QRectF();
}

void TuiMenuBox::SetItemIndex(int value) {
  if (value == FItemIndex) return;
  if (TuiMenuBoxItem* old = ItemByIndex(FItemIndex)) old->IsSelected = false;
  FItemIndex = value;
  if (TuiMenuBoxItem* row = ItemByIndex(value)) {
    row->IsSelected = true;
    // A row that opens a sub-level is never left selected.
    if (row->IsExtender) {
      row->IsSelected = false;
      FItemIndex = -1;
    }
  }
  if (FuiMenuItemsEx) FuiMenuItemsEx->SetItemIndex(FItemIndex);
  update();
}

void TuiMenuBox::SetRowSelected(int index, bool value) {
  TuiMenuBoxItem* row = ItemByIndex(index);
  if (!row || row->IsSelected == value) return;
  row->IsSelected = value;
  if (value) {
    if (FItemIndex == index) {
      // Already the index (kept while the row was deselected): apply the
      // sub-level rule through a fresh selection.
      FItemIndex = -1;
    }
    SetItemIndex(index);
  } else if (FItemIndex == index) {
    SetItemIndex(-1);
  } else {
    update();
  }
}

double TuiMenuBox::TextWidth(const QFont& font, const QString& text) {
  return QFontMetricsF(font).horizontalAdvance(text);
}

TuiMenuBoxItem& TuiMenuBox::AppendRow() {
  FRows.emplace_back();
  return FRows.back();
}

void TuiMenuBox::RemoveLastRow() {
  if (FRows.empty()) return;
  const int index = Count() - 1;
  if (index < FItemIndex) --FItemIndex;
  if (FRows.back().IsSelected || index == FItemIndex) {
    FRows.back().IsSelected = false;
    if (index == FItemIndex) {
      FItemIndex = -1;
      if (FuiMenuItemsEx) FuiMenuItemsEx->SetItemIndex(-1);
    }
  }
  if (FMoveOverItem == index) FMoveOverItem = -1;
  if (FMouseDownItem == index) FMouseDownItem = -1;
  FRows.pop_back();
}

void TuiMenuBox::LayoutRows() {
  if (TuiMenuBoxItem* row = ItemByIndex(FItemIndex); row && !row->IsSelected) row->IsSelected = true;
  double y = 0;
  for (auto& row : FRows) {
    row.Rect = QRectF(0, y, width(), row.Height);
    y += row.Height;
  }
  update();
}

bool TuiMenuBox::CustomParams() const {
  return FuiMenuItemsEx && FuiMenuItemsEx->GetRootMenuOfLevel() &&
         FuiMenuItemsEx->GetRootMenuOfLevel()->UseCustomMenuParams;
}

const TMenuParams& TuiMenuBox::RowParams() const {
  static const TMenuParams defaults;
  if (!FuiMenuItemsEx || !FuiMenuItemsEx->GetRootMenuOfLevel()) return defaults;
  return FuiMenuItemsEx->GetRootMenuOfLevel()->Parameters();
}

const TMenuParams& TuiMenuBox::BoxParams() const {
  if (FuiMenuItemsEx && !FuiMenuItemsEx->UseParentParameter) return FuiMenuItemsEx->Parameters();
  return RowParams();
}

void TuiMenuBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const bool custom = CustomParams();
  const bool own = custom && FuiMenuItemsEx && !FuiMenuItemsEx->UseParentParameter;
  const TMenuParams& bp = BoxParams();
  const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

  // Background.
  QBrush background(menustyle::kBackground);
  QPen frame(menustyle::kFrame, 1);
  if (custom) {
    if (own || bp.BGFill.style() != Qt::NoBrush) background = bp.BGFill;
    frame = QPen(QColor::fromRgba(0xFFA8A4A4), 1);
  } else {
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, menustyle::kBackground.lighter(112));
    g.setColorAt(1, menustyle::kBackground.darker(115));
    background = QBrush(g);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(background);
  p.drawRoundedRect(area, 2, 2);
  if (custom && HasPicture(bp.BGImage)) p.drawImage(rect(), bp.BGImage);

  // State fills.
  QBrush normal(Qt::NoBrush), over, down;
  if (custom) {
    auto pick = [&](const QBrush& b) { return (own || b.style() != Qt::NoBrush) ? b : QBrush(Qt::NoBrush); };
    normal = pick(bp.ItemNormalFill);
    over = pick(bp.ItemOverFill);
    down = pick(bp.ItemDownFill);
  } else {
    QLinearGradient hot(0, 0, width(), 0);
    hot.setColorAt(0, QColor(menustyle::kAccent.red(), menustyle::kAccent.green(), menustyle::kAccent.blue(), 90));
    hot.setColorAt(1, QColor(menustyle::kAccent.red(), menustyle::kAccent.green(), menustyle::kAccent.blue(), 20));
    over = QBrush(hot);
    QLinearGradient sel(0, 0, width(), 0);
    sel.setColorAt(0, menustyle::kAccent);
    sel.setColorAt(1, menustyle::kAccent.darker(160));
    down = QBrush(sel);
  }
  for (int i = 0; i < Count(); ++i) {
    const TuiMenuBoxItem& row = FRows[size_t(i)];
    if (!row.Rect.intersects(QRectF(rect())) && !QRectF(rect()).contains(row.Rect.topLeft())) continue;
    const QBrush* fill = &normal;
    if (i == FMoveOverItem && i != FMouseDownItem) {
      fill = &over;
    } else if (i == FMouseDownItem || (row.IsSelected && ShowSelectedState)) {
      fill = &down;
    }
    PaintRow(p, i, *fill);
  }

  // The frame last: the first and the last row reach the box's top and
  // bottom, and their fills would hide those two edges.
  p.setPen(frame);
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(area, 2, 2);
}

void TuiMenuBox::PaintRow(QPainter& p, int index, const QBrush& stateFill) const {
  const TuiMenuBoxItem& row = FRows[size_t(index)];
  const bool custom = CustomParams();
  const TMenuParams& m = RowParams();
  QRectF r = row.Rect;
  if (stateFill.style() != Qt::NoBrush) {
    p.setPen(Qt::NoPen);
    p.setBrush(stateFill);
    p.drawRect(r.adjusted(1, 0, -1, 0));
  }

  // Right side: the icon box, then the sub-level mark left of it.
  double right = r.right();
  const QList<QPixmap>* images = FuiMenuItemsEx ? FuiMenuItemsEx->Images : nullptr;
  if (images) {
    const QRectF iconBox(right - kIconWidth, r.top(), kIconWidth, r.height());
    if (row.ImageIndex >= 0 && row.ImageIndex < images->size()) {
      const QPixmap& icon = images->at(row.ImageIndex);
      const QRectF target = QRectF(0, 0, 21, 21).translated(iconBox.center() - QPointF(10.5, 10.5));
      p.drawPixmap(target, icon, QRectF(icon.rect()));
    }
    right -= kIconWidth;
  }
  const QBrush textFill = custom ? m.ItemFontFill
                                 : (FuiMenuItemsEx ? FuiMenuItemsEx->ItemDefaultFontFill : QBrush(menustyle::kText));
  if (row.IsExtender) {
    const QPointF c(right - kExtenderWidth / 2, r.center().y());
    QPainterPath arrow;
    arrow.moveTo(c + QPointF(-3, -4));
    arrow.lineTo(c + QPointF(3, 0));
    arrow.lineTo(c + QPointF(-3, 4));
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(custom ? m.ItemExtenderFill : textFill);
    p.drawPath(arrow);
  }
  right -= kExtenderWidth;

  // Left side: the check area and its mark.
  double left = r.left();
  const bool checkArea = !custom || m.ItemShowCheck;
  if (checkArea) {
    const bool shown = row.IsChecked || (row.IsSelected && m.MenuShowSelectedCheckMark);
    if (shown) {
      const QPointF c(left + kCheckWidth / 2, r.center().y());
      if (custom && HasPicture(m.ItemCheckImage)) {
        QRectF box(0, 0, 30, 30);
        QSizeF fitted = QSizeF(m.ItemCheckImage.size()).scaled(std::min(30.0, r.height()), std::min(30.0, r.height()),
                                                               Qt::KeepAspectRatio);
        box.setSize(fitted);
        box.moveCenter(c);
        p.drawImage(box, m.ItemCheckImage);
      } else {
        QPainterPath tick;
        tick.moveTo(c + QPointF(-6, 0));
        tick.lineTo(c + QPointF(-2, 4.5));
        tick.lineTo(c + QPointF(6, -5));
        p.setBrush(Qt::NoBrush);
        const QBrush markFill = custom ? m.ItemCheckFill : QBrush(menustyle::kText);
        p.setPen(QPen(markFill, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(tick);
      }
    }
    left += kCheckWidth;
  }

  // Caption.
  const QMarginsF pad = custom ? m.MenuTextPadding : QMarginsF(3, 1, 3, 1);
  const QRectF textRect = QRectF(left, r.top(), std::max(0.0, right - left), r.height()) - pad;
  const QFont font = custom ? m.ItemFont : (FuiMenuItemsEx ? FuiMenuItemsEx->ItemDefaultFont : TMenuParams::DefaultFont());
  p.setFont(font);
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
  if (custom) {
    p.setPen(QColor::fromRgba(0xFF000000));
    p.drawText(textRect.translated(0.7, 0.7), flags, row.Text);
  }
  p.setPen(QPen(textFill, 1));
  p.drawText(textRect, flags, row.Text);
}

void TuiMenuBox::MouseDown(Qt::MouseButton button, const QPointF& pos) {
  if (button == Qt::LeftButton) {
    const int row = ItemByPoint(pos);
    if (row >= 0) {
      FMouseDownItem = row;
      update();
      if (row != FItemIndex) SetItemIndex(row);
    }
  }
  FMouseSelecting = true;
}

void TuiMenuBox::MouseMove(const QPointF& pos) {
  const int row = ItemByPoint(pos);
  if (row < 0 || row == FMoveOverItem) return;
  FMoveOverItem = row;
  update();
  TuiMenuItemsEx* level = FuiMenuItemsEx;
  if (!level) return;
  if (QWidget* popup = window()) popup->setCursor(FRows[size_t(row)].Cursor);
  std::weak_ptr<char> alive = level->FAlive;
  // Hovering another row closes the open sub-levels of this level.
  for (int i = 0; i < level->Count(); ++i) {
    TuiMenuItemEx* item = level->GetItem(i);
    if (item && item->SubItems().Count() > 0) item->SubItems().CloseAllPopups();
    if (alive.expired()) return;
  }
  TuiMenuItemEx* item = level->GetItem(row);
  TuiMenuEx* menu = level->GetRootMenuOfLevel();
  if (item && FRows[size_t(row)].IsExtender && item->SubItems().Count() > 0) {
    TuiMenuItemsEx::Target target;
    target.rect = QRectF(QPointF(mapToGlobal(FRows[size_t(row)].Rect.topLeft().toPoint())),
                         FRows[size_t(row)].Rect.size())
                      .toRect();
    target.window = window()->frameGeometry();
    target.screen = window()->screen();
    item->SubItems().ShowPopup(target, vgPlacementRight);
  } else if (menu) {
    menu->FFocusLevel = level;
  }
}

void TuiMenuBox::MouseLeave() {
  FMoveOverItem = -1;
  update();
}

void TuiMenuBox::ResetPointerState() {
  FMoveOverItem = -1;
  FMouseDownItem = -1;
  FMouseSelecting = false;
  update();
}

void TuiMenuBox::MouseUp(Qt::MouseButton button, const QPointF& pos) {
  Q_UNUSED(button);
  FMouseSelecting = false;
  const int pressed = FMouseDownItem;
  if (pressed >= 0) {
    FMouseDownItem = -1;
    FMoveOverItem = -1;
    update();
  }
  const int released = ItemByPoint(pos);
  TuiMenuItemsEx* level = FuiMenuItemsEx;
  if (released < 0 || !level || FRows[size_t(released)].IsExtender) return;
  TuiMenuEx* menu = level->GetRootMenuOfLevel();
  // The item of the released row is the choice (only when it is the row that
  // was pressed); taken before the closing, whose handlers may change the tree.
  TuiMenuItemEx* chosen = released == pressed ? level->GetItem(released) : nullptr;
  std::weak_ptr<char> chosenAlive = chosen ? chosen->FAlive : std::weak_ptr<char>();
  std::weak_ptr<char> levelAlive = level->FAlive;
  QPointer<TuiMenuEx> guard(menu);
  CloseMenuChain(level);
  if (!guard || levelAlive.expired()) return;
  ResetMenuChain(level, level);
  if (chosen && !chosenAlive.expired()) DoMenuItemClick(menu, chosen, chosenAlive);
  // Nothing here touches the box, the level or the item any more.
}

bool TuiMenuBox::KeyDown(int key, const QString& text) {
  if (Count() == 0) return false;
  if (!text.isEmpty() && text.at(0).isPrint()) {
    const QChar typed = text.at(0).toLower();
    for (int i = 0; i < Count(); ++i) {
      const QString& t = FRows[size_t(i)].Text;
      if (!t.isEmpty() && t.at(0).toLower() == typed) {
        SetItemIndex(i);
        break;
      }
    }
    return true;
  }
  const int index = FItemIndex;
  const int count = Count();
  switch (key) {
    case Qt::Key_End:
      SetItemIndex(count - FColumns);
      return true;
    case Qt::Key_Home:
      SetItemIndex(0);
      return true;
    case Qt::Key_Left:
      if (index > 0) SetItemIndex(index - 1);
      return true;
    case Qt::Key_Up:
      if (index > 0) SetItemIndex(std::max(0, index - FColumns));
      return true;
    case Qt::Key_Right:
      if (index < count - 1) SetItemIndex(index + 1);
      return true;
    case Qt::Key_Down:
      if (index < count - 1) SetItemIndex(std::min(count - 1, index + FColumns));
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// Popup window

TuiMenuPopup::TuiMenuPopup(TuiMenuItemsEx* level)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint), FLevel(level) {
  setMouseTracking(true);
  setAttribute(Qt::WA_DeleteOnClose, false);
  setFocusPolicy(Qt::StrongFocus);
  FBox = new TuiMenuBox(this);
  FBox->SetMenuItems(level);
  resize(100, 1);
}

void TuiMenuPopup::SetBoxMargins(const QMargins& margins) {
  FMargins = margins;
  FBox->setGeometry(rect().marginsRemoved(FMargins));
}

void TuiMenuPopup::resizeEvent(QResizeEvent*) {
  FBox->setGeometry(rect().marginsRemoved(FMargins));
  FBox->LayoutRows();
}

void TuiMenuPopup::paintEvent(QPaintEvent*) {
  // Only the margins around the box show: the box paints the rest.
  QPainter p(this);
  p.fillRect(rect(), menustyle::kBackground.darker(140));
}

void TuiMenuPopup::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (FLevel && FLevel->GetRootMenuOfLevel())
    FLevel->GetRootMenuOfLevel()->RouteMouse(TuiMenuEx::MouseKind::Press, event->button(),
                                             event->globalPosition().toPoint());
}

void TuiMenuPopup::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void TuiMenuPopup::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (FLevel && FLevel->GetRootMenuOfLevel())
    FLevel->GetRootMenuOfLevel()->RouteMouse(TuiMenuEx::MouseKind::Move, Qt::NoButton,
                                             event->globalPosition().toPoint());
}

void TuiMenuPopup::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (FLevel && FLevel->GetRootMenuOfLevel())
    FLevel->GetRootMenuOfLevel()->RouteMouse(TuiMenuEx::MouseKind::Release, event->button(),
                                             event->globalPosition().toPoint());
}

void TuiMenuPopup::keyPressEvent(QKeyEvent* event) {
  event->accept();
  if (FLevel && FLevel->GetRootMenuOfLevel())
    FLevel->GetRootMenuOfLevel()->RouteKey(event->key(), event->text());
}

void TuiMenuPopup::hideEvent(QHideEvent*) {
  if (FLevel) FLevel->PopupClosed();
}
