#include "MediaFile.h"

#include "ImageSignatures.h"
#include "VideoFile.h"

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QImageIOHandler>
#include <QImageReader>
#include <QMimeDatabase>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough for the largest picture decoded, 100 megapixels of four bytes.
constexpr int imageAllocationLimitMegabytes = 400;

// The rotation part of an EXIF orientation; a mirror alone turns nothing.
std::optional<int> orientationDegrees(QImageIOHandler::Transformations transformation)
{
    switch (transformation) {
    case QImageIOHandler::TransformationRotate90:
    case QImageIOHandler::TransformationMirrorAndRotate90:
        return 90;
    case QImageIOHandler::TransformationRotate180:
    case QImageIOHandler::TransformationFlip:
        return 180;
    case QImageIOHandler::TransformationRotate270:
    case QImageIOHandler::TransformationFlipAndRotate90:
        return 270;
    default:
        return std::nullopt;
    }
}

bool isDecodableSize(QSize size)
{
    return size.width() > 0 && size.height() > 0 &&
           static_cast<qint64>(size.width()) * size.height() <= MediaFile::maximumPixels;
}

std::optional<ManagedMediaKind> kindOfFile(QFile &file, QString *mimeType)
{
    return MediaFile::kindOfContent(file.peek(MediaFile::contentSniffBytes), mimeType);
}

} // namespace

bool MediaFile::openRegularFile(QFile &file, const QString &path, struct stat *status)
{
    return openRegularFileAt(file, AT_FDCWD, QFile::encodeName(path), status);
}

bool MediaFile::openRegularFileAt(QFile &file, int folderDescriptor, const QByteArray &name, struct stat *status)
{
    // O_NONBLOCK: a named pipe must not stall the phone until a writer comes; O_NOFOLLOW: a link put in the
    // file's place must not lead elsewhere.
    const int descriptor = ::openat(folderDescriptor, name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (descriptor < 0) {
        return false;
    }
    struct stat ownStatus = {};
    struct stat &fileStatus = status ? *status : ownStatus;
    if (::fstat(descriptor, &fileStatus) != 0 || !S_ISREG(fileStatus.st_mode) ||
        !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return false;
    }
    return true;
}

std::optional<ManagedMediaKind> MediaFile::kindOfContent(const QByteArray &head, QString *mimeType)
{
    // Containers that hold sound as well as pictures show no kind in their first bytes; they count as videos
    // here, and probing leaves out those without a video stream.
    static const QHash<QString, QString> videoContainers = {
        {QStringLiteral("application/x-matroska"), QStringLiteral("video/x-matroska")},
        {QStringLiteral("application/ogg"), QStringLiteral("video/ogg")},
    };
    QString name = QMimeDatabase().mimeTypeForData(head).name();
    std::optional<ManagedMediaKind> kind;
    if (name.startsWith(u"image/")) {
        kind = ManagedMediaKind::photo;
    } else if (name.startsWith(u"video/")) {
        kind = ManagedMediaKind::video;
    } else if (videoContainers.contains(name)) {
        kind = ManagedMediaKind::video;
        name = videoContainers.value(name);
    }
    if (kind && mimeType) {
        *mimeType = name;
    }
    return kind;
}

std::optional<MediaFacts> MediaFile::probe(QFile &file)
{
    if (file.pos() != 0 && !file.seek(0)) {
        return std::nullopt;
    }
    MediaFacts facts;
    const std::optional<ManagedMediaKind> kind = kindOfFile(file, &facts.mimeType);
    if (!kind) {
        return std::nullopt;
    }
    facts.kind = *kind;
    if (facts.kind == ManagedMediaKind::photo) {
        QImageReader reader(&file);
        reader.setDecideFormatFromContent(true);
        facts.size = reader.size();
        facts.orientationDegrees = orientationDegrees(reader.transformation());
    } else {
        const std::optional<VideoFacts> video = VideoFile::probe(file);
        if (!video) {
            return std::nullopt;
        }
        facts.size = video->size;
        facts.durationMillis = video->durationMillis;
        if (video->rotationDegrees != 0) {
            facts.orientationDegrees = video->rotationDegrees;
        }
    }
    if (facts.size.width() <= 0 || facts.size.height() <= 0) {
        return std::nullopt;
    }
    return facts;
}

bool MediaFile::mayBePhoto(QFile &file, qint64 size)
{
    // A small file is read whole in one call and looked at in memory, which spares the many calls to the system
    // that looking at the file itself makes.
    QBuffer contents;
    if (size < contentSniffBytes) {
        QByteArray bytes(size, Qt::Uninitialized);
        ssize_t read = 0;
        do {
            read = ::pread(file.handle(), bytes.data(), size_t(bytes.size()), 0);
        } while (read < 0 && errno == EINTR);
        if (read == size) {
            contents.setData(bytes);
            contents.open(QIODevice::ReadOnly);
        }
    }
    if (!ImageSignatures::mayBeImage(contents.isOpen() ? QByteArrayView(contents.data())
                                                       : file.peek(ImageSignatures::headBytes))) {
        return false;
    }
    // As probe() reads a photo's size.
    QImageReader reader(contents.isOpen() ? static_cast<QIODevice *>(&contents) : &file);
    reader.setDecideFormatFromContent(true);
    return reader.canRead();
}

QSize MediaFile::boundedSize(QSize stored, int maxDimension)
{
    const int longer = std::max(stored.width(), stored.height());
    if (longer <= maxDimension || longer <= 0) {
        return stored;
    }
    const double scale = static_cast<double>(std::max(maxDimension, 1)) / longer;
    return QSize(std::max(1, static_cast<int>(std::lround(stored.width() * scale))),
                 std::max(1, static_cast<int>(std::lround(stored.height() * scale))));
}

QImage MediaFile::preview(const QString &path, int maxDimension)
{
    QFile file;
    if (!openRegularFile(file, path)) {
        return {};
    }
    const std::optional<ManagedMediaKind> kind = kindOfFile(file, nullptr);
    if (kind == ManagedMediaKind::video) {
        return VideoFile::preview(file, maxDimension);
    }
    if (kind != ManagedMediaKind::photo || file.size() > maximumPhotoBytes) {
        return {};
    }
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAllocationLimit(imageAllocationLimitMegabytes);
    const QSize stored = reader.size();
    if (!isDecodableSize(stored)) {
        return {};
    }
    // The scaled size is of the stored picture; the EXIF orientation is applied after scaling.
    reader.setScaledSize(boundedSize(stored, maxDimension));
    reader.setAutoTransform(true);
    return reader.read();
}
