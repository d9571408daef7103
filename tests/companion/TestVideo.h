#pragma once

#include <QSize>
#include <QString>

// Writes a real video to `path`: `frameCount` frames at `framesPerSecond` of a gray picture, light in the upper
// half and dark in the lower, encoded as MPEG-4 Part 2 in the container that the file name's suffix picks
// (.mp4, .mkv, .avi). A clockwise `rotationDegrees` is stored as the stream's
// display matrix. False when it cannot.
bool writeTestVideo(const QString &path, QSize size, int frameCount, int framesPerSecond, int rotationDegrees = 0);
