#pragma once

#include <QByteArrayView>

// What the image readers present need at the start of a file, so that a file that shows none of it is known to be no
// picture without asking them: for a text file the X bitmap reader alone parses every line of its first 4 KiB.
namespace ImageSignatures {

// How much of a file's start is looked at.
constexpr qsizetype headBytes = 8 * 1024;

// False only when `head`, the first bytes of a file (the first headBytes of them, or all of a shorter file), shows
// nothing that any image reader present needs: X bitmaps a "#define" line within their first 4 KiB, every other
// format its signature. Always true while a reader other than those of the toolkit's own formats is installed.
bool mayBeImage(QByteArrayView head);

} // namespace ImageSignatures
