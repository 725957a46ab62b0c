#pragma once
// Popup menus: a tree of items shown as a chain of popup windows, one per open
// level. The owner opens the menu beside one of its controls; a left press and
// release on the same row closes every open level and then reports the chosen
// item's name and ID, queued, on the GUI thread.
//
// Items are named "Item%d" with the smallest number n that no sibling uses and
// get the ID n on the top level and parent ID * 100 + n below. The windows and
// the profiles store these IDs (a button's MenuId), so an ID reads as decimal
// digit pairs of 1-based positions, and no level may hold 100 items.
//
// Captions are kept untranslated and translated each time a level is shown.

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QMarginsF>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QScreen;
class QWidget;
class TuiFunctionManager;
class TuiMenuBox;
class TuiMenuEx;
class TuiMenuItemEx;
class TuiMenuItemsEx;
class TuiMenuPopup;

// Where a level opens relative to its target.
enum TvgPlacement {
  vgPlacementRight,        // left edge at the target's right edge, tops aligned (sub-levels)
  vgPlacementRightCenter,  // left edge at the target's right edge, centred vertically (top levels)
};

// An item's own click handler: the chosen item (nullptr when it was deleted
// before the queued report arrived) and the linked function item's buffer.
using TuiMenuItemExEvent =
    std::function<void(TuiMenuItemEx* Sender, const void* ABufferPointer, int ASize)>;
// The menu's click handler: the item (as above), its name and ID as they were
// at the choice, and the linked function item's buffer.
using TuiMenuItemsExEvent =
    std::function<void(TuiMenuItemEx* Sender, const QString& AMenuItemName, uint32_t AMenuItemID,
                       const void* ABufferPointer, int ASize)>;
// A level's popup closed; Sender is the level, not the menu.
using TuiMenuCloseEvent = std::function<void(TuiMenuItemsEx* Sender)>;

// The look of a menu (or of a level with its own parameters). Brushes with
// Qt::NoBrush leave the default look of that part.
struct TMenuParams {
  QBrush BGFill{QColor::fromRgba(0xFF000000)};            // box background
  QBrush ItemNormalFill{QColor::fromRgba(0xFF000000)};    // rows in the normal state
  QBrush ItemOverFill{QColor::fromRgba(0xFF000000)};      // the row under the mouse
  QBrush ItemDownFill{QColor::fromRgba(0xFF000000)};      // the pressed or selected row
  QBrush ItemCheckFill{QColor::fromRgba(0xFF000000)};     // the check mark
  QBrush ItemExtenderFill{QColor::fromRgba(0xFF000000)};  // the sub-level mark
  QImage ItemCheckImage;                                   // replaces the check mark when > 1 pixel
  QBrush ItemFontFill{QColor::fromRgba(0xFF000000)};      // text colour
  QFont ItemFont = DefaultFont();                          // text font
  int ItemHeight = 30;                                     // row height (at least 20 for the menu's own)
  int ItemWidth = 0;                                       // width of an own-parameter level without auto size
  bool ItemShowCheck = true;                               // shows the check area of each row
  bool ItemAutoSize = true;                                // own-parameter level: width from the widest caption
  bool MenuShowCheckbox = false;                           // kept for window definitions; not read
  bool MenuShowSelectedState = true;                       // kept for window definitions; not read
  bool MenuShowSelectedCheckMark = true;                   // a selected row shows the check mark too
  QImage BGImage;                                          // box picture, stretched, when > 1 pixel
  QMarginsF BGMargins{0, 0, 0, 0};                         // box inside its popup; added to the popup size
  QString BGResource;                                      // alternate background style; not drawn here
  int CustomHeight = 0;                                    // fixed popup height when not 0
  int CustomWidth = 0;                                     // fixed popup width when not 0
  QMarginsF MenuTextPadding{3, 1, 3, 1};                   // padding of the row text
  Qt::CursorShape ItemCursor = Qt::ArrowCursor;            // cursor over the rows

  static QFont DefaultFont();
};

// One item of a level. Owns its sub-level.
class TuiMenuItemEx {
 public:
  ~TuiMenuItemEx();
  TuiMenuItemEx(const TuiMenuItemEx&) = delete;
  TuiMenuItemEx& operator=(const TuiMenuItemEx&) = delete;

  QString Name;              // "Item%d" from the insertion unless changed; reported as the name
  QString Caption;           // untranslated row text
  QString Hint;              // for the owner
  QString Data;              // for the owner
  QString Description;       // for the owner
  QString ShortDescription;  // for the owner
  int ShortCut = 0;          // for the owner
  QImage Bitmap, BitmapOver, BitmapDown;  // for the owner
  TuiMenuItemExEvent OnClick;             // when set, a choice goes here instead of the menu
  // Not read by the menu: a disabled or hidden item is still shown and can be chosen.
  bool Enabled = true;
  bool RadioItem = false;
  bool Default = false;
  bool Visible = true;
  const QList<QPixmap>* SubItemImages = nullptr;  // for the owner
  bool Checked = false;   // shows the row's check mark
  int ImageIndex = -1;    // icon of the row in the level's Images
  double ItemHeight = 0;  // when not 0, the height of a row created for the item
  bool IsSelected = false;  // copied into the row's selected state at every show

  uint32_t ItemID() const { return FItemID; }
  TuiMenuItemsEx& SubItems() { return *FSubItems; }
  const TuiMenuItemsEx& SubItems() const { return *FSubItems; }
  TuiMenuItemsEx* GetOwner() const { return FOwner; }
  TuiMenuEx* GetRootMenu() const { return FRootMenu; }
  // Name, or the generic name of a collection item when Name is empty.
  QString DisplayName() const;

 private:
  friend class TuiMenuItemsEx;
  friend class TuiMenuBox;
  TuiMenuItemEx(TuiMenuItemsEx* owner, QString name, uint32_t id);

  TuiMenuItemsEx* FOwner;
  TuiMenuEx* FRootMenu;
  uint32_t FItemID;
  std::unique_ptr<TuiMenuItemsEx> FSubItems;
  std::shared_ptr<char> FAlive = std::make_shared<char>(0);  // lets a queued report see a deleted item
};

// One level of the tree: its items and, once shown, its popup window.
class TuiMenuItemsEx {
 public:
  ~TuiMenuItemsEx();
  TuiMenuItemsEx(const TuiMenuItemsEx&) = delete;
  TuiMenuItemsEx& operator=(const TuiMenuItemsEx&) = delete;

  // Appends an item with the smallest free name number. Answers nullptr, and
  // changes nothing, when the level already holds 99 items or the item's ID
  // would not fit a signed 32-bit value (profiles store it as one).
  TuiMenuItemEx* Add();
  // Removes the item at `index` with its sub-levels; false when there is none.
  bool Delete(int index);
  // Removes every item; numbering starts again at 1.
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  // The item at `index`, or nullptr outside 0 .. Count() - 1.
  TuiMenuItemEx* GetItem(int index) const;
  // Sets Checked of the item at `index`; nothing outside the range.
  void SetItemCheckedState(int index, bool state);

  const QList<QPixmap>* Images = nullptr;  // row icons, not owned
  bool UseParentParameter = true;  // false: this level's Parameters size its popup and paint its box
  TMenuParams& Parameters() { return FParams; }
  void SetParameters(const TMenuParams& params) { FParams = params; }

  // The selected row of this level's box, -1 for none; every selection in
  // the box writes it, and a build falls back to it when no row matches the
  // selection ID.
  int ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int index) { FItemIndex = index; }

  // The largest width given so far; also sets an existing popup's width.
  void ItemSetMaxSize(double width);
  double ItemMaxWidth() const { return FItemMaxWidth; }

  bool GetIsMenuOpened() const { return FOpen; }
  TuiMenuEx* GetRootMenuOfLevel() const { return FRootMenu; }
  // The item owning this level (nullptr for the top level).
  TuiMenuItemEx* OwnerItem() const { return FOwnerItem; }
  // The menu owning this level (nullptr below the top level).
  TuiMenuEx* OwnerMenu() const { return FOwnerMenu; }

  // Font and text colour of the rows while the menu has no custom parameters.
  QFont ItemDefaultFont;
  QBrush ItemDefaultFontFill;

  // Closes the open popups of this level's sub-levels, deepest first, then
  // this level's own; each firing the menu's OnMenuClose.
  void CloseAllPopups();
  // ItemIndex := -1 on this level and every level below, except `exclude`.
  void ResetItemIndexes(const TuiMenuItemsEx* exclude);

  // The popup window and box of this level; nullptr before the first show.
  QWidget* PopupWidget() const;
  TuiMenuBox* MenuBox() const;

 private:
  friend class TuiMenuEx;
  friend class TuiMenuItemEx;
  friend class TuiMenuBox;
  friend class TuiMenuPopup;
  // Where a level opens: the target's rectangle in global coordinates, the
  // frame of the window that shows the target and that window's screen.
  struct Target {
    QRect rect;
    QRect window;
    QScreen* screen = nullptr;
  };

  TuiMenuItemsEx(TuiMenuEx* ownerMenu, TuiMenuItemEx* ownerItem, TuiMenuEx* root);
  void BuildMenuBox(const Target& target);
  void ShowPopup(const Target& target, TvgPlacement placement);
  void ShowPopupInRect(const Target& target, TvgPlacement placement, const QRect& rect);
  void OpenAt(const Target& target, TvgPlacement placement, const QRect& placeRect, bool inRect);
  void PopupClosed();
  void DetachPopup();

  TuiMenuEx* FOwnerMenu;
  TuiMenuItemEx* FOwnerItem;
  TuiMenuEx* FRootMenu;
  std::vector<std::unique_ptr<TuiMenuItemEx>> FItems;
  TMenuParams FParams;
  int FItemIndex = -1;
  double FItemMaxWidth = 0;
  QPointer<TuiMenuPopup> FuiPopup;
  TuiMenuBox* FuiMenuBox = nullptr;  // child of the popup
  bool FOpen = false;
  double FPopupWidth = 100;
  double FPopupHeight = 0;
  std::shared_ptr<char> FAlive = std::make_shared<char>(0);
};

// The menu component.
class TuiMenuEx : public QObject {
 public:
  explicit TuiMenuEx(QObject* owner = nullptr);
  ~TuiMenuEx() override;

  TuiMenuItemsEx& Items() { return *FItems; }
  TMenuParams& Parameters() { return FParams; }
  void SetParameters(const TMenuParams& params) { FParams = params; }
  bool UseCustomMenuParams = false;

  // Kept for the owner; the menu pre-selects rows from the shared selection ID.
  uint32_t SelectionID = 0;
  TuiFunctionManager* FunctionManager = nullptr;  // not owned
  int FunctionItemIndex = 0;
  TuiMenuItemsExEvent OnItemsClick;
  TuiMenuCloseEvent OnMenuClose;

  bool IsMenuOpen() const;

  // Opens the top level beside `target` (a widget of the owner's window).
  // The overloads with an ID first make it the selection ID shared by all
  // menus; the one without keeps whatever the last show stored. Returns at
  // once; a choice arrives later through the events.
  void ShowMainMenu(QWidget* target, TvgPlacement placement);
  void ShowMainMenu(int64_t SelectedMenuID, QWidget* target, TvgPlacement placement);
  // As above, placed against `rect` (in the target's coordinates).
  void ShowMainMenu(int64_t SelectedMenuID, QWidget* target, TvgPlacement placement, const QRect& rect);

  // The item with `menuId`, found by its digit pairs of positions (1 .. 99
  // top level, then p * 100 + q, ...); nullptr when the tree holds none, so
  // a stored ID from an older profile shows no caption instead of failing.
  TuiMenuItemEx* ItemOfMenuId(int64_t menuId) const;

  // Closes every open popup of the menu, deepest first.
  void CloseMenu();

  // The selection ID shared by all menus of the process.
  static int64_t SharedSelectionID();

 private:
  friend class TuiMenuItemsEx;
  friend class TuiMenuBox;
  friend class TuiMenuPopup;

  enum class MouseKind { Move, Press, Release };
  // Every mouse event of an open popup arrives here (Qt sends all of them to
  // the topmost popup) and goes to the deepest open level under the pointer.
  void RouteMouse(MouseKind kind, Qt::MouseButton button, const QPoint& global);
  void RouteKey(int key, const QString& text);
  TuiMenuItemsEx* LevelAt(const QPoint& global) const;
  void LevelOpened(TuiMenuItemsEx* level);
  void LevelClosed(TuiMenuItemsEx* level);

  TMenuParams FParams;
  std::vector<TuiMenuItemsEx*> FOpenLevels;  // in opening order
  TuiMenuItemsEx* FHoverLevel = nullptr;
  TuiMenuItemsEx* FPressLevel = nullptr;
  TuiMenuItemsEx* FFocusLevel = nullptr;
  std::unique_ptr<TuiMenuItemsEx> FItems;  // last, so the levels go before the chain state
};

// Closes every open popup of the level's menu, deepest first.
void CloseMenuChain(TuiMenuItemsEx* level);
// Sets ItemIndex -1 on every level of the level's menu except `exclude`.
void ResetMenuChain(TuiMenuItemsEx* level, const TuiMenuItemsEx* exclude);
