// Checks what the build staged in the program folder against the manifest:
// every picture, cursor and icon exists under the path the windows ask for,
// with its exact pixel size.
#include "tools/skin-render/SkinRender.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

const QString kProgramDir = QStringLiteral(MOUSE_PROGRAM_DIR);

skin::Manifest loadManifest() {
    QFile f(QStringLiteral(MOUSE_SOURCE_DIR "/toolkit/skin/manifest.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("cannot open the manifest")};
    const QByteArray text = f.readAll();
    return skin::parseManifest(std::string_view(text.constData(), size_t(text.size())));
}

TEST(SkinOutput, EveryManifestEntryIsStagedWithItsExactSize) {
    const skin::Manifest m = loadManifest();
    ASSERT_TRUE(m.error.isEmpty()) << m.error.toStdString();
    ASSERT_FALSE(m.entries.empty());
    for (const skin::ManifestEntry& e : m.entries) {
        SCOPED_TRACE(e.path.toStdString());
        // The path exactly as written: "images" and "Images" both lead there.
        const QString file = kProgramDir + QLatin1Char('/') + e.path;
        ASSERT_TRUE(QFileInfo(file).isFile());
        QImageReader reader(file, e.kind == skin::OutputKind::Png ? "png" : e.kind == skin::OutputKind::Icon ? "ico" : "cur");
        if (e.kind == skin::OutputKind::Icon) {
            ASSERT_EQ(reader.imageCount(), int(e.sizes.size()));
        }
        for (size_t i = 0; i < e.sizes.size(); ++i) {
            if (i > 0) {
                ASSERT_TRUE(reader.jumpToImage(int(i)));
            }
            const QImage img = reader.read();
            ASSERT_FALSE(img.isNull()) << reader.errorString().toStdString();
            EXPECT_EQ(img.size(), e.sizes[i]) << "image " << i;
            EXPECT_TRUE(img.hasAlphaChannel());
        }
        if (e.kind == skin::OutputKind::Cursor) {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            const QByteArray head = f.read(22);
            ASSERT_EQ(head.size(), 22);
            EXPECT_EQ(qFromLittleEndian<quint16>(head.constData() + 2), 2u);
            EXPECT_EQ(qFromLittleEndian<quint16>(head.constData() + 10), quint16(e.hotspot.x()));
            EXPECT_EQ(qFromLittleEndian<quint16>(head.constData() + 12), quint16(e.hotspot.y()));
        }
    }
}

TEST(SkinOutput, BackgroundsAreOpaque) {
    // The dialogs are plain rectangular windows: a transparent pixel in a
    // background would show whatever lies beneath.
    for (const char* name : {"dlg-back.png", "dlg-macro-back.png", "dlg-help-back.png", "cfgMainback.png"}) {
        const QImage img(kProgramDir + QStringLiteral("/Images/0409/background/") + QLatin1String(name));
        ASSERT_FALSE(img.isNull()) << name;
        for (const QPoint p : {QPoint(0, 0), QPoint(img.width() - 1, 0), QPoint(0, img.height() - 1),
                               QPoint(img.width() - 1, img.height() - 1), QPoint(img.width() / 2, img.height() / 2)})
            EXPECT_EQ(qAlpha(img.pixel(p)), 255) << name;
    }
}

TEST(SkinOutput, StyleFilesAreStaged) {
    for (const char* name : {"images/ui.vgstyle", "images/uimacro.vgstyle"})
        EXPECT_TRUE(QFileInfo(kProgramDir + QLatin1Char('/') + QLatin1String(name)).isFile()) << name;
}

}  // namespace
