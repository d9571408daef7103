#pragma once

#include "ManagedContentModel.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

class QFile;
struct stat;

// What probing a photo or video finds out.
struct MediaFacts
{
    ManagedMediaKind kind = ManagedMediaKind::photo;
    QString mimeType;
    QSize size;                            // pixels as stored
    std::optional<int> orientationDegrees; // clockwise rotation for display, when there is one
    std::optional<qint64> durationMillis;  // videos whose length is known

    bool operator==(const MediaFacts &) const = default;
};

// Photos and videos of the storage folder, told by their contents rather than by their names: Qt's image
// reader for photos, FFmpeg's libraries for videos. Files come from anyone, so a file is only read when it
// is a regular file reached without a symbolic link, and decoding is bounded in pixels and bytes.
namespace MediaFile {

// Larger pictures are not decoded (100 megapixels).
constexpr qint64 maximumPixels = 100'000'000;
// Larger photo files are not decoded for a preview.
constexpr qint64 maximumPhotoBytes = qint64(256) << 20;
// How much of a file its content type is told from.
constexpr qint64 contentSniffBytes = 16 * 1024;

// Opens the regular file at `path` for reading: false for a symbolic link, a pipe, a device or a folder. The file's
// status goes to `status` when one is given.
bool openRegularFile(QFile &file, const QString &path, struct stat *status = nullptr);
// The same for the file `name` in the folder open as `folderDescriptor`.
bool openRegularFileAt(QFile &file, int folderDescriptor, const QByteArray &name, struct stat *status);

// The kind of media that the first bytes of a file show, with its MIME type.
std::optional<ManagedMediaKind> kindOfContent(const QByteArray &head, QString *mimeType = nullptr);

// The facts of the photo or video open as `file` (by openRegularFile, not read from yet); nothing for any other file
// or one that does not decode.
std::optional<MediaFacts> probe(QFile &file);

// False for the file of `size` bytes open as `file` (by openRegularFile, not read from yet) that is surely no photo:
// Qt's image reader knows no picture format by its first bytes, so probe() would not read its size. Much cheaper than
// probe() for most files; a video may be either.
bool mayBePhoto(QFile &file, qint64 size);

// `stored` scaled so that its longer side is at most `maxDimension`, keeping its aspect ratio.
QSize boundedSize(QSize stored, int maxDimension);

// The photo or a frame of the video at `path`, turned upright and scaled so that its longer side is
// min(maxDimension, its own longer side); null when it is no photo or video or does not decode.
QImage preview(const QString &path, int maxDimension);

} // namespace MediaFile
