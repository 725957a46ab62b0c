#include "tools/skin-render/SkinRender.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <string>

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

TEST(SkinManifest, ParsesEntriesOfEveryKind) {
    const skin::Manifest m = skin::parseManifest(
        "# comment line\n"
        "\n"
        "Images/0409/background/dlg-back.png  478x292   background/dlg-back.svg   # trailing\n"
        "images/0409/icons/logo.ico 16x16,32x32,256x256 icons/logo.svg\n"
        "images/hand.cur 32x32 cursors/hand.svg hotspot=11,2\n");
    ASSERT_TRUE(m.error.isEmpty()) << m.error.toStdString();
    ASSERT_EQ(m.entries.size(), 3u);
    EXPECT_EQ(m.entries[0].path, QStringLiteral("Images/0409/background/dlg-back.png"));
    EXPECT_EQ(m.entries[0].kind, skin::OutputKind::Png);
    EXPECT_EQ(m.entries[0].sizes, std::vector<QSize>{QSize(478, 292)});
    EXPECT_EQ(m.entries[0].source, QStringLiteral("background/dlg-back.svg"));
    EXPECT_EQ(m.entries[0].line, 3);
    EXPECT_EQ(m.entries[1].kind, skin::OutputKind::Icon);
    EXPECT_EQ(m.entries[1].sizes, (std::vector<QSize>{{16, 16}, {32, 32}, {256, 256}}));
    EXPECT_EQ(m.entries[2].kind, skin::OutputKind::Cursor);
    EXPECT_EQ(m.entries[2].hotspot, QPoint(11, 2));
}

TEST(SkinManifest, RejectsMalformedLinesWithTheirLineNumber) {
    const struct {
        const char* line;
        const char* why;
    } cases[] = {
        {"a.png 10x10", "too few fields"},
        {"a.png 10x10 a.svg extra more", "too many fields"},
        {"/abs/a.png 10x10 a.svg", "absolute output"},
        {"../a.png 10x10 a.svg", "output leaves the folder"},
        {"x//a.png 10x10 a.svg", "empty component"},
        {"Images\\a.png 10x10 a.svg", "backslash"},
        {"a.png 10x10 ../a.svg", "source leaves the folder"},
        {"a.bmp 10x10 a.svg", "unknown type"},
        {"a.png 10 a.svg", "size without x"},
        {"a.png 0x10 a.svg", "zero width"},
        {"a.png -4x10 a.svg", "negative width"},
        {"a.png 99999x10 a.svg", "huge width"},
        {"a.png 10x10,20x20 a.svg", "png with two sizes"},
        {"a.ico 16x16,512x512 a.svg", "icon above 256"},
        {"a.cur 32x32 a.svg", "cursor without hotspot"},
        {"a.cur 32x32 a.svg hotspot=32,0", "hotspot outside"},
        {"a.cur 32x32 a.svg hotspot=1", "hotspot with one number"},
        {"a.png 10x10 a.svg hotspot=1,1", "option on a picture"},
    };
    for (const auto& c : cases) {
        const std::string text = std::string("ok.png 1x1 ok.svg\n") + c.line + "\n";
        const skin::Manifest m = skin::parseManifest(text);
        EXPECT_TRUE(m.entries.empty()) << c.why;
        EXPECT_TRUE(m.error.startsWith(QStringLiteral("manifest line 2:"))) << c.why << ": " << m.error.toStdString();
    }
}

TEST(SkinManifest, RejectsAnOutputListedTwiceInAnyLetterCase) {
    const skin::Manifest m = skin::parseManifest("Images/a.png 1x1 a.svg\nimages/A.png 1x1 a.svg\n");
    EXPECT_TRUE(m.entries.empty());
    EXPECT_FALSE(m.error.isEmpty());
}

// A 2x2 cursor written out by hand: directory with the hotspot in the
// planes/bit-count fields, BITMAPINFOHEADER with doubled height, bottom-up
// BGRA rows, then the AND mask with the transparent pixel's bit set.
TEST(SkinIconFile, CursorBytesAreTheClassicLayout) {
    QImage img(2, 2, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgba(0x11, 0x22, 0x33, 0xFF));
    img.setPixel(1, 0, qRgba(0, 0, 0, 0));
    img.setPixel(0, 1, qRgba(0x44, 0x55, 0x66, 0x80));
    img.setPixel(1, 1, qRgba(0xAA, 0xBB, 0xCC, 0xFF));
    const QByteArray got = skin::encodeIconFile({img}, skin::OutputKind::Cursor, QPoint(1, 0));
    const QByteArray want = hex(
        "0000 0200 0100"                               // reserved, type 2 (cursor), one image
        "02 02 00 00 0100 0000 40000000 16000000"      // 2x2, hotspot (1,0), 64 bytes at 22
        "28000000 02000000 04000000 0100 2000"         // header 40, 2 wide, 2x2 high, 1 plane, 32 bpp
        "00000000 18000000 00000000 00000000 00000000 00000000"
        "665544 80 CCBBAA FF"                          // bottom row first, BGRA
        "332211 FF 000000 00"
        "00000000"                                     // mask of the bottom row: opaque
        "40000000");                                   // top row: second pixel transparent
    EXPECT_EQ(got.toHex(' ').toStdString(), want.toHex(' ').toStdString());
}

TEST(SkinIconFile, IconTakesEverySizeAndStores256AsPng) {
    std::vector<QImage> images;
    for (int s : {16, 32, 48, 256}) {
        QImage img(s, s, QImage::Format_ARGB32);
        img.fill(qRgba(200, 30, 50, 255));
        images.push_back(img);
    }
    const QByteArray data = skin::encodeIconFile(images, skin::OutputKind::Icon);
    ASSERT_GT(data.size(), 6 + 4 * 16);
    EXPECT_EQ(data.left(6), hex("0000 0100 0400"));
    // Entry 4: size bytes 0 mean 256; planes 1, 32 bpp.
    const QByteArray e4 = data.mid(6 + 3 * 16, 16);
    EXPECT_EQ(e4.left(8), hex("00 00 00 00 0100 2000"));
    const quint32 off = qFromLittleEndian<quint32>(e4.constData() + 12);
    EXPECT_EQ(data.mid(int(off), 8), hex("89504E470D0A1A0A"));

    QBuffer buf;
    buf.setData(data);
    buf.open(QIODevice::ReadOnly);
    QImageReader reader(&buf, "ico");
    ASSERT_EQ(reader.imageCount(), 4);
    std::vector<int> sizes;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage decoded = reader.read();
        ASSERT_FALSE(decoded.isNull()) << i;
        sizes.push_back(decoded.width());
        EXPECT_EQ(decoded.pixel(decoded.width() / 2, decoded.height() / 2), qRgba(200, 30, 50, 255)) << i;
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 256}));
}

TEST(SkinIconFile, RefusesWhatTheFormatCannotHold) {
    QImage ok(32, 32, QImage::Format_ARGB32);
    ok.fill(Qt::red);
    EXPECT_TRUE(skin::encodeIconFile({}, skin::OutputKind::Icon).isEmpty());
    EXPECT_TRUE(skin::encodeIconFile({QImage()}, skin::OutputKind::Icon).isEmpty());
    EXPECT_TRUE(skin::encodeIconFile({QImage(257, 16, QImage::Format_ARGB32)}, skin::OutputKind::Icon).isEmpty());
    EXPECT_TRUE(skin::encodeIconFile({ok}, skin::OutputKind::Cursor, QPoint(32, 0)).isEmpty());
    EXPECT_TRUE(skin::encodeIconFile({ok}, skin::OutputKind::Png).isEmpty());
}

TEST(SkinRenderSvg, RendersAtTheExactSizeAndReportsBadSources) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath(QStringLiteral("good.svg"));
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"4\" viewBox=\"0 0 10 4\">"
            "<rect x=\"0\" y=\"0\" width=\"5\" height=\"4\" fill=\"#e3263a\"/></svg>");
    f.close();
    QString error;
    const QImage img = skin::renderSvg(good, QSize(20, 8), &error);
    ASSERT_FALSE(img.isNull()) << error.toStdString();
    EXPECT_EQ(img.size(), QSize(20, 8));
    EXPECT_EQ(img.pixel(2, 2), qRgba(0xe3, 0x26, 0x3a, 0xff));
    EXPECT_EQ(qAlpha(img.pixel(17, 2)), 0);

    EXPECT_TRUE(skin::renderSvg(dir.filePath(QStringLiteral("missing.svg")), QSize(4, 4), &error).isNull());
    EXPECT_FALSE(error.isEmpty());
    const QString bad = dir.filePath(QStringLiteral("bad.svg"));
    QFile b(bad);
    ASSERT_TRUE(b.open(QIODevice::WriteOnly));
    b.write("not an svg at all");
    b.close();
    error.clear();
    EXPECT_TRUE(skin::renderSvg(bad, QSize(4, 4), &error).isNull());
    EXPECT_FALSE(error.isEmpty());
}

TEST(SkinResolve, ReusesFoldersInOtherLetterCaseAndStaysBelowTheRoot) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("Images/0409/Buttons")));
    const QString root = dir.path();

    EXPECT_EQ(skin::resolveBelow(root, QStringLiteral("images/hand.cur"), true),
              root + QStringLiteral("/Images/hand.cur"));
    EXPECT_EQ(skin::resolveBelow(root, QStringLiteral("images/0409/buttons/Button-1.png"), false),
              root + QStringLiteral("/Images/0409/Buttons/Button-1.png"));
    EXPECT_FALSE(QDir(root).exists(QStringLiteral("images")));

    // A missing folder is made only when asked.
    EXPECT_TRUE(skin::resolveBelow(root, QStringLiteral("Images/0409/icons/logo.ico"), false).isEmpty());
    EXPECT_EQ(skin::resolveBelow(root, QStringLiteral("Images/0409/icons/logo.ico"), true),
              root + QStringLiteral("/Images/0409/icons/logo.ico"));
    EXPECT_TRUE(QDir(root).exists(QStringLiteral("Images/0409/icons")));

    EXPECT_TRUE(skin::resolveBelow(root, QStringLiteral("../x.png"), true).isEmpty());
    EXPECT_TRUE(skin::resolveBelow(root, QStringLiteral("/etc/x.png"), true).isEmpty());
    EXPECT_TRUE(skin::resolveBelow(root, QStringLiteral("Images/./x.png"), true).isEmpty());

    // A file where a folder is expected is refused, not overwritten.
    QFile plain(root + QStringLiteral("/plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_TRUE(skin::resolveBelow(root, QStringLiteral("plain/x.png"), true).isEmpty());
}

TEST(SkinWrite, ReplacesTheWholeFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("a.png"));
    QString error;
    ASSERT_TRUE(skin::writeFileAtomic(file, QByteArray("long old content"), &error));
    ASSERT_TRUE(skin::writeFileAtomic(file, QByteArray("new"), &error));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("new"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);

    EXPECT_FALSE(skin::writeFileAtomic(dir.filePath(QStringLiteral("no/such/folder/a.png")), "x", &error));
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
