#include "ImageSignatures.h"

#include <QImageReader>
#include <QList>

#include <algorithm>

namespace {

bool hasOnlyKnownImageReaders()
{
    static const bool onlyKnown = [] {
        static const QList<QByteArray> known = {"bmp", "cur", "gif", "ico", "jfif", "jpeg", "jpg",
                                                "pbm", "pgm", "png", "ppm", "xbm",  "xpm"};
        const QList<QByteArray> formats = QImageReader::supportedImageFormats();
        return std::all_of(formats.begin(), formats.end(),
                           [](const QByteArray &format) { return known.contains(format.toLower()); });
    }();
    return onlyKnown;
}

bool showsKnownImageStart(QByteArrayView head)
{
    if (head.startsWith("\xFF\xD8") || head.startsWith("\x89PNG") || head.startsWith("GIF8") || head.startsWith("BM") ||
        head.startsWith("/* XPM")) {
        return true;
    }
    // Netpbm: "P1" to "P6".
    if (head.size() >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6') {
        return true;
    }
    // Icons and cursors: a reserved zero and the type 1 or 2, little-endian.
    if (head.size() >= 4 && head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) && head[3] == 0) {
        return true;
    }
    return head.contains("#define");
}

} // namespace

bool ImageSignatures::mayBeImage(QByteArrayView head)
{
    return !hasOnlyKnownImageReaders() || showsKnownImageStart(head);
}
