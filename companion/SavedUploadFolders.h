#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <vector>

// The upload-folders file in the phone's own folder: the folder (as a storage id) that the computer prepared for each
// upload, by transfer id, so that a file the core reports again at the next start goes where it was sent. One line is
// added for each preparation, a JSON object {"transferId", "directoryId"}, and the file is written anew with the
// newest entries only once it holds twice as many lines as are kept.
namespace SavedUploadFolders {

// The computer prepares one upload at a time, just before it sends the file: a few are enough.
constexpr qsizetype maximumEntries = 64;

using Folders = std::vector<std::pair<QString, QString>>; // transfer id, folder id; oldest first

struct Contents
{
    Folders folders;     // the newest entry of each transfer, at most maximumEntries of them
    qsizetype lines = 0; // the lines the file holds
};

// The entries of `bytes`, an upload-folders file. A line that is no entry (cut short, or with an id longer than the
// computer's requests may send) is left out. Nothing when the bytes are more than such a file holds.
std::optional<Contents> parse(const QByteArray &bytes);

// The entries saved in the storage folder `storageDirectory`: none when there is no file; nothing, with the reason in
// `errorMessage`, when the file cannot be read.
std::optional<Contents> load(const QString &storageDirectory, QString *errorMessage);

// Adds the entry of one preparation. False, with the reason in `errorMessage`, when it could not be written.
bool append(const QString &storageDirectory, const QString &transferId, const QString &folderId, QString *errorMessage);

// Replaces the file with `folders` (at most maximumEntries of them), as one step. False, with the reason in
// `errorMessage`, when it could not be written; the old file then stays.
bool rewrite(const QString &storageDirectory, const Folders &folders, QString *errorMessage);

} // namespace SavedUploadFolders
