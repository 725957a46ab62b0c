// Build-time renderer of the configurator's skin: reads the skin manifest,
// renders each SVG source at its exact pixel size and writes PNG pictures,
// Windows cursor files (.cur) and multi-size icon files (.ico).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace skin {

/// What an output file holds; chosen by its extension.
enum class OutputKind {
    Png,     ///< ".png": one picture, read by the image cache of the windows
    Cursor,  ///< ".cur": one 32-bit cursor image with its hotspot
    Icon,    ///< ".ico": one 32-bit image per listed size
};

/// One line of the manifest: an output file below the program folder.
struct ManifestEntry {
    QString path;              ///< relative, '/'-separated, case as the windows ask for it
    std::vector<QSize> sizes;  ///< one size, or several for an icon
    QString source;            ///< SVG file relative to the source folder
    QPoint hotspot;            ///< cursors only
    OutputKind kind = OutputKind::Png;
    int line = 0;              ///< manifest line, for messages
};

/// Parsed manifest, or the first error with its line number.
struct Manifest {
    std::vector<ManifestEntry> entries;
    QString error;  ///< empty on success
};

/// Parses the manifest text. Lines: "<path> <size>[,<size>...] <svg> [hotspot=x,y]",
/// '#' starts a comment. Any malformed line rejects the whole manifest.
Manifest parseManifest(std::string_view text);

/// Renders an SVG file into a transparent ARGB32 picture of exactly `size`.
/// Returns a null image and sets `error` when the file is missing or invalid.
QImage renderSvg(const QString& file, QSize size, QString* error);

/// Encodes an ICO (type 1) or CUR (type 2) file: one directory entry per image,
/// 32-bit DIB with an AND mask below 256 pixels, PNG data at 256.
/// Cursors put the hotspot into the planes/bit-count fields of each entry.
/// Returns an empty array when an image is null, larger than 256 pixels or
/// there are no images, or, for a cursor, the hotspot is outside the image.
QByteArray encodeIconFile(const std::vector<QImage>& images, OutputKind kind, QPoint hotspot = {});

/// Maps a relative '/'-separated path onto `root`, reusing an existing folder
/// or file whose name differs only in letter case (the windows ask for
/// "Images" and "images", "Buttons" and "buttons"). When `createFolders` is
/// set, missing folders are made. Returns an empty string when the path
/// leaves the root or a folder cannot be made.
QString resolveBelow(const QString& root, const QString& relative, bool createFolders);

/// Writes `data` to `file` atomically (temporary file, flush, rename).
bool writeFileAtomic(const QString& file, const QByteArray& data, QString* error);

/// One picture of the contact sheet with its caption.
struct SheetItem {
    QImage image;
    QString caption;
};

/// Lays the pictures out on a dark sheet, each on a transparency checker
/// with its caption underneath.
QImage contactSheet(const std::vector<SheetItem>& items, int width);

}  // namespace skin
