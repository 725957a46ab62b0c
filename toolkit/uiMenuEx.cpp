#include "toolkit/uiMenuEx.h"

#include "device/uiFunctionManager.h"
#include "toolkit/uiLanguage.h"
#include "toolkit/uiMenuBox.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

// One selection ID for every menu of the process: showing one menu with an ID
// and another without pre-selects the same ID in the second.
int64_t gSharedSelectionID = 0;

bool MatchesSelection(uint32_t itemId) {
  return gSharedSelectionID >= 0 && gSharedSelectionID <= int64_t(UINT32_MAX) &&
         uint32_t(gSharedSelectionID) == itemId;
}

QRect ScreenRect(const TuiMenuItemsEx* /*unused*/, QScreen* screen, bool available) {
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return QRect(0, 0, 1 << 16, 1 << 16);
  return available ? screen->availableGeometry() : screen->geometry();
}

}  // namespace

QFont TMenuParams::DefaultFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(11);
  return font;
}

// ---------------------------------------------------------------------------
// Items

TuiMenuItemEx::TuiMenuItemEx(TuiMenuItemsEx* owner, QString name, uint32_t id)
    : Name(std::move(name)),
      FOwner(owner),
      FRootMenu(owner->FRootMenu),
      FItemID(id),
      FSubItems(new TuiMenuItemsEx(nullptr, this, owner->FRootMenu)) {}

TuiMenuItemEx::~TuiMenuItemEx() = default;

QString TuiMenuItemEx::DisplayName() const {
  return Name.isEmpty() ? QStringLiteral("TuiMenuItemEx") : Name;
}

// ---------------------------------------------------------------------------
// Levels

TuiMenuItemsEx::TuiMenuItemsEx(TuiMenuEx* ownerMenu, TuiMenuItemEx* ownerItem, TuiMenuEx* root)
    : FOwnerMenu(ownerMenu), FOwnerItem(ownerItem), FRootMenu(root) {
  ItemDefaultFont = QFont(QStringLiteral("DejaVu Sans"));
  ItemDefaultFont.setPixelSize(11);
  // Light text on the dark menu background.
  ItemDefaultFontFill = QBrush(menustyle::kText);
}

TuiMenuItemsEx::~TuiMenuItemsEx() {
  DetachPopup();
  FItems.clear();
}

void TuiMenuItemsEx::DetachPopup() {
  if (FOpen && FRootMenu) FRootMenu->LevelClosed(this);
  FOpen = false;
  if (FuiPopup) {
    // The popup may be delivering the very event that led here: cut it loose
    // and let the event loop delete it.
    FuiPopup->Detach();
    FuiPopup->hide();
    FuiPopup->deleteLater();
  }
  FuiPopup = nullptr;
  FuiMenuBox = nullptr;
}

TuiMenuItemEx* TuiMenuItemsEx::Add() {
  // IDs are positions in decimal digit pairs: a 100th item would take the
  // ID of another level's item.
  if (Count() >= 99) return nullptr;
  const int n = SmallestFreeNameNumber(QStringLiteral("Item"), FItems.size(),
                                       [this](size_t i) -> const QString& { return FItems[i]->Name; });
  int64_t id = 0;
  if (FOwnerMenu) {
    id = n;
  } else if (FOwnerItem) {
    id = int64_t(FOwnerItem->ItemID()) * 100 + n;
  }
  // Profiles keep the ID in a signed 32-bit field.
  if (id > INT32_MAX) return nullptr;
  FItems.push_back(std::unique_ptr<TuiMenuItemEx>(
      new TuiMenuItemEx(this, QStringLiteral("Item%1").arg(n), static_cast<uint32_t>(id))));
  return FItems.back().get();
}

bool TuiMenuItemsEx::Delete(int index) {
  if (index < 0 || index >= Count()) return false;
  FItems.erase(FItems.begin() + index);
  return true;
}

void TuiMenuItemsEx::Clear() { FItems.clear(); }

TuiMenuItemEx* TuiMenuItemsEx::GetItem(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(index)].get();
}

void TuiMenuItemsEx::SetItemCheckedState(int index, bool state) {
  if (TuiMenuItemEx* item = GetItem(index)) item->Checked = state;
}

void TuiMenuItemsEx::ItemSetMaxSize(double width) {
  if (width <= FItemMaxWidth) return;
  FItemMaxWidth = width;
  if (FuiPopup) {
    FPopupWidth = width;
    FuiPopup->resize(int(FPopupWidth), FuiPopup->height());
  }
}

QWidget* TuiMenuItemsEx::PopupWidget() const { return FuiPopup.data(); }

TuiMenuBox* TuiMenuItemsEx::MenuBox() const { return FuiPopup ? FuiMenuBox : nullptr; }

void TuiMenuItemsEx::BuildMenuBox(const Target& target) {
  TuiMenuEx* menu = FRootMenu;
  if (!menu) return;
  const bool custom = menu->UseCustomMenuParams;
  const bool ownParams = custom && !UseParentParameter;

  // Row height and cursor.
  double h = 40;
  Qt::CursorShape cursor = Qt::ArrowCursor;
  if (custom) {
    if (UseParentParameter) {
      h = std::max(menu->FParams.ItemHeight, 20);
      cursor = menu->FParams.ItemCursor;
    } else {
      h = FParams.ItemHeight;
      cursor = FParams.ItemCursor;
    }
  }

  double total = 0;
  int remembered = -1;
  auto fillRow = [&](int i, TuiMenuBoxItem& row, TuiMenuItemEx& item) {
    row.Text = Translate(item.Caption);
    row.ItemID = item.ItemID();
    row.IsExtender = item.SubItems().Count() > 0;
    row.IsChecked = item.Checked;
    row.ImageIndex = item.ImageIndex;
    FuiMenuBox->SetRowSelected(i, item.IsSelected);
    if (MatchesSelection(item.ItemID())) remembered = i;
  };
  auto createRow = [&](int i, TuiMenuItemEx& item) -> TuiMenuBoxItem& {
    TuiMenuBoxItem& row = FuiMenuBox->AppendRow();
    row.Height = item.ItemHeight != 0 ? item.ItemHeight : h;
    row.Cursor = cursor;
    fillRow(i, row, item);
    return FuiMenuBox->ItemByIndex(i) ? *FuiMenuBox->ItemByIndex(i) : row;
  };

  if (!FuiPopup) {
    FuiPopup = new TuiMenuPopup(this);
    FuiMenuBox = FuiPopup->Box();
    FPopupWidth = 100;
    FPopupHeight = 0;
    for (int i = 0; i < Count(); ++i) total += createRow(i, *FItems[size_t(i)]).Height;
  } else {
    for (int i = FuiMenuBox->Count(); i < Count(); ++i) createRow(i, *FItems[size_t(i)]);
    while (FuiMenuBox->Count() > Count()) FuiMenuBox->RemoveLastRow();
    for (int i = 0; i < Count(); ++i) {
      fillRow(i, *FuiMenuBox->ItemByIndex(i), *FItems[size_t(i)]);
      total += FuiMenuBox->ItemByIndex(i)->Height;
    }
  }
  FuiMenuBox->SetItemIndex(remembered >= 0 ? remembered : FItemIndex);

  // Height.
  const double screenHeight = ScreenRect(this, target.screen, true).height();
  const TMenuParams& mp = menu->FParams;
  if (!ownParams) {
    double H = total;
    if (custom) H += mp.BGMargins.top() + mp.BGMargins.bottom();
    if (H > FPopupHeight) FPopupHeight = H;
    if (screenHeight < FPopupHeight) FPopupHeight = screenHeight;
    if (mp.CustomHeight != 0) {
      FPopupHeight = mp.CustomHeight;
    } else {
      FPopupHeight = std::min(H, screenHeight);
    }
  } else {
    const double H = total + 5 + mp.BGMargins.top() + mp.BGMargins.bottom();
    if (H > FPopupHeight) FPopupHeight = H;
    if (FParams.CustomHeight != 0) FPopupHeight = FParams.CustomHeight;
    if (screenHeight < FPopupHeight) FPopupHeight = screenHeight;
  }

  // Width from the caption with the most characters (two at least; the
  // first of equally long ones).
  int widest = -1;
  qsizetype best = 1;
  for (int i = 0; i < FuiMenuBox->Count(); ++i) {
    if (FuiMenuBox->ItemByIndex(i)->Text.size() > best) {
      best = FuiMenuBox->ItemByIndex(i)->Text.size();
      widest = i;
    }
  }
  if (widest >= 0) {
    const QString& text = FuiMenuBox->ItemByIndex(widest)->Text;
    double w = 0;
    int customWidth = 0;
    if (!ownParams) {
      const QFont& font = custom ? mp.ItemFont : ItemDefaultFont;
      w = TuiMenuBox::TextWidth(font, text) + 100;
      if (custom) w += mp.BGMargins.left() + mp.BGMargins.right();
      customWidth = mp.CustomWidth;
    } else {
      w = FParams.ItemAutoSize ? TuiMenuBox::TextWidth(FParams.ItemFont, text) + 100 : FParams.ItemWidth;
      w += FParams.BGMargins.left() + FParams.BGMargins.right();
      customWidth = FParams.CustomWidth;
    }
    if (!FOpen) FPopupWidth = customWidth != 0 ? customWidth : w;
  }

  const QMarginsF margins =
      custom ? (ownParams ? FParams.BGMargins : mp.BGMargins) : QMarginsF(0, 0, 0, 0);
  FuiPopup->SetBoxMargins(margins.toMargins());
  FuiPopup->resize(std::max(1, int(FPopupWidth)), std::max(1, int(FPopupHeight)));
  FuiMenuBox->LayoutRows();
  FuiMenuBox->update();
}

void TuiMenuItemsEx::ShowPopup(const Target& target, TvgPlacement placement) {
  OpenAt(target, placement, target.rect, false);
}

void TuiMenuItemsEx::ShowPopupInRect(const Target& target, TvgPlacement placement, const QRect& rect) {
  OpenAt(target, placement, rect.translated(target.rect.topLeft()), true);
}

void TuiMenuItemsEx::OpenAt(const Target& target, TvgPlacement placement, const QRect& placeRect,
                            bool inRect) {
  BuildMenuBox(target);
  if (!FuiPopup) return;
  const QSize size = FuiPopup->size();
  QPoint pos(placeRect.x() + placeRect.width(), placeRect.y());
  if (placement == vgPlacementRightCenter) pos.setY(placeRect.y() + (placeRect.height() - size.height()) / 2);

  // Too little room right of the target: open on the left of the target's
  // whole window (for a sub-level: of the parent popup).
  const QRect screen = ScreenRect(this, target.screen, false);
  if (target.rect.x() + target.rect.width() + size.width() >= screen.x() + screen.width()) {
    if (inRect) {
      pos += QPoint(-target.rect.width(), 20);
    } else {
      pos.setX(target.window.x() - size.width());
    }
  }
  // The flip can push it off screen: keep it inside the usable area.
  const QRect avail = ScreenRect(this, target.screen, true);
  pos.setX(std::clamp(pos.x(), avail.left(), std::max(avail.left(), avail.right() + 1 - size.width())));
  pos.setY(std::clamp(pos.y(), avail.top(), std::max(avail.top(), avail.bottom() + 1 - size.height())));

  FuiPopup->move(pos);
  if (!FOpen) {
    FOpen = true;
    FRootMenu->LevelOpened(this);
  }
  FuiPopup->show();
}

void TuiMenuItemsEx::PopupClosed() {
  if (!FOpen) return;
  FOpen = false;
  // A closed level keeps no hover or press: the next show starts clean.
  if (FuiMenuBox) FuiMenuBox->ResetPointerState();
  TuiMenuEx* menu = FRootMenu;
  menu->LevelClosed(this);
  if (menu->OnMenuClose) {
    TuiMenuCloseEvent handler = menu->OnMenuClose;
    handler(this);
  }
}

void TuiMenuItemsEx::CloseAllPopups() {
  std::weak_ptr<char> alive = FAlive;
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (FItems[i]->SubItems().Count() > 0) FItems[i]->SubItems().CloseAllPopups();
    if (alive.expired()) return;  // a close handler removed this level
  }
  if (FOpen && FuiPopup) FuiPopup->hide();  // the hide reports the closing
  if (!alive.expired() && FOpen) PopupClosed();
}

void TuiMenuItemsEx::ResetItemIndexes(const TuiMenuItemsEx* exclude) {
  for (auto& item : FItems)
    if (item->SubItems().Count() > 0) item->SubItems().ResetItemIndexes(exclude);
  if (this != exclude) FItemIndex = -1;
}

// ---------------------------------------------------------------------------
// The menu

TuiMenuEx::TuiMenuEx(QObject* owner) : QObject(owner), FItems(new TuiMenuItemsEx(this, nullptr, this)) {
  gSharedSelectionID = 0;
}

TuiMenuEx::~TuiMenuEx() {
  FItems.reset();
  FOpenLevels.clear();
}

int64_t TuiMenuEx::SharedSelectionID() { return gSharedSelectionID; }

bool TuiMenuEx::IsMenuOpen() const { return FItems->GetIsMenuOpened(); }

void TuiMenuEx::ShowMainMenu(QWidget* target, TvgPlacement placement) {
  if (!target) return;
  TuiMenuItemsEx::Target t;
  t.rect = QRect(target->mapToGlobal(QPoint(0, 0)), target->size());
  t.window = target->window()->frameGeometry();
  t.screen = target->screen();
  FHoverLevel = FPressLevel = nullptr;
  FItems->ShowPopup(t, placement);
  if (FItems->GetIsMenuOpened()) FFocusLevel = FItems.get();
}

void TuiMenuEx::ShowMainMenu(int64_t SelectedMenuID, QWidget* target, TvgPlacement placement) {
  gSharedSelectionID = SelectedMenuID;
  ShowMainMenu(target, placement);
}

void TuiMenuEx::ShowMainMenu(int64_t SelectedMenuID, QWidget* target, TvgPlacement placement,
                             const QRect& rect) {
  gSharedSelectionID = SelectedMenuID;
  if (!target) return;
  TuiMenuItemsEx::Target t;
  t.rect = QRect(target->mapToGlobal(QPoint(0, 0)), target->size());
  t.window = target->window()->frameGeometry();
  t.screen = target->screen();
  FHoverLevel = FPressLevel = nullptr;
  FItems->ShowPopupInRect(t, placement, rect);
  if (FItems->GetIsMenuOpened()) FFocusLevel = FItems.get();
}

TuiMenuItemEx* TuiMenuEx::ItemOfMenuId(int64_t menuId) const {
  if (menuId <= 0 || menuId > INT32_MAX) return nullptr;
  std::vector<int> positions;
  for (int64_t rest = menuId; rest > 0; rest /= 100) positions.push_back(int(rest % 100));
  const TuiMenuItemsEx* level = FItems.get();
  TuiMenuItemEx* item = nullptr;
  for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
    if (!level) return nullptr;
    item = level->GetItem(*it - 1);
    if (!item) return nullptr;
    level = &item->SubItems();
  }
  return item;
}

void TuiMenuEx::CloseMenu() { FItems->CloseAllPopups(); }

void TuiMenuEx::LevelOpened(TuiMenuItemsEx* level) {
  if (std::find(FOpenLevels.begin(), FOpenLevels.end(), level) == FOpenLevels.end())
    FOpenLevels.push_back(level);
}

void TuiMenuEx::LevelClosed(TuiMenuItemsEx* level) {
  FOpenLevels.erase(std::remove(FOpenLevels.begin(), FOpenLevels.end(), level), FOpenLevels.end());
  if (FHoverLevel == level) FHoverLevel = nullptr;
  if (FPressLevel == level) FPressLevel = nullptr;
  if (FFocusLevel == level) FFocusLevel = FOpenLevels.empty() ? nullptr : FOpenLevels.back();
}

TuiMenuItemsEx* TuiMenuEx::LevelAt(const QPoint& global) const {
  for (auto it = FOpenLevels.rbegin(); it != FOpenLevels.rend(); ++it) {
    QWidget* popup = (*it)->PopupWidget();
    if (popup && popup->isVisible() && popup->geometry().contains(global)) return *it;
  }
  return nullptr;
}

void TuiMenuEx::RouteMouse(MouseKind kind, Qt::MouseButton button, const QPoint& global) {
  QPointer<TuiMenuEx> self(this);
  auto boxPos = [&](TuiMenuItemsEx* level) { return QPointF(level->MenuBox()->mapFromGlobal(global)); };
  switch (kind) {
    case MouseKind::Move: {
      // While a button is held the pressed box keeps the pointer, as with a
      // mouse capture.
      if (FPressLevel && FPressLevel->MenuBox()) {
        FPressLevel->MenuBox()->MouseMove(boxPos(FPressLevel));
        return;
      }
      TuiMenuItemsEx* level = LevelAt(global);
      if (level != FHoverLevel) {
        if (FHoverLevel && FHoverLevel->MenuBox()) FHoverLevel->MenuBox()->MouseLeave();
        FHoverLevel = level;
      }
      if (level && level->MenuBox()) level->MenuBox()->MouseMove(boxPos(level));
      return;
    }
    case MouseKind::Press: {
      TuiMenuItemsEx* level = LevelAt(global);
      if (!level) {
        // A press outside every level dismisses the menu.
        CloseMenu();
        return;
      }
      FPressLevel = level;
      if (level->MenuBox()) level->MenuBox()->MouseDown(button, boxPos(level));
      return;
    }
    case MouseKind::Release: {
      TuiMenuItemsEx* level = FPressLevel ? FPressLevel : LevelAt(global);
      FPressLevel = nullptr;
      if (level && level->MenuBox()) level->MenuBox()->MouseUp(button, boxPos(level));
      if (!self) return;
      // Back to hover routing: the pointer may now be over another level.
      TuiMenuItemsEx* under = LevelAt(global);
      if (under != FHoverLevel) {
        if (FHoverLevel && FHoverLevel->MenuBox()) FHoverLevel->MenuBox()->MouseLeave();
        FHoverLevel = under;
      }
      return;
    }
  }
}

void TuiMenuEx::RouteKey(int key, const QString& text) {
  TuiMenuItemsEx* level = FFocusLevel ? FFocusLevel : (FOpenLevels.empty() ? nullptr : FOpenLevels.back());
  if (!level) return;
  if (key == Qt::Key_Escape) {
    // Escape closes the level that has the keyboard and what hangs below it.
    level->CloseAllPopups();
    return;
  }
  if (level->MenuBox()) level->MenuBox()->KeyDown(key, text);
}

// ---------------------------------------------------------------------------
// Chain routines

void CloseMenuChain(TuiMenuItemsEx* level) {
  if (level && level->GetRootMenuOfLevel()) level->GetRootMenuOfLevel()->CloseMenu();
}

void ResetMenuChain(TuiMenuItemsEx* level, const TuiMenuItemsEx* exclude) {
  if (level && level->GetRootMenuOfLevel()) level->GetRootMenuOfLevel()->Items().ResetItemIndexes(exclude);
}
