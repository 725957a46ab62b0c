// Runs the renderer program as the build does and checks that a fault in a
// source fails it instead of leaving a wrong or half-written picture.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SkinRenderProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("svg")));
        ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("out")));
        write(QStringLiteral("svg/good.svg"),
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\" viewBox=\"0 0 8 8\">"
              "<rect width=\"8\" height=\"8\" fill=\"#e3263a\"/></svg>");
        // Parses, but names a paint server that does not exist: Qt only warns.
        write(QStringLiteral("svg/dangling.svg"),
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\" viewBox=\"0 0 8 8\">"
              "<rect width=\"8\" height=\"8\" fill=\"url(#nothing)\"/></svg>");
    }

    void write(const QString& rel, const QByteArray& data) {
        QFile f(dir_.filePath(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }

    int run(const QByteArray& manifest) {
        write(QStringLiteral("manifest.txt"), manifest);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(SKIN_RENDER_PROGRAM),
                {QStringLiteral("--manifest"), dir_.filePath(QStringLiteral("manifest.txt")),
                 QStringLiteral("--source"), dir_.filePath(QStringLiteral("svg")),
                 QStringLiteral("--out"), dir_.filePath(QStringLiteral("out"))});
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        return p.exitCode();
    }

    bool exists(const QString& rel) const { return QFileInfo::exists(dir_.filePath(QStringLiteral("out/") + rel)); }

    QTemporaryDir dir_;
};

TEST_F(SkinRenderProgram, WritesEveryEntryOfAGoodManifest) {
    ASSERT_EQ(run("Images/a/b.png 5x3 good.svg\nimages/c.cur 8x8 good.svg hotspot=1,1\n"), 0);
    const QImage img(dir_.filePath(QStringLiteral("out/Images/a/b.png")));
    EXPECT_EQ(img.size(), QSize(5, 3));
    // Both spellings of the folder end up in one folder.
    EXPECT_TRUE(exists(QStringLiteral("Images/c.cur")));
    EXPECT_EQ(QDir(dir_.filePath(QStringLiteral("out"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 1);
}

TEST_F(SkinRenderProgram, ABadManifestLineWritesNothing) {
    EXPECT_EQ(run("Images/a.png 8x8 good.svg\nImages/b.png 8x8\n"), 1);
    EXPECT_FALSE(exists(QStringLiteral("Images/a.png")));
}

TEST_F(SkinRenderProgram, ASourceTheSvgModuleCannotFullyDrawFails) {
    EXPECT_EQ(run("x/good.png 8x8 good.svg\nx/bad.png 8x8 dangling.svg\nx/gone.png 8x8 missing.svg\n"), 1);
    EXPECT_TRUE(exists(QStringLiteral("x/good.png")));
    EXPECT_FALSE(exists(QStringLiteral("x/bad.png")));
    EXPECT_FALSE(exists(QStringLiteral("x/gone.png")));
}

}  // namespace
