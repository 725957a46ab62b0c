#pragma once
// The view of one open menu level: a frameless popup window holding the menu
// box, which lays out, paints and handles the rows of the level.
//
// The popup window receives every mouse and key event of the menu while it is
// the topmost popup and hands it to the menu, which passes it to the box of
// the level under the pointer (see TuiMenuEx::RouteMouse).

#include "toolkit/uiMenuEx.h"

#include <QFont>
#include <QRectF>
#include <QWidget>

#include <vector>

// One row of a box: what the level put there at its last build.
struct TuiMenuBoxItem {
  QString Text;           // the translated caption
  bool IsChecked = false;
  bool IsSelected = false;
  bool IsExtender = false;  // the item has a sub-level
  uint32_t ItemID = 0;
  double Height = 19;       // kept from the row's creation
  Qt::CursorShape Cursor = Qt::ArrowCursor;
  int ImageIndex = -1;
  QRectF Rect;              // laid out, box coordinates
};

class TuiMenuBox : public QWidget {
 public:
  explicit TuiMenuBox(QWidget* parent);

  void SetMenuItems(TuiMenuItemsEx* level) { FuiMenuItemsEx = level; }
  TuiMenuItemsEx* MenuItems() const { return FuiMenuItemsEx; }

  int Count() const { return static_cast<int>(FRows.size()); }
  // The row at `index`, or nullptr outside the rows.
  TuiMenuBoxItem* ItemByIndex(int index);
  const TuiMenuBoxItem* ItemByIndex(int index) const;
  // The index of the row containing `pos` (box coordinates), or -1.
  int ItemByPoint(const QPointF& pos) const;
  QRectF RowRect(int index) const;

  // The selected row; every selection goes through here. A row with a
  // sub-level never stays selected. Writes the level's ItemIndex.
  int ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int value);
  // Selects or deselects one row; selecting makes it the only selected row.
  void SetRowSelected(int index, bool value);

  int HoverIndex() const { return FMoveOverItem; }
  int PressedIndex() const { return FMouseDownItem; }
  bool ShowSelectedState = true;

  // Width of `text` on one line in `font`.
  static double TextWidth(const QFont& font, const QString& text);

  // Row management for the level's build.
  TuiMenuBoxItem& AppendRow();
  void RemoveLastRow();
  void LayoutRows();

  // Input, in box coordinates (the popup window routes it here).
  void MouseDown(Qt::MouseButton button, const QPointF& pos);
  void MouseMove(const QPointF& pos);
  void MouseUp(Qt::MouseButton button, const QPointF& pos);
  void MouseLeave();
  // Forgets the hover and the pressed row (the level closed).
  void ResetPointerState();
  // Moves the selection; answers whether the key was consumed.
  bool KeyDown(int key, const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool CustomParams() const;
  const TMenuParams& BoxParams() const;  // the level's own or the menu's
  const TMenuParams& RowParams() const;  // always the menu's
  void PaintRow(class QPainter& p, int index, const QBrush& stateFill) const;

  std::vector<TuiMenuBoxItem> FRows;
  TuiMenuItemsEx* FuiMenuItemsEx = nullptr;
  int FItemIndex = -1;
  int FMoveOverItem = -1;
  int FMouseDownItem = -1;
  bool FMouseSelecting = false;
  int FColumns = 1;
};

// The frameless popup window of one level.
class TuiMenuPopup : public QWidget {
 public:
  explicit TuiMenuPopup(TuiMenuItemsEx* level);
  // Cuts the tie to the level: later events and the closing go nowhere.
  void Detach() { FLevel = nullptr; }
  TuiMenuItemsEx* Level() const { return FLevel; }
  TuiMenuBox* Box() const { return FBox; }
  void SetBoxMargins(const QMargins& margins);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  TuiMenuItemsEx* FLevel;
  TuiMenuBox* FBox;
  QMargins FMargins;
};

// The colours of the menus' own dark look, used where no custom parameters
// (or a brush with no style) say otherwise; they follow the skin.
namespace menustyle {
inline const QColor kBackground = QColor(0x24, 0x26, 0x2B);
inline const QColor kFrame = QColor(0x4A, 0x4D, 0x55);
inline const QColor kText = QColor(0xE8, 0xE9, 0xEC);
inline const QColor kAccent = QColor(0xE3, 0x26, 0x3A);
inline const QColor kAccentHot = QColor(0xFF, 0x3B, 0x4F);
}  // namespace menustyle
