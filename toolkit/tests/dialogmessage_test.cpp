#include "toolkit/dialogmessage.h"
#include "toolkit/testing/ModalWait.h"

#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/uiLanguage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

class MessageDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(skin_.isValid());
    ImageDataBase().SetImageBasePath(skin_.path());  // an empty skin
    RemoveTranslationTable();
  }
  void TearDown() override {
    SetMessageDialogAnswer({});
    RemoveTranslationTable();
  }

  // Runs the real dialog and acts on it once it is shown and modal.
  static int runWith(const std::function<void(TFrmMessageDialog*)>& act,
                     const QString& third = QString()) {
    WhenModal<TFrmMessageDialog>(act);
    return ShowMessageDialog("Title", "Text", third);
  }

  QTemporaryDir skin_;
};

TEST_F(MessageDialogTest, ButtonsAndClosingGiveOneOrTwo) {
  EXPECT_EQ(runWith([](TFrmMessageDialog* d) { d->BTNOK->click(); }), 1);
  EXPECT_EQ(runWith([](TFrmMessageDialog* d) { d->BTNCANCEL->click(); }), 2);
  EXPECT_EQ(runWith([](TFrmMessageDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }), 2);
  EXPECT_EQ(runWith([](TFrmMessageDialog* d) { d->close(); }), 2);
}

TEST_F(MessageDialogTest, WindowTitleIsTheMessagesTitle) {
  QString title;
  runWith([&](TFrmMessageDialog* d) {
    title = d->windowTitle();
    d->BTNOK->click();
  });
  EXPECT_EQ(title, "Title");
}

TEST_F(MessageDialogTest, LongThirdLineKeepsBothEnds) {
  const QString third = QString(40, QLatin1Char('x')) + "/Macro1.macro: Permission denied";
  QString shown, tip;
  int width = 0, room = 0;
  runWith(
      [&](TFrmMessageDialog* d) {
        shown = d->LabelText1->text();
        tip = d->LabelText1->toolTip();
        width = QFontMetrics(d->LabelText1->font()).horizontalAdvance(shown);
        room = d->LabelText1->width();
        d->BTNOK->click();
      },
      third);
  EXPECT_TRUE(shown.endsWith("denied")) << shown.toStdString();
  EXPECT_TRUE(shown.startsWith("xx")) << shown.toStdString();
  EXPECT_LE(width, room);
  EXPECT_EQ(tip, third);
}

TEST_F(MessageDialogTest, EnterDoesNothing) {
  bool stillOpen = false;
  const int result = runWith([&stillOpen](TFrmMessageDialog* d) {
    QTest::keyClick(d, Qt::Key_Return);
    QTest::keyClick(d, Qt::Key_Enter);
    QTest::keyClick(d, Qt::Key_Space);
    stillOpen = d->isVisible();
    d->BTNCANCEL->click();
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(result, 2);
}

TEST_F(MessageDialogTest, ShowsTheTextsAsGivenAndTranslatesOnlyItsButtons) {
  InstallTranslationTable({"OK=Aceptar", "CANCEL=Cancelar", "Title=Titulo"});
  QString title, text, third, ok, cancel;
  Qt::WindowFlags flags;
  QSize size;
  runWith([&](TFrmMessageDialog* d) {
    title = d->LabelTitle->text();
    text = d->LabelText->text();
    third = d->LabelText1->text();
    ok = d->BTNOK->text();
    cancel = d->BTNCANCEL->text();
    flags = d->windowFlags();
    size = d->size();
    EXPECT_TRUE(d->FCreateByOther);
    d->BTNOK->click();
  });
  EXPECT_EQ(title, "Title");
  EXPECT_EQ(text, "Text");
  EXPECT_EQ(third, "");
  EXPECT_EQ(ok, "Aceptar");
  EXPECT_EQ(cancel, "Cancelar");
  EXPECT_TRUE(flags & Qt::FramelessWindowHint);
  EXPECT_EQ(size, QSize(488, 302));
}

TEST_F(MessageDialogTest, LayoutMatchesTheSkin) {
  TFrmMessageDialog d;
  EXPECT_EQ(d.LabelTitle->geometry(), QRect(55, 35, 378, 31));
  EXPECT_EQ(d.LabelText->geometry(), QRect(95, 106, 363, 43));
  EXPECT_EQ(d.LabelText1->geometry(), QRect(110, 155, 300, 18));
  EXPECT_EQ(d.BTNOK->geometry(), QRect(252, 245, 80, 20));
  EXPECT_EQ(d.BTNCANCEL->geometry(), QRect(347, 245, 80, 20));
  EXPECT_EQ(d.ImageMain.size(), QSize(478, 292));  // the picture drawn without a skin
}

TEST_F(MessageDialogTest, SkinPictureIsTakenFromTheCacheOnce) {
  ASSERT_TRUE(QDir(skin_.path()).mkpath("background"));
  const QString file = skin_.path() + "/background/dlg-back.png";
  QImage picture(478, 292, QImage::Format_ARGB32);
  picture.fill(Qt::darkCyan);
  ASSERT_TRUE(picture.save(file));
  {
    TFrmMessageDialog first;
    EXPECT_EQ(first.ImageMain.pixelColor(10, 10), QColor(Qt::darkCyan));
  }
  ASSERT_TRUE(QFile::remove(file));
  TFrmMessageDialog second;
  EXPECT_EQ(second.ImageMain.pixelColor(10, 10), QColor(Qt::darkCyan));
}

TEST_F(MessageDialogTest, LongTextsWrapInsideTheirBox) {
  TFrmMessageDialog d;
  const QString text =
      "Are you sure you want to reset the current settings of every profile back to the "
      "values the mouse was installed with? This cannot be undone.";
  d.SetTexts("RESET", text, "Macro will be retained");
  EXPECT_TRUE(d.LabelText->wordWrap());
  const QRect needed = QFontMetrics(d.LabelText->font())
                           .boundingRect(QRect(0, 0, 363, 1000), Qt::AlignCenter | Qt::TextWordWrap, text);
  EXPECT_LE(needed.height(), 43);
}

// The warnings the configurator gives when settings could not be stored:
// long lists of names, long paths without a space, several reasons.
const char* const kSaveFailures[] = {
    "Not saved: ProfileSettingGroup.pfd, ALLPROFILE.pfd, Profile 1, Profile 2, Profile 3, Profile 4, "
    "Profile 5 (attempt to write a readonly database)",
    "Not saved: /home/player/Documents/Gaming Mouse/Profiles/Profile1.pfd, "
    "/home/player/Documents/Gaming Mouse/Profiles/Profile2.pfd, "
    "/home/player/Documents/Gaming Mouse/Profiles/Profile3.pfd, "
    "/home/player/Documents/Gaming Mouse/Profiles/Profile4.pfd (Permission denied)",
    "Not saved: ALLPROFILE.pfd, QRX7714ProfileDef.pfd (database is locked)\n"
    "Not saved: /home/player/Documents/Gaming Mouse/Profiles/Profile3.pfd (No space left on device)\n"
    "Not saved, never loaded: Profile 4, Profile 5",
    "Not saved: /home/player/.local/share/marvane/settings/QRX7714ProfileDef.pfd.partial-write, "
    "/home/player/.local/share/marvane/settings/QRX7714ProfileTest.pfd.partial-write, "
    "/home/player/.local/share/marvane/settings/ALLPROFILE.pfd.partial-write (disk I/O error)",
    "Not saved: ProfileSettingGroup.pfd (database is locked)\n"
    "Not saved: ALLPROFILE.pfd (disk I/O error)\n"
    "Not saved: Profile 1, Profile 2 (No space left on device)\n"
    "Not saved: /home/player/Documents/Gaming Mouse/Profiles/Profile5.pfd (Read-only file system)\n"
    "Not saved, never loaded: Profile 3, Profile 4",
};

TEST_F(MessageDialogTest, EverySaveFailureShowsWhole) {
  for (const char* failure : kSaveFailures) {
    const QString text = QString::fromUtf8(failure);
    QRect label, needed, third, ok, window, screen;
    QString tip;
    WhenModal<TFrmMessageDialog>([&](TFrmMessageDialog* d) {
      label = d->LabelText->geometry();
      needed = QFontMetrics(d->LabelText->font())
                   .boundingRect(QRect(QPoint(0, 0), d->LabelText->contentsRect().size()),
                                 Qt::AlignCenter | Qt::TextWordWrap, d->LabelText->text());
      third = d->LabelText1->geometry();
      ok = d->BTNOK->geometry();
      window = d->frameGeometry();
      screen = d->screen()->availableGeometry();
      tip = d->LabelText->toolTip();
      d->BTNOK->click();
    });
    ShowMessageDialog("Warning", text, "");
    SCOPED_TRACE(failure);
    // Every line of the text fits the label, and the label the window.
    EXPECT_LE(needed.height(), label.height());
    EXPECT_LE(needed.width(), label.width());
    EXPECT_TRUE(QRect(QPoint(0, 0), window.size()).contains(label));
    // Nothing is laid over it, and the window is on the screen.
    EXPECT_LE(label.bottom(), third.top() + 5);
    EXPECT_LT(label.bottom(), ok.top());
    EXPECT_TRUE(screen.contains(window)) << window.x() << "," << window.y() << " " << window.width() << "x"
                                         << window.height();
    EXPECT_TRUE(tip.isEmpty());
  }
}

TEST_F(MessageDialogTest, ShortMessagesKeepTheSkinsSize) {
  TFrmMessageDialog d;
  d.SetTexts("Warning", "Please connect the mouse first.", "");
  EXPECT_EQ(d.size(), QSize(488, 302));
  EXPECT_EQ(d.LabelText->geometry(), QRect(95, 106, 363, 43));
  EXPECT_EQ(d.Growth(), 0);
}

TEST_F(MessageDialogTest, AGrownWindowMovesTheButtonsDownWithIt) {
  TFrmMessageDialog d;
  d.SetTexts("Warning", QString::fromUtf8(kSaveFailures[4]), "third line");
  ASSERT_GT(d.Growth(), 0);
  EXPECT_EQ(d.height(), 302 + d.Growth());
  EXPECT_EQ(d.BTNOK->geometry(), QRect(252, 245 + d.Growth(), 80, 20));
  EXPECT_EQ(d.BTNCANCEL->geometry(), QRect(347, 245 + d.Growth(), 80, 20));
  EXPECT_EQ(d.LabelText1->geometry(), QRect(110, 155 + d.Growth(), 300, 18));
  // The footer of the background is drawn at the new bottom: the window's
  // last rows above the rim look like the picture's last rows.
  const QImage shot = d.grab().toImage();
  const QColor footer = d.ImageMain.pixelColor(200, 280);
  EXPECT_EQ(shot.pixelColor(205, d.height() - 5 - 12), footer);

  const QByteArray shots = qgetenv("MOUSE_SCREENSHOT_DIR");
  if (!shots.isEmpty()) d.grab().save(QString::fromLocal8Bit(shots) + "/message-dialog-grown.png");
}

TEST_F(MessageDialogTest, TestsCanAnswerWithoutAWindow) {
  QStringList seen;
  SetMessageDialogAnswer([&seen](const QString& a, const QString& b, const QString& c) {
    seen << a << b << c;
    return 1;
  });
  EXPECT_EQ(ShowMessageDialog("t", "x", "y"), 1);
  EXPECT_EQ(seen, (QStringList{"t", "x", "y"}));
  SetMessageDialogAnswer([](const QString&, const QString&, const QString&) { return 0; });
  EXPECT_EQ(ShowMessageDialog("t", "x", ""), 2);
  EXPECT_EQ(QApplication::topLevelWidgets().size(), 0);
}

}  // namespace
