#include "tools/skin-render/SkinRender.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QSaveFile>
#include <QStringList>
#include <QSvgRenderer>
#include <QtEndian>

#include <algorithm>
#include <set>

namespace skin {
namespace {

// Larger pictures than this are a typing error in the manifest, not art.
constexpr int kMaxSide = 2048;
// ICO and CUR directory entries store sizes in one byte, 0 meaning 256.
constexpr int kMaxIconSide = 256;

bool parseSize(const QString& text, QSize* out) {
    const QStringList wh = text.split(QLatin1Char('x'));
    if (wh.size() != 2)
        return false;
    bool okW = false;
    bool okH = false;
    const int w = wh[0].toInt(&okW);
    const int h = wh[1].toInt(&okH);
    if (!okW || !okH || w < 1 || h < 1 || w > kMaxSide || h > kMaxSide)
        return false;
    *out = QSize(w, h);
    return true;
}

bool isSafeRelative(const QString& path) {
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return std::none_of(parts.begin(), parts.end(), [](const QString& p) {
        return p.isEmpty() || p == QLatin1String(".") || p == QLatin1String("..");
    });
}

void putU16(QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void putU32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

// Classic icon image: BITMAPINFOHEADER with doubled height, bottom-up BGRA
// rows (straight alpha), then the 1-bit AND mask marking transparent pixels.
// Every reader of the format understands it, unlike PNG entries below 256.
QByteArray dibEntry(const QImage& source) {
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width();
    const int h = img.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray out;
    putU32(out, 40);
    putU32(out, quint32(w));
    putU32(out, quint32(h * 2));
    putU16(out, 1);
    putU16(out, 32);
    putU32(out, 0);
    putU32(out, quint32(w * h * 4 + maskStride * h));
    putU32(out, 0);
    putU32(out, 0);
    putU32(out, 0);
    putU32(out, 0);
    for (int y = h - 1; y >= 0; --y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = row[x];
            const char bgra[4] = {char(qBlue(p)), char(qGreen(p)), char(qRed(p)), char(qAlpha(p))};
            out.append(bgra, 4);
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray maskRow(maskStride, '\0');
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qAlpha(row[x]) == 0)
                maskRow[x / 8] = char(uchar(maskRow[x / 8]) | (0x80u >> (x % 8)));
        }
        out.append(maskRow);
    }
    return out;
}

QByteArray pngEntry(const QImage& img) {
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    img.convertToFormat(QImage::Format_ARGB32).save(&buf, "PNG");
    return out;
}

}  // namespace

Manifest parseManifest(std::string_view text) {
    Manifest result;
    const QStringList lines = QString::fromUtf8(text.data(), qsizetype(text.size())).split(QLatin1Char('\n'));
    std::set<QString> seen;
    auto fail = [&](int line, const QString& why) {
        result.entries.clear();
        result.error = QStringLiteral("manifest line %1: %2").arg(line).arg(why);
        return result;
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNo = int(i + 1);
        QString line = lines[i];
        const qsizetype hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        const QStringList f = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.isEmpty())
            continue;
        if (f.size() < 3 || f.size() > 4)
            return fail(lineNo, QStringLiteral("expected <path> <size> <svg> [hotspot=x,y]"));
        ManifestEntry e;
        e.line = lineNo;
        e.path = f[0];
        e.source = f[2];
        if (!isSafeRelative(e.path))
            return fail(lineNo, QStringLiteral("output path must be relative and stay below the program folder"));
        if (!isSafeRelative(e.source))
            return fail(lineNo, QStringLiteral("source path must be relative and stay below the source folder"));
        const QString lower = e.path.toLower();
        if (lower.endsWith(QLatin1String(".png")))
            e.kind = OutputKind::Png;
        else if (lower.endsWith(QLatin1String(".cur")))
            e.kind = OutputKind::Cursor;
        else if (lower.endsWith(QLatin1String(".ico")))
            e.kind = OutputKind::Icon;
        else
            return fail(lineNo, QStringLiteral("unknown output type (png, cur, ico)"));
        if (!seen.insert(lower).second)
            return fail(lineNo, QStringLiteral("output listed twice"));
        for (const QString& s : f[1].split(QLatin1Char(','))) {
            QSize size;
            if (!parseSize(s, &size))
                return fail(lineNo, QStringLiteral("bad size \"%1\"").arg(s));
            e.sizes.push_back(size);
        }
        if (e.kind != OutputKind::Icon && e.sizes.size() != 1)
            return fail(lineNo, QStringLiteral("only an icon takes several sizes"));
        if (e.kind != OutputKind::Png) {
            for (const QSize& s : e.sizes) {
                if (s.width() > kMaxIconSide || s.height() > kMaxIconSide)
                    return fail(lineNo, QStringLiteral("icons and cursors are at most 256 pixels"));
            }
        }
        if (f.size() == 4) {
            const QString opt = f[3];
            if (e.kind != OutputKind::Cursor || !opt.startsWith(QLatin1String("hotspot=")))
                return fail(lineNo, QStringLiteral("only a cursor takes an option, hotspot=x,y"));
            const QStringList xy = opt.mid(8).split(QLatin1Char(','));
            bool okX = false;
            bool okY = false;
            const int x = xy.size() == 2 ? xy[0].toInt(&okX) : -1;
            const int y = xy.size() == 2 ? xy[1].toInt(&okY) : -1;
            if (!okX || !okY)
                return fail(lineNo, QStringLiteral("bad hotspot"));
            e.hotspot = QPoint(x, y);
        } else if (e.kind == OutputKind::Cursor) {
            return fail(lineNo, QStringLiteral("a cursor needs hotspot=x,y"));
        }
        if (e.kind == OutputKind::Cursor && !QRect(QPoint(0, 0), e.sizes[0]).contains(e.hotspot))
            return fail(lineNo, QStringLiteral("hotspot outside the cursor"));
        result.entries.push_back(std::move(e));
    }
    return result;
}

QImage renderSvg(const QString& file, QSize size, QString* error) {
    if (!QFileInfo(file).isFile()) {
        *error = QStringLiteral("%1: no such file").arg(file);
        return {};
    }
    QSvgRenderer renderer(file);
    if (!renderer.isValid()) {
        *error = QStringLiteral("%1: not a valid SVG").arg(file);
        return {};
    }
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

QByteArray encodeIconFile(const std::vector<QImage>& images, OutputKind kind, QPoint hotspot) {
    if (images.empty() || images.size() > 0xFFFF || kind == OutputKind::Png)
        return {};
    std::vector<QByteArray> payloads;
    for (const QImage& img : images) {
        if (img.isNull() || img.width() > kMaxIconSide || img.height() > kMaxIconSide)
            return {};
        if (kind == OutputKind::Cursor && !img.rect().contains(hotspot))
            return {};
        const bool big = img.width() == kMaxIconSide || img.height() == kMaxIconSide;
        payloads.push_back(big ? pngEntry(img) : dibEntry(img));
    }
    QByteArray out;
    putU16(out, 0);
    putU16(out, kind == OutputKind::Cursor ? 2 : 1);
    putU16(out, quint16(images.size()));
    quint32 offset = quint32(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const QImage& img = images[i];
        out.append(char(img.width() == kMaxIconSide ? 0 : img.width()));
        out.append(char(img.height() == kMaxIconSide ? 0 : img.height()));
        out.append('\0');  // no palette
        out.append('\0');  // reserved
        if (kind == OutputKind::Cursor) {
            putU16(out, quint16(hotspot.x()));
            putU16(out, quint16(hotspot.y()));
        } else {
            putU16(out, 1);   // planes
            putU16(out, 32);  // bits per pixel
        }
        putU32(out, quint32(payloads[i].size()));
        putU32(out, offset);
        offset += quint32(payloads[i].size());
    }
    for (const QByteArray& p : payloads)
        out.append(p);
    return out;
}

QString resolveBelow(const QString& root, const QString& relative, bool createFolders) {
    if (!isSafeRelative(relative))
        return {};
    QString current = QDir::cleanPath(root);
    const QStringList parts = relative.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        QDir dir(current);
        QString name = parts[i];
        if (!QFileInfo::exists(dir.filePath(name))) {
            // Prefer an existing entry of the same name in other letter case;
            // sorted so the choice does not depend on the directory order.
            QStringList entries = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
            for (const QString& e : entries) {
                if (e.compare(name, Qt::CaseInsensitive) == 0) {
                    name = e;
                    break;
                }
            }
        }
        const QString next = dir.filePath(name);
        if (!last) {
            QFileInfo info(next);
            if (!info.exists()) {
                if (!createFolders || !dir.mkdir(name))
                    return {};
            } else if (!info.isDir()) {
                return {};
            }
        }
        current = next;
    }
    return current;
}

bool writeFileAtomic(const QString& file, const QByteArray& data, QString* error) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("%1: %2").arg(file, out.errorString());
        return false;
    }
    if (out.write(data) != data.size() || !out.commit()) {
        *error = QStringLiteral("%1: %2").arg(file, out.errorString());
        out.cancelWriting();
        return false;
    }
    return true;
}

QImage contactSheet(const std::vector<SheetItem>& items, int width) {
    constexpr int kGap = 16;
    constexpr int kCaption = 30;
    // Small pictures are shown a second time, enlarged without smoothing,
    // so that single pixels can be judged.
    constexpr int kSmall = 64;
    constexpr int kZoom = 4;
    width = std::max(width, 64);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(10);
    const QFontMetrics metrics(font);
    struct Placed {
        QPoint at;
        QImage image;
        QImage zoomed;
        QStringList caption;
    };
    std::vector<Placed> placed;
    int x = kGap;
    int y = kGap;
    int rowHeight = 0;
    for (const SheetItem& it : items) {
        Placed pl;
        pl.image = it.image.width() > width - 2 * kGap
                       ? it.image.scaledToWidth(width - 2 * kGap, Qt::SmoothTransformation)
                       : it.image;
        if (pl.image.width() <= kSmall && pl.image.height() <= kSmall)
            pl.zoomed = pl.image.scaled(pl.image.size() * kZoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        pl.caption = it.caption.split(QLatin1Char('\n'));
        int cellW = pl.image.width() + (pl.zoomed.isNull() ? 0 : pl.zoomed.width() + 6);
        for (const QString& line : pl.caption)
            cellW = std::max(cellW, metrics.horizontalAdvance(line));
        const int cellH = std::max(pl.image.height(), pl.zoomed.height());
        if (x + cellW + kGap > width && x > kGap) {
            x = kGap;
            y += rowHeight + kCaption + kGap;
            rowHeight = 0;
        }
        pl.at = QPoint(x, y);
        x += cellW + kGap;
        rowHeight = std::max(rowHeight, cellH);
        placed.push_back(std::move(pl));
    }
    const int height = y + rowHeight + kCaption + kGap;
    QImage sheet(width, height, QImage::Format_ARGB32);
    sheet.fill(QColor(0x3a, 0x3d, 0x42));
    QPainter p(&sheet);
    p.setFont(font);
    auto checker = [&p](const QRect& r) {
        // Checker behind each picture so transparent parts show as such.
        for (int cy = r.top(); cy <= r.bottom(); cy += 8) {
            for (int cx = r.left(); cx <= r.right(); cx += 8) {
                const bool dark = ((cx - r.left()) / 8 + (cy - r.top()) / 8) % 2;
                p.fillRect(QRect(cx, cy, 8, 8).intersected(r), dark ? QColor(0x55, 0x58, 0x5e) : QColor(0x6a, 0x6d, 0x73));
            }
        }
    };
    for (const Placed& pl : placed) {
        const QRect r(pl.at, pl.image.size());
        checker(r);
        p.drawImage(r.topLeft(), pl.image);
        int bottom = r.bottom();
        if (!pl.zoomed.isNull()) {
            const QRect z(QPoint(r.right() + 7, r.top()), pl.zoomed.size());
            checker(z);
            p.drawImage(z.topLeft(), pl.zoomed);
            bottom = std::max(bottom, z.bottom());
        }
        p.setPen(QColor(0xdd, 0xe1, 0xe6));
        for (qsizetype i = 0; i < pl.caption.size(); ++i)
            p.drawText(QPoint(r.left(), bottom + 13 + int(i) * 12), pl.caption[i]);
    }
    p.end();
    return sheet;
}

}  // namespace skin
