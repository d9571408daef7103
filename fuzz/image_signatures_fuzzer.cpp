// The quick refusal of files that are no picture, against the image readers themselves: whatever bytes a reader
// takes must pass it, judged from the first bytes alone as the phone judges a file.
#include "FuzzCheck.h"
#include "ImageSignatures.h"

#include <QBuffer>
#include <QImageReader>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (reader.canRead()) {
        requirePromise(ImageSignatures::mayBeImage(
                           QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), ImageSignatures::headBytes))),
                       "bytes an image reader takes are not refused");
    }
    return 0;
}
