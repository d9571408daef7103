#pragma once

#include "FileBrowserPreferences.h"
#include "ManagedContentModel.h"

#include <QList>
#include <QString>
#include <QStringList>

// The order and the category filter of a phone folder as the file list and grid show it. Names are compared the
// way a file manager orders them for the user's locale: ignoring case, runs of digits by their numeric value.

// a against b by `field`: -1 when a comes first, 0 when the field does not separate them, 1 otherwise.
int compareManagedFiles(FileBrowserSortField field, const ManagedFileEntry &a, const ManagedFileEntry &b);

// The key the kind field compares: the name's path extension lower-cased for the user's locale, or the empty text
// for a name without one (so such names sort first).
QString managedFileKindKey(const QString &name);

// Sorts `entries` in place, stably: folders before files in both directions, then by `field` in the direction,
// ties broken by name ascending whatever the direction.
void sortManagedFileEntries(QList<ManagedFileEntry> &entries, FileBrowserSortField field, bool ascending);

// The extension the category filter and the drag-out use: the last non-empty piece between dots, lower-cased;
// a name without a dot yields the whole name, an empty name or one of dots only the empty text.
QString managedFileExtension(const QString &name);

// The extensions of the files a category shows; empty for the categories that show every entry.
QStringList managedCategoryExtensions(ManagedContentCategory category);

// The entries that belong to `category`, in their order: for photos, videos and documents every folder and the
// files whose extension is in the category's list; for the others every entry.
QList<ManagedFileEntry> categoryFilteredEntries(const QList<ManagedFileEntry> &entries,
                                                ManagedContentCategory category);

// What the file list and grid show for a page: filtered by `category`, then sorted by the stored preferences.
QList<ManagedFileEntry> sortedManagedEntries(const QList<ManagedFileEntry> &pageEntries,
                                             ManagedContentCategory category,
                                             const FileBrowserPreferences &preferences);
