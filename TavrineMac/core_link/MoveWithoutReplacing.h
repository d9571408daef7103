#pragma once

#include <QByteArray>

// What became of a move that must not replace anything.
enum class MoveOutcome
{
    moved,
    nameTaken, // something stands under the new name already; nothing moved
    failed,    // errno says why; nothing moved
};

// Moves the file, link or folder `from` in the folder `fromFolder` to the name `to` in the folder `toFolder` (each an
// open folder, or AT_FDCWD for a path), unless something already stands at `to`, which is never replaced. Where the
// file system does not know a rename that refuses to replace, a second name is made and the first removed, and where it
// has no second names either, an empty item of our own claims the name, so that the rename replaces only that.
MoveOutcome moveWithoutReplacing(int fromFolder, const QByteArray &from, int toFolder, const QByteArray &to);
