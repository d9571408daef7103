#pragma once

#include <QImage>
#include <QSize>

#include <optional>

class QIODevice;

struct VideoFacts
{
    QSize size; // pixels as stored
    std::optional<qint64> durationMillis;
    int rotationDegrees = 0; // clockwise for display: 0, 90, 180 or 270
};

// Videos through FFmpeg's libraries, read from an open, seekable device, so that what is decoded is the
// file that was checked before opening it.
namespace VideoFile {

// The facts of the best video stream; nothing when there is none or its picture is empty or too large.
std::optional<VideoFacts> probe(QIODevice &device);

// A frame from about a tenth into the video (or the first that decodes), turned upright and scaled so that
// its longer side is min(maxDimension, its own longer side); null when no frame decodes.
QImage preview(QIODevice &device, int maxDimension);

} // namespace VideoFile
