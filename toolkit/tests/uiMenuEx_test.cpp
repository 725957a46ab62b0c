#include "toolkit/uiMenuEx.h"

#include "device/uiFunctionManager.h"
#include "toolkit/uiLanguage.h"
#include "toolkit/uiMenuBox.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// One application for the whole test program, on the offscreen platform,
// with every user folder pointed at a temporary one.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<QTemporaryDir>();
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "MOUSE_RUNTIME_DIR"})
      qputenv(var, dir_->path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char arg0[] = "uiMenuEx_test";
    static char* argv[] = {arg0, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    app_.reset();
    dir_.reset();
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QApplication> app_;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A menu, the window that opens it and a record of what the menu reported.
class uiMenuEx : public ::testing::Test {
 protected:
  struct Report {
    QString name;
    uint32_t id;
    int openPopups;  // popups still open when the handler ran
  };

  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    window_->setGeometry(100, 100, 300, 200);
    button_ = new QPushButton(QStringLiteral("Button"), window_.get());
    button_->setGeometry(20, 20, 80, 30);
    window_->show();
    menu_ = std::make_unique<TuiMenuEx>(window_.get());
    menu_->OnItemsClick = [this](TuiMenuItemEx*, const QString& name, uint32_t id, const void*, int) {
      reports_.push_back({name, id, QApplication::activePopupWidget() ? 1 : 0});
    };
    menu_->OnMenuClose = [this](TuiMenuItemsEx* level) { closed_.push_back(level); };
  }

  void TearDown() override {
    menu_.reset();
    window_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // Top level: "Click", "Basic" (three sub-items), "Media" (two), "Disable".
  void FillTree() {
    const char* top[] = {"Click", "Basic", "Media", "Disable"};
    for (const char* caption : top) menu_->Items().Add()->Caption = QString::fromLatin1(caption);
    for (const char* caption : {"Cut", "Copy", "Paste"})
      menu_->Items().GetItem(1)->SubItems().Add()->Caption = QString::fromLatin1(caption);
    for (const char* caption : {"Play/Pause", "Stop"})
      menu_->Items().GetItem(2)->SubItems().Add()->Caption = QString::fromLatin1(caption);
  }

  static TuiMenuItemsEx& Sub(TuiMenuItemsEx& level, int index) { return level.GetItem(index)->SubItems(); }

  // The centre of row `row` of `level`, in the coordinates of its popup window.
  static QPoint RowPoint(TuiMenuItemsEx& level, int row) {
    TuiMenuBox* box = level.MenuBox();
    return box->mapTo(level.PopupWidget(), box->RowRect(row).center().toPoint());
  }

  // Input through the window system, as a user's pointer would arrive: sent to
  // the window of `level`, whichever popup is topmost.
  static void MoveTo(TuiMenuItemsEx& level, QPoint local) {
    QTest::mouseMove(level.PopupWidget()->windowHandle(), local);
  }
  static void Press(TuiMenuItemsEx& level, QPoint local, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mousePress(level.PopupWidget()->windowHandle(), b, {}, local);
  }
  static void Release(TuiMenuItemsEx& level, QPoint local, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mouseRelease(level.PopupWidget()->windowHandle(), b, {}, local);
  }

  // The window and the two open levels, composed as on screen, saved in the
  // temporary folder for a look by eye.
  bool SaveScreenshot(TuiMenuItemsEx& sub, const char* name) {
    const QRect a = menu_->Items().PopupWidget()->geometry();
    const QRect b = sub.PopupWidget()->geometry();
    const QRect w = window_->geometry();
    const QRect all = a.united(b).united(w).adjusted(-10, -10, 10, 10);
    QImage shot(all.size(), QImage::Format_ARGB32);
    shot.fill(QColor(0x15, 0x16, 0x19));
    {
      QPainter painter(&shot);
      painter.drawPixmap(w.topLeft() - all.topLeft(), window_->grab());
      painter.drawPixmap(a.topLeft() - all.topLeft(), menu_->Items().PopupWidget()->grab());
      painter.drawPixmap(b.topLeft() - all.topLeft(), sub.PopupWidget()->grab());
    }
    return shot.save(QDir::temp().filePath(QString::fromLatin1(name)));
  }

  void Open(int64_t selected = 0) { menu_->ShowMainMenu(selected, button_, vgPlacementRightCenter); }
  // Runs the queued report, if any.
  void Deliver() { QCoreApplication::sendPostedEvents(menu_.get(), QEvent::MetaCall); }

  std::unique_ptr<QWidget> window_;
  QPushButton* button_ = nullptr;
  std::unique_ptr<TuiMenuEx> menu_;
  std::vector<Report> reports_;
  std::vector<TuiMenuItemsEx*> closed_;
};

// ---------------------------------------------------------------------------
// Names and IDs

TEST_F(uiMenuEx, ItemsTakeTheSmallestFreeNumberAsNameAndId) {
  TuiMenuItemsEx& top = menu_->Items();
  for (int i = 1; i <= 3; ++i) {
    TuiMenuItemEx* item = top.Add();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Name, QStringLiteral("Item%1").arg(i));
    EXPECT_EQ(item->ItemID(), uint32_t(i));
  }
  ASSERT_TRUE(top.Delete(1));
  TuiMenuItemEx* again = top.Add();
  EXPECT_EQ(again->Name, "Item2");
  EXPECT_EQ(again->ItemID(), 2u);

  // A renamed item keeps its ID and frees its old name.
  top.GetItem(0)->Name = "Open";
  TuiMenuItemEx* reused = top.Add();
  EXPECT_EQ(reused->Name, "Item1");
  EXPECT_EQ(reused->ItemID(), 1u);
  EXPECT_EQ(top.GetItem(0)->ItemID(), 1u);

  // Names compare without regard to case.
  top.GetItem(0)->Name = "item4";
  EXPECT_EQ(top.Add()->Name, "Item5");

  top.Clear();
  EXPECT_EQ(top.Add()->ItemID(), 1u);  // numbering starts again
  EXPECT_EQ(top.GetItem(5), nullptr);
  EXPECT_EQ(top.GetItem(-1), nullptr);
}

TEST_F(uiMenuEx, SubItemIdsAreDigitPairsOfPositions) {
  TuiMenuItemsEx& top = menu_->Items();
  for (int i = 0; i < 11; ++i) top.Add();
  TuiMenuItemsEx& sub = Sub(top, 10);
  for (int i = 0; i < 3; ++i) sub.Add();
  EXPECT_EQ(sub.GetItem(2)->ItemID(), 1103u);
  TuiMenuItemsEx& subsub = Sub(sub, 2);
  subsub.Add();
  EXPECT_EQ(subsub.Add()->ItemID(), 110302u);
  EXPECT_EQ(subsub.GetRootMenuOfLevel(), menu_.get());
  EXPECT_EQ(subsub.OwnerItem(), sub.GetItem(2));

  struct Case {
    int64_t id;
    const TuiMenuItemEx* expected;
  };
  const Case cases[] = {
      {11, top.GetItem(10)},        {1103, sub.GetItem(2)}, {110302, subsub.GetItem(1)},
      {0, nullptr},                 {-1, nullptr},          {1199, nullptr},
      {12, nullptr},                {1100, nullptr},        {int64_t(1) << 32, nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(menu_->ItemOfMenuId(c.id), c.expected) << c.id;
}

TEST_F(uiMenuEx, HundredthItemAndIdsPastSigned32BitsAreRefused) {
  TuiMenuItemsEx& top = menu_->Items();
  for (int i = 0; i < 99; ++i) ASSERT_NE(top.Add(), nullptr);
  EXPECT_EQ(top.Add(), nullptr);
  EXPECT_EQ(top.Count(), 99);
  top.Clear();

  // Walk down to the item with ID 21474836: its 47th sub-item has the
  // largest ID a signed 32-bit MenuId holds, the 48th would not fit.
  TuiMenuItemsEx* level = &top;
  for (int position : {21, 47, 48, 36}) {
    TuiMenuItemEx* item = nullptr;
    for (int i = 0; i < position; ++i) item = level->Add();
    ASSERT_NE(item, nullptr);
    level = &item->SubItems();
  }
  EXPECT_EQ(level->OwnerItem()->ItemID(), 21474836u);
  TuiMenuItemEx* last = nullptr;
  for (int i = 0; i < 47; ++i) last = level->Add();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->ItemID(), uint32_t(INT32_MAX));
  EXPECT_EQ(level->Add(), nullptr);
  EXPECT_EQ(level->Count(), 47);
  EXPECT_EQ(last->SubItems().Add(), nullptr);
  EXPECT_EQ(last->SubItems().Count(), 0);
}

// ---------------------------------------------------------------------------
// Building and sizes

TEST_F(uiMenuEx, PopupHeightFollowsRowHeightsAndMargins) {
  struct Case {
    bool custom;
    int itemHeight;
    int expectedRow;
    int expectedPopup;
  };
  const Case cases[] = {
      {true, 25, 25, 6 * 25 + 8},
      {true, 10, 20, 6 * 20 + 8},  // the menu's own rows are at least 20 high
      {false, 25, 40, 6 * 40},     // the default look: 40, no margins
  };
  for (const Case& c : cases) {
    TuiMenuEx menu(window_.get());
    menu.UseCustomMenuParams = c.custom;
    menu.Parameters().ItemHeight = c.itemHeight;
    menu.Parameters().BGMargins = QMarginsF(4, 4, 4, 4);
    for (int i = 0; i < 6; ++i) menu.Items().Add()->Caption = QStringLiteral("Row %1").arg(i);
    menu.ShowMainMenu(button_, vgPlacementRightCenter);
    ASSERT_TRUE(menu.IsMenuOpen());
    EXPECT_EQ(menu.Items().MenuBox()->RowRect(5).height(), c.expectedRow);
    EXPECT_EQ(menu.Items().PopupWidget()->height(), c.expectedPopup);
    menu.CloseMenu();
  }
}

TEST_F(uiMenuEx, ALevelWithItsOwnParametersSizesItsPopupFromThem) {
  menu_->UseCustomMenuParams = true;
  menu_->Parameters().BGMargins = QMarginsF(4, 4, 4, 4);
  menu_->Items().Add()->Caption = "Basic";
  TuiMenuItemsEx& sub = Sub(menu_->Items(), 0);
  sub.UseParentParameter = false;
  sub.Parameters().ItemHeight = 12;  // no lower bound for a level's own height
  sub.Parameters().CustomWidth = 150;
  sub.Parameters().BGMargins = QMarginsF(2, 2, 2, 2);
  for (int i = 0; i < 3; ++i) sub.Add()->Caption = "Row";
  Open();
  MoveTo(menu_->Items(), RowPoint(menu_->Items(), 0));
  ASSERT_TRUE(sub.GetIsMenuOpened());
  EXPECT_EQ(sub.MenuBox()->RowRect(0).height(), 12);
  // Rows, 5, and the menu's (not the level's) top and bottom margins.
  EXPECT_EQ(sub.PopupWidget()->height(), 3 * 12 + 5 + 8);
  EXPECT_EQ(sub.PopupWidget()->width(), 150);
  // The box sits inside the level's own margins.
  EXPECT_EQ(sub.MenuBox()->geometry(), QRect(2, 2, 146, 3 * 12 + 5 + 8 - 4));
}

TEST_F(uiMenuEx, WidthComesFromTheCaptionWithTheMostCharacters) {
  menu_->UseCustomMenuParams = true;
  menu_->Parameters().BGMargins = QMarginsF(4, 4, 4, 4);
  menu_->Items().Add()->Caption = "A";
  menu_->Items().Add()->Caption = "";
  Open();
  EXPECT_EQ(menu_->Items().PopupWidget()->width(), 100);  // no caption of two characters
  menu_->CloseMenu();

  menu_->Items().Add()->Caption = "Middle Button";
  menu_->Items().Add()->Caption = "Right Click!!";  // as long: the first one wins
  Open();
  const double text = TuiMenuBox::TextWidth(menu_->Parameters().ItemFont, "Middle Button");
  EXPECT_EQ(menu_->Items().PopupWidget()->width(), int(text + 100 + 8));
  const int openWidth = menu_->Items().PopupWidget()->width();
  // Built again while open: the width stays.
  menu_->Items().GetItem(0)->Caption = "A much longer caption than before";
  Open();
  EXPECT_EQ(menu_->Items().PopupWidget()->width(), openWidth);
  menu_->CloseMenu();
  menu_->Parameters().CustomWidth = 333;
  Open();
  EXPECT_EQ(menu_->Items().PopupWidget()->width(), 333);
}

TEST_F(uiMenuEx, RowsFollowTheItemsAndCaptionsAreTranslatedAtEveryShow) {
  for (int i = 0; i < 3; ++i) menu_->Items().Add()->Caption = "Copy";
  InstallTranslationTable({"Copy=Kopieren"});
  Open();
  TuiMenuBox* box = menu_->Items().MenuBox();
  EXPECT_EQ(box->Count(), 3);
  EXPECT_EQ(box->ItemByIndex(0)->Text, "Kopieren");
  menu_->CloseMenu();

  InstallTranslationTable({"Copy=Copier"});
  menu_->Items().Clear();
  for (int i = 0; i < 5; ++i) menu_->Items().Add()->Caption = "Copy";
  Open();
  EXPECT_EQ(box->Count(), 5);
  EXPECT_EQ(box->ItemByIndex(4)->Text, "Copier");
  menu_->CloseMenu();

  menu_->Items().Delete(4);
  menu_->Items().Delete(3);
  RemoveTranslationTable();
  Open();
  EXPECT_EQ(box->Count(), 3);
  EXPECT_EQ(box->ItemByIndex(0)->Text, "Copy");
  EXPECT_EQ(menu_->Items().PopupWidget()->height(), 3 * 40);
}

TEST_F(uiMenuEx, SelectionIdIsSharedByAllMenusAndResetByANewMenu) {
  FillTree();
  EXPECT_FALSE(menu_->IsMenuOpen());
  Open(4);
  EXPECT_EQ(menu_->Items().MenuBox()->ItemIndex(), 3);
  menu_->CloseMenu();

  TuiMenuEx other(window_.get());  // a new menu resets the shared ID
  EXPECT_EQ(TuiMenuEx::SharedSelectionID(), 0);
  for (int i = 0; i < 3; ++i) other.Items().Add();
  Open(2);
  menu_->CloseMenu();
  other.ShowMainMenu(button_, vgPlacementRightCenter);  // no ID: the last one stored
  EXPECT_EQ(other.Items().MenuBox()->ItemIndex(), 1);
  other.CloseMenu();

  // An ID on a sub-level selects there once that level opens; -1 and 0 match nothing.
  for (int64_t id : {int64_t(-1), int64_t(0), int64_t(302)}) {
    QTest::mouseMove(window_->windowHandle(), QPoint(1, 1));  // the same position twice is no move
    Open(id);
    EXPECT_EQ(menu_->Items().MenuBox()->ItemIndex(), -1) << id;
    MoveTo(menu_->Items(), RowPoint(menu_->Items(), 2));
    ASSERT_TRUE(Sub(menu_->Items(), 2).GetIsMenuOpened());
    EXPECT_EQ(Sub(menu_->Items(), 2).MenuBox()->ItemIndex(), id == 302 ? 1 : -1) << id;
    menu_->CloseMenu();
  }
}

// ---------------------------------------------------------------------------
// Mouse

TEST_F(uiMenuEx, ChoiceClosesEveryLevelDeepestFirstThenReportsQueued) {
  FillTree();
  Open();
  TuiMenuItemsEx& top = menu_->Items();
  MoveTo(top, RowPoint(top, 1));
  TuiMenuItemsEx& basic = Sub(top, 1);
  ASSERT_TRUE(basic.GetIsMenuOpened());
  std::vector<size_t> reportsAtClose;
  menu_->OnMenuClose = [&](TuiMenuItemsEx* level) {
    closed_.push_back(level);
    reportsAtClose.push_back(reports_.size());
  };
  MoveTo(basic, RowPoint(basic, 1));
  Press(basic, RowPoint(basic, 1));
  Release(basic, RowPoint(basic, 1));
  Deliver();

  EXPECT_FALSE(menu_->IsMenuOpen());
  EXPECT_FALSE(basic.GetIsMenuOpened());
  EXPECT_EQ(closed_, (std::vector<TuiMenuItemsEx*>{&basic, &top}));
  EXPECT_EQ(reportsAtClose, (std::vector<size_t>{0, 0}));
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].name, "Item2");
  EXPECT_EQ(reports_[0].id, 202u);
  EXPECT_EQ(reports_[0].openPopups, 0);
  // The chosen level keeps its row, every other level is reset.
  EXPECT_EQ(basic.ItemIndex(), 1);
  EXPECT_EQ(top.ItemIndex(), -1);
}

TEST_F(uiMenuEx, OnlyALeftPressAndReleaseOnTheSameRowChooses) {
  FillTree();
  TuiMenuItemsEx& top = menu_->Items();
  struct Case {
    const char* what;
    int pressRow;  // -1: on the margin below the rows
    int releaseRow;
    Qt::MouseButton button;
    bool staysOpen;
    bool reports;
  };
  const Case cases[] = {
      {"left on one row", 0, 0, Qt::LeftButton, false, true},
      {"left moved to another row", 0, 3, Qt::LeftButton, false, false},
      {"right button", 3, 3, Qt::RightButton, false, false},
      {"release on the margin", 0, -1, Qt::LeftButton, true, false},
      {"press and release on the margin", -1, -1, Qt::LeftButton, true, false},
  };
  menu_->UseCustomMenuParams = true;
  menu_->Parameters().BGMargins = QMarginsF(4, 4, 4, 4);
  for (const Case& c : cases) {
    reports_.clear();
    Open();
    const QPoint margin(top.PopupWidget()->width() / 2, top.PopupWidget()->height() - 2);
    const QPoint press = c.pressRow >= 0 ? RowPoint(top, c.pressRow) : margin;
    const QPoint release = c.releaseRow >= 0 ? RowPoint(top, c.releaseRow) : margin;
    MoveTo(top, press);
    Press(top, press, c.button);
    MoveTo(top, release);
    Release(top, release, c.button);
    Deliver();
    EXPECT_EQ(menu_->IsMenuOpen(), c.staysOpen) << c.what;
    EXPECT_EQ(reports_.size(), c.reports ? 1u : 0u) << c.what;
    if (c.reports && !reports_.empty()) {
      EXPECT_EQ(reports_[0].id, 1u);
    }
    menu_->CloseMenu();
  }
}

TEST_F(uiMenuEx, HoverOpensAndSwitchesSubLevelsAtOnce) {
  FillTree();
  Open();
  TuiMenuItemsEx& top = menu_->Items();
  TuiMenuItemsEx& basic = Sub(top, 1);
  TuiMenuItemsEx& media = Sub(top, 2);

  MoveTo(top, RowPoint(top, 1));
  ASSERT_TRUE(basic.GetIsMenuOpened());
  EXPECT_EQ(QApplication::activePopupWidget(), basic.PopupWidget());
  // The sub-level opens beside its row.
  EXPECT_EQ(basic.PopupWidget()->x(), top.PopupWidget()->geometry().right() + 1);

  // Into the sub-level, through the window of the top level: Qt hands the
  // event to the topmost popup, which passes it to the level under the pointer.
  MoveTo(basic, RowPoint(basic, 2));
  EXPECT_EQ(basic.MenuBox()->HoverIndex(), 2);
  EXPECT_TRUE(basic.GetIsMenuOpened());

  // Onto another row with a sub-level: the first closes, the second opens.
  closed_.clear();
  // Back onto the top level, through its own window while the sub-level is
  // the topmost popup: Qt hands the event to the topmost popup, which passes
  // it to the level under the pointer.
  MoveTo(top, RowPoint(top, 2));
  EXPECT_FALSE(basic.GetIsMenuOpened());
  EXPECT_TRUE(media.GetIsMenuOpened());
  EXPECT_EQ(closed_, (std::vector<TuiMenuItemsEx*>{&basic}));
  EXPECT_EQ(basic.MenuBox()->HoverIndex(), -1);  // left when the pointer went

  // Onto a plain row: every sub-level closes.
  MoveTo(top, RowPoint(top, 3));
  EXPECT_FALSE(media.GetIsMenuOpened());
  EXPECT_TRUE(top.GetIsMenuOpened());
  EXPECT_EQ(top.MenuBox()->HoverIndex(), 3);
}

TEST_F(uiMenuEx, PressOutsideEveryLevelClosesWithoutReport) {
  FillTree();
  Open();
  MoveTo(menu_->Items(), RowPoint(menu_->Items(), 1));
  ASSERT_TRUE(Sub(menu_->Items(), 1).GetIsMenuOpened());
  const QPoint outside(-50, -50);
  Press(Sub(menu_->Items(), 1), outside);
  Deliver();
  EXPECT_FALSE(menu_->IsMenuOpen());
  EXPECT_EQ(closed_.size(), 2u);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(uiMenuEx, HandlerMayOpenADialogAndRebuildTheLevelItCameFrom) {
  FillTree();
  TuiMenuItemsEx& basic = Sub(menu_->Items(), 1);
  bool dialogClicked = false;
  int buffer = 0;
  TuiFunctionManager functions;
  const int payload = 0x1234;
  functions.Items().Add().SetBuffer(&payload, sizeof payload);
  menu_->FunctionManager = &functions;
  menu_->OnItemsClick = [&](TuiMenuItemEx* sender, const QString&, uint32_t id, const void* data, int size) {
    EXPECT_EQ(id, 203u);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    ASSERT_EQ(size, int(sizeof payload));
    std::memcpy(&buffer, data, sizeof buffer);
    // Rebuild the level the choice came from, as the macro sub-menu does.
    EXPECT_NE(sender, nullptr);
    basic.Clear();
    basic.Add()->Caption = "Macro Manager";
    // A modal dialog takes the pointer: a click through the window system
    // reaches its button.
    QDialog dialog(window_.get());
    auto* ok = new QPushButton("OK", &dialog);
    ok->setGeometry(10, 10, 60, 24);
    QObject::connect(ok, &QPushButton::clicked, &dialog, [&] {
      dialogClicked = true;
      dialog.accept();
    });
    QTimer::singleShot(0, &dialog, [&] {
      QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, QPoint(30, 20));
    });
    dialog.exec();
  };
  Open();
  MoveTo(menu_->Items(), RowPoint(menu_->Items(), 1));
  MoveTo(basic, RowPoint(basic, 2));
  Press(basic, RowPoint(basic, 2));
  Release(basic, RowPoint(basic, 2));
  Deliver();
  EXPECT_TRUE(dialogClicked);
  EXPECT_EQ(buffer, payload);
  EXPECT_EQ(basic.Count(), 1);
  // The rebuilt level shows its new rows next time.
  Open();
  MoveTo(menu_->Items(), RowPoint(menu_->Items(), 1));
  ASSERT_TRUE(basic.GetIsMenuOpened());
  EXPECT_EQ(basic.MenuBox()->Count(), 1);
}

TEST_F(uiMenuEx, MissingFunctionItemReportsNothing) {
  FillTree();
  TuiFunctionManager functions;  // empty: index 0 does not exist
  menu_->FunctionManager = &functions;
  Open();
  Press(menu_->Items(), RowPoint(menu_->Items(), 0));
  Release(menu_->Items(), RowPoint(menu_->Items(), 0));
  Deliver();
  EXPECT_FALSE(menu_->IsMenuOpen());
  EXPECT_TRUE(reports_.empty());
}

TEST_F(uiMenuEx, ItemOnClickTakesThePlaceOfTheMenuEvent) {
  FillTree();
  int clicks = 0;
  menu_->Items().GetItem(3)->OnClick = [&](TuiMenuItemEx* sender, const void* data, int size) {
    EXPECT_EQ(sender, menu_->Items().GetItem(3));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0);
    ++clicks;
  };
  Open();
  Press(menu_->Items(), RowPoint(menu_->Items(), 3));
  Release(menu_->Items(), RowPoint(menu_->Items(), 3));
  Deliver();
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(reports_.empty());
}

// The box's own release handling (called directly here, since the window
// system's test input also runs posted events) only queues the report.
TEST_F(uiMenuEx, ReportIsQueuedAndDroppedWithTheMenu) {
  FillTree();
  for (bool destroy : {false, true}) {
    reports_.clear();
    Open();
    TuiMenuBox* box = menu_->Items().MenuBox();
    const QPointF row = box->RowRect(0).center();
    box->MouseDown(Qt::LeftButton, row);
    box->MouseUp(Qt::LeftButton, row);
    EXPECT_FALSE(menu_->IsMenuOpen());
    EXPECT_TRUE(reports_.empty());
    if (destroy) {
      menu_.reset();
      QCoreApplication::sendPostedEvents();
      EXPECT_TRUE(reports_.empty());
    } else {
      Deliver();
      EXPECT_EQ(reports_.size(), 1u);
    }
  }
}

// ---------------------------------------------------------------------------
// Keyboard

TEST_F(uiMenuEx, KeysOnlyMoveTheSelection) {
  const char* captions[] = {"Click", "Basic", "Delete", "disable", "End"};
  for (const char* c : captions) menu_->Items().Add()->Caption = QString::fromLatin1(c);
  Sub(menu_->Items(), 1).Add()->Caption = "Cut";
  Open();
  QWidget* popup = menu_->Items().PopupWidget();
  TuiMenuBox* box = menu_->Items().MenuBox();
  struct Step {
    int key;
    const char* text;
    int expected;
  };
  const Step steps[] = {
      {Qt::Key_Up, "", -1},     // nothing selected: Up does nothing
      {Qt::Key_Down, "", 0},    // Down selects the first row
      {Qt::Key_Down, "", -1},   // a row with a sub-level never stays selected
      {Qt::Key_Down, "", 0},    // so the next Down starts again at the top
      {Qt::Key_End, "", 4},     {Qt::Key_Down, "", 4},  // the last row keeps it
      {Qt::Key_Home, "", 0},    {Qt::Key_Right, "", -1},
      {0, "d", 2},              {0, "d", 2},  // the first row starting with d or D
      {0, "x", 2},              {Qt::Key_Left, "", -1},
  };
  for (const Step& s : steps) {
    if (s.key != 0) {
      QTest::keyClick(popup, Qt::Key(s.key));
    } else {
      QTest::keyClicks(popup, QString::fromLatin1(s.text));
    }
    EXPECT_EQ(box->ItemIndex(), s.expected) << s.key << s.text;
  }
  EXPECT_EQ(menu_->Items().ItemIndex(), box->ItemIndex());
  QTest::keyClick(popup, Qt::Key_Return);  // Enter chooses nothing
  Deliver();
  EXPECT_TRUE(menu_->IsMenuOpen());
  EXPECT_FALSE(Sub(menu_->Items(), 1).GetIsMenuOpened());  // no key opens a sub-level
  EXPECT_TRUE(reports_.empty());
  QTest::keyClick(popup, Qt::Key_Escape);
  EXPECT_FALSE(menu_->IsMenuOpen());
  EXPECT_EQ(closed_.size(), 1u);
}

// ---------------------------------------------------------------------------
// Placement

TEST_F(uiMenuEx, OpensRightOfTheTargetOrLeftOfItsWindowAtTheScreenEdge) {
  FillTree();
  const QRect screen = button_->screen()->geometry();
  Open();
  QWidget* popup = menu_->Items().PopupWidget();
  const QRect target(button_->mapToGlobal(QPoint(0, 0)), button_->size());
  EXPECT_EQ(popup->x(), target.right() + 1);
  EXPECT_EQ(popup->geometry().center().y(), target.center().y());
  menu_->CloseMenu();

  // Exactly touching the right edge already flips (>=).
  const int width = popup->width();
  window_->move(screen.right() + 1 - width - target.width() - 20, 100);
  QRect moved(button_->mapToGlobal(QPoint(0, 0)), button_->size());
  window_->move(window_->pos() + QPoint(screen.x() + screen.width() - (moved.x() + moved.width() + width), 0));
  moved = QRect(button_->mapToGlobal(QPoint(0, 0)), button_->size());
  ASSERT_EQ(moved.x() + moved.width() + width, screen.x() + screen.width());
  Open();
  EXPECT_EQ(popup->x(), window_->frameGeometry().x() - width);
  menu_->CloseMenu();

  // A window at the left edge: the flipped popup would leave the screen and
  // is kept inside it.
  window_->setGeometry(screen.x(), 100, screen.width() - 20, 200);
  button_->move(window_->width() - 100, 20);
  Open();
  EXPECT_EQ(popup->x(), screen.x());
  EXPECT_TRUE(button_->screen()->availableGeometry().contains(popup->geometry()));
  menu_->CloseMenu();

  // A menu taller than the screen is cut to it.
  for (int i = 0; i < 40; ++i) menu_->Items().Add()->Caption = "Many";
  Open();
  EXPECT_EQ(popup->height(), button_->screen()->availableGeometry().height());
}

// ---------------------------------------------------------------------------
// Look

TEST_F(uiMenuEx, ScreenshotOfAnOpenTwoLevelMenu) {
  menu_->UseCustomMenuParams = true;
  TMenuParams& p = menu_->Parameters();
  p.ItemHeight = 25;
  p.BGMargins = QMarginsF(4, 4, 4, 4);
  p.BGFill = QBrush(menustyle::kBackground);
  p.ItemNormalFill = QBrush(Qt::NoBrush);
  p.ItemOverFill = QBrush(QColor(0xE3, 0x26, 0x3A, 110));
  p.ItemDownFill = QBrush(menustyle::kAccent);
  p.ItemFontFill = QBrush(menustyle::kText);
  p.ItemCheckFill = QBrush(menustyle::kAccentHot);
  p.ItemExtenderFill = QBrush(menustyle::kText);
  p.ItemFont = QFont("DejaVu Sans");
  p.ItemFont.setPixelSize(13);
  const char* top[] = {"Click", "Right Click", "Middle Button", "Forward", "Backward", "Single Key",
                       "Combo Key", "Basic", "Advanced", "Media", "Fire Key...", "Disable"};
  for (const char* c : top) menu_->Items().Add()->Caption = QString::fromLatin1(c);
  for (const char* c : {"Cut", "Copy", "Paste", "Select All", "Find", "New", "Print", "Save"})
    Sub(menu_->Items(), 7).Add()->Caption = QString::fromLatin1(c);
  for (const char* c : {"Switch Window", "Close Window"}) Sub(menu_->Items(), 8).Add()->Caption = QString::fromLatin1(c);
  Sub(menu_->Items(), 9).Add()->Caption = "Play/Pause";
  menu_->Items().GetItem(0)->Checked = true;
  Open(802);
  TuiMenuItemsEx& basic = Sub(menu_->Items(), 7);
  MoveTo(menu_->Items(), RowPoint(menu_->Items(), 7));
  ASSERT_TRUE(basic.GetIsMenuOpened());
  MoveTo(basic, RowPoint(basic, 3));

  ASSERT_TRUE(SaveScreenshot(basic, "uiMenuEx-two-level.png"));
  // The rows are painted: the sub-level's selected row carries the accent.
  const QImage sub = basic.PopupWidget()->grab().toImage();
  const QPoint selected = RowPoint(basic, 1) + QPoint(-20, 0);
  EXPECT_EQ(sub.pixelColor(selected).red(), menustyle::kAccent.red());
}

// Every level shows a closed frame: the rows, whatever their fill, leave
// its top and bottom edge as visible as its sides.
TEST_F(uiMenuEx, EveryLevelHasItsFourEdges) {
  FillTree();
  struct Look {
    const char* name;
    bool custom;
  };
  for (const Look look : {Look{"custom, filled rows", true}, Look{"default", false}}) {
    SCOPED_TRACE(look.name);
    menu_->UseCustomMenuParams = look.custom;
    TMenuParams& p = menu_->Parameters();
    p.ItemHeight = 25;
    p.BGMargins = QMarginsF(1, 1, 1, 1);
    p.BGFill = QBrush(QColor(0x16, 0x18, 0x1c));
    p.ItemNormalFill = QBrush(QColor(0x16, 0x18, 0x1c));
    p.ItemOverFill = QBrush(QColor(0xe3, 0x26, 0x3a));
    p.ItemDownFill = QBrush(QColor(0x7a, 0x14, 0x20));
    p.ItemFontFill = QBrush(QColor(0xf0, 0xf2, 0xf5));
    // The first row selected and the last under the pointer: both state
    // fills touch an edge.
    Open(1);
    TuiMenuItemsEx& top = menu_->Items();
    TuiMenuItemsEx& basic = Sub(top, 1);
    MoveTo(top, RowPoint(top, 1));
    ASSERT_TRUE(basic.GetIsMenuOpened());
    MoveTo(basic, RowPoint(basic, 2));
    for (TuiMenuItemsEx* level : {&top, &basic}) {
      const QImage shot = level->PopupWidget()->grab().toImage();
      const QRect box = level->MenuBox()->geometry();
      const int midX = box.center().x(), midY = box.center().y();
      const QColor side = shot.pixelColor(box.left(), midY);
      EXPECT_EQ(shot.pixelColor(box.right(), midY), side);
      EXPECT_EQ(shot.pixelColor(midX, box.top()), side) << "no top edge";
      EXPECT_EQ(shot.pixelColor(midX, box.bottom()), side) << "no bottom edge";
      EXPECT_NE(shot.pixelColor(midX, box.top() + 2), side);
      EXPECT_NE(shot.pixelColor(midX, box.bottom() - 2), side);
    }
    top.CloseAllPopups();
  }
}

TEST_F(uiMenuEx, ScreenshotOfTheDefaultLook) {
  FillTree();
  menu_->Items().GetItem(0)->Checked = true;
  Open(202);
  TuiMenuItemsEx& basic = Sub(menu_->Items(), 1);
  MoveTo(menu_->Items(), RowPoint(menu_->Items(), 1));
  ASSERT_TRUE(basic.GetIsMenuOpened());
  MoveTo(basic, RowPoint(basic, 2));
  EXPECT_EQ(basic.PopupWidget()->height(), 3 * 40);
  ASSERT_TRUE(SaveScreenshot(basic, "uiMenuEx-default-look.png"));
}

}  // namespace
