#include "toolkit/ImageDataBaseUnit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QGuiApplication);

// A program folder with the skin tree "Images/0409/{background,Buttons}".
class ImageCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path();
    ASSERT_TRUE(QDir(root_).mkpath("Images/0409/background"));
    ASSERT_TRUE(QDir(root_).mkpath("Images/0409/Buttons"));
    base_ = root_ + "/Images/0409";
  }

  QString skin(const QString& rel) const { return base_ + "/" + rel; }

  static bool writePicture(const QString& path, int w, int h, QColor color) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image.save(path, "PNG");
  }

  QTemporaryDir dir_;
  QString root_;
  QString base_;
};

TEST_F(ImageCacheTest, LoadsOnceAndServesFromMemory) {
  ASSERT_TRUE(writePicture(skin("background/dlg-back.png"), 478, 292, Qt::red));
  TImageDataBase cache(base_, root_);
  QImage target;
  cache.AssignIMAGE(target, "dlg-back.png", "background", "");
  ASSERT_EQ(target.size(), QSize(478, 292));
  EXPECT_EQ(target.pixelColor(0, 0), QColor(Qt::red));

  ASSERT_TRUE(QFile::remove(skin("background/dlg-back.png")));
  QImage second;
  cache.AssignIMAGE(second, "dlg-back.png", "background", "");
  EXPECT_EQ(second.size(), QSize(478, 292));
  // The folder is not part of the key.
  QImage third;
  cache.AssignIMAGE(third, "dlg-back.png", "controls", "/nowhere/");
  EXPECT_EQ(third.size(), QSize(478, 292));
  EXPECT_EQ(cache.Entries().size(), 1u);

  // Copies are independent of the cache.
  second.fill(Qt::blue);
  QImage fourth;
  cache.AssignIMAGE(fourth, "dlg-back.png", "background", "");
  EXPECT_EQ(fourth.pixelColor(0, 0), QColor(Qt::red));
}

TEST_F(ImageCacheTest, FoldersResolveRegardlessOfLetterCase) {
  ASSERT_TRUE(writePicture(skin("Buttons/min-1.png"), 20, 10, Qt::green));
  TImageDataBase cache(root_ + "/images/0409", root_);
  QImage target;
  cache.AssignIMAGE(target, "min-1.png", "buttons", "");
  EXPECT_EQ(target.size(), QSize(20, 10));
  ASSERT_EQ(cache.Entries().size(), 1u);
  EXPECT_EQ(cache.Entries()[0].ImagePath, skin("Buttons/min-1.png"));
  // Backslashes of the original folder names are separators.
  TImageDataBase slashes(root_ + "\\IMAGES\\0409", root_);
  QImage other;
  slashes.AssignIMAGE(other, "min-1.png", "BUTTONS", "");
  EXPECT_EQ(other.size(), QSize(20, 10));
}

TEST_F(ImageCacheTest, MissingOrBrokenFilesLeaveTheTargetAndAreRetried) {
  TImageDataBase cache(base_, root_);
  QImage target(3, 3, QImage::Format_ARGB32);
  target.fill(Qt::yellow);
  cache.AssignIMAGE(target, "Button-1.png", "Buttons", "");
  EXPECT_EQ(target.size(), QSize(3, 3));

  QFile garbage(skin("Buttons/Button-1.png"));
  ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
  garbage.write("not a picture");
  garbage.close();
  cache.AssignIMAGE(target, "Button-1.png", "Buttons", "");
  EXPECT_EQ(target.size(), QSize(3, 3));
  EXPECT_TRUE(cache.Entries().empty());

  ASSERT_TRUE(QFile::remove(skin("Buttons/Button-1.png")));
  ASSERT_TRUE(writePicture(skin("Buttons/Button-1.png"), 80, 20, Qt::black));
  cache.AssignIMAGE(target, "Button-1.png", "Buttons", "");
  EXPECT_EQ(target.size(), QSize(80, 20));
}

TEST_F(ImageCacheTest, NamesAreExactKeysAndEmptyIsSpecial) {
  ASSERT_TRUE(writePicture(skin("Buttons/close-1.png"), 5, 5, Qt::red));
  ASSERT_TRUE(writePicture(skin("Buttons/EMPTY"), 7, 7, Qt::red));
  ASSERT_TRUE(writePicture(skin("Buttons/Empty"), 9, 9, Qt::red));
  TImageDataBase cache(base_, root_);
  QImage target;
  cache.AssignIMAGE(target, "close-1.png", "Buttons", "");
  // Another letter case is another key; its file resolves to the same
  // picture, but it is loaded from its own request.
  QImage upper;
  cache.AssignIMAGE(upper, "Close-1.png", "Buttons", "");
  EXPECT_EQ(cache.Entries().size(), 2u);

  cache.AssignIMAGE(target, "EMPTY", "Buttons", "");
  EXPECT_TRUE(target.isNull());
  cache.AssignIMAGE(target, "Empty", "Buttons", "");
  EXPECT_EQ(target.size(), QSize(9, 9));
  EXPECT_EQ(cache.Entries().size(), 3u);
}

TEST_F(ImageCacheTest, FullPathIsUsedAsGiven) {
  ASSERT_TRUE(writePicture(root_ + "/elsewhere.png", 4, 6, Qt::red));
  TImageDataBase cache(base_, root_);
  QImage target;
  cache.AssignIMAGE(target, "elsewhere.png", "ignored", root_ + "/");
  EXPECT_EQ(target.size(), QSize(4, 6));
  EXPECT_EQ(cache.IMAGE("elsewhere.png", "").size(), QSize(4, 6));  // cached
  EXPECT_TRUE(cache.IMAGE("absent.png", "").isNull());
}

TEST_F(ImageCacheTest, BasePathGetsOneSeparatorAndClearsTheCache) {
  ASSERT_TRUE(writePicture(skin("background/dlg-back.png"), 2, 2, Qt::red));
  TImageDataBase cache(base_, root_);
  EXPECT_EQ(cache.ImageDBPath(), base_ + "/");
  QImage target;
  cache.AssignIMAGE(target, "dlg-back.png", "background", "");
  ASSERT_EQ(cache.Entries().size(), 1u);
  cache.SetImageBasePath(base_ + "/");
  EXPECT_EQ(cache.ImageDBPath(), base_ + "/");
  EXPECT_TRUE(cache.Entries().empty());
  cache.SetImageBasePath("");
  EXPECT_EQ(cache.ImageDBPath(), "");
}

TEST_F(ImageCacheTest, GlobalCacheLooksUnderTheProgramSkinFolder) {
  EXPECT_EQ(ImageDataBase().ImageDBPath(), QCoreApplication::applicationDirPath() + "/Images/0409/");
}

TEST(ResolveProgramPath, StaysInsideTheProgramFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath("prog/Images"));
  ASSERT_TRUE(QDir(dir.path()).mkpath("Outside"));
  const QString prog = dir.path() + "/prog";
  EXPECT_EQ(ResolveProgramPath(prog + "/images", prog), prog + "/Images");
  EXPECT_EQ(ResolveProgramPath(prog + "/../outside", prog), prog + "/../outside");
  EXPECT_EQ(ResolveProgramPath(prog + "/absent/x", prog), prog + "/absent/x");
}

}  // namespace
