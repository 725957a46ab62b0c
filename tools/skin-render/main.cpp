// skin-render: turns the skin manifest and its SVG sources into the pictures,
// cursors and icon that the configurator loads from its program folder.
//
//   skin-render --manifest FILE --source DIR --out DIR [--sheet FILE.png]

#include "tools/skin-render/SkinRender.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

namespace {

constexpr qint64 kMaxManifestBytes = 1 << 20;

int usage() {
    std::fputs("usage: skin-render --manifest FILE --source DIR --out DIR [--sheet FILE.png]\n", stderr);
    return 2;
}

// Qt's SVG module only warns about what it cannot draw; for the skin that
// is an error, since the picture would silently differ from its source.
int g_svgWarnings = 0;
QtMessageHandler g_previousHandler = nullptr;

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg && context.category && qstrcmp(context.category, "qt.svg") == 0)
        ++g_svgWarnings;
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

void complain(const QString& text) {
    std::fprintf(stderr, "skin-render: %s\n", qPrintable(text));
}

QString describe(const skin::ManifestEntry& e) {
    QStringList sizes;
    for (const QSize& s : e.sizes)
        sizes << QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
    return QStringLiteral("%1\n%2").arg(QFileInfo(e.path).fileName(), sizes.join(QLatin1Char(',')));
}

}  // namespace

int main(int argc, char** argv) {
    // Rendering needs fonts and a paint engine but never a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    g_previousHandler = qInstallMessageHandler(messageHandler);

    QString manifestFile;
    QString sourceDir;
    QString outDir;
    QString sheetFile;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (i + 1 >= args.size())
            return usage();
        if (a == QLatin1String("--manifest"))
            manifestFile = args[++i];
        else if (a == QLatin1String("--source"))
            sourceDir = args[++i];
        else if (a == QLatin1String("--out"))
            outDir = args[++i];
        else if (a == QLatin1String("--sheet"))
            sheetFile = args[++i];
        else
            return usage();
    }
    if (manifestFile.isEmpty() || sourceDir.isEmpty() || (outDir.isEmpty() && sheetFile.isEmpty()))
        return usage();

    QFile mf(manifestFile);
    if (!mf.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("%1: %2").arg(manifestFile, mf.errorString()));
        return 1;
    }
    if (mf.size() > kMaxManifestBytes) {
        complain(QStringLiteral("%1: too large for a manifest").arg(manifestFile));
        return 1;
    }
    const QByteArray text = mf.read(kMaxManifestBytes);
    const skin::Manifest manifest = skin::parseManifest(std::string_view(text.constData(), size_t(text.size())));
    if (!manifest.error.isEmpty()) {
        complain(QStringLiteral("%1: %2").arg(manifestFile, manifest.error));
        return 1;
    }

    std::vector<skin::SheetItem> sheet;
    int failures = 0;
    for (const skin::ManifestEntry& e : manifest.entries) {
        const QString svg = QFileInfo(sourceDir + QLatin1Char('/') + e.source).filePath();
        std::vector<QImage> images;
        QString error;
        for (const QSize& s : e.sizes) {
            const int warningsBefore = g_svgWarnings;
            QImage img = skin::renderSvg(svg, s, &error);
            if (!img.isNull() && g_svgWarnings != warningsBefore) {
                error = QStringLiteral("%1: the SVG module could not draw all of it").arg(svg);
                img = QImage();
            }
            if (img.isNull())
                break;
            images.push_back(std::move(img));
        }
        if (images.size() != e.sizes.size()) {
            complain(QStringLiteral("line %1: %2").arg(e.line).arg(error));
            ++failures;
            continue;
        }
        if (!sheetFile.isEmpty()) {
            if (e.kind == skin::OutputKind::Icon) {
                for (const QImage& img : images) {
                    const QString caption = QStringLiteral("%1\n%2x%3").arg(QFileInfo(e.path).fileName()).arg(img.width()).arg(img.height());
                    sheet.push_back({img, caption});
                }
            } else {
                sheet.push_back({images.back(), describe(e)});
            }
        }
        if (outDir.isEmpty())
            continue;

        QByteArray data;
        if (e.kind == skin::OutputKind::Png) {
            QBuffer buf(&data);
            buf.open(QIODevice::WriteOnly);
            if (!images[0].save(&buf, "PNG"))
                data.clear();
        } else {
            data = skin::encodeIconFile(images, e.kind, e.hotspot);
        }
        if (data.isEmpty()) {
            complain(QStringLiteral("line %1: %2: cannot encode").arg(e.line).arg(e.path));
            ++failures;
            continue;
        }
        const QString target = skin::resolveBelow(outDir, e.path, true);
        if (target.isEmpty()) {
            complain(QStringLiteral("line %1: %2: cannot make its folder below %3").arg(e.line).arg(e.path, outDir));
            ++failures;
            continue;
        }
        if (!skin::writeFileAtomic(target, data, &error)) {
            complain(error);
            ++failures;
        }
    }
    if (!sheetFile.isEmpty()) {
        const QImage img = skin::contactSheet(sheet, 1800);
        QString error;
        QByteArray data;
        QBuffer buf(&data);
        buf.open(QIODevice::WriteOnly);
        if (!img.save(&buf, "PNG") || !skin::writeFileAtomic(sheetFile, data, &error)) {
            complain(QStringLiteral("%1: cannot write the contact sheet %2").arg(sheetFile, error));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
