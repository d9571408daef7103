#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Moves a completely received file from the inbox into a folder of the storage, never over another file.
class ReceivedFileDelivery
{
public:
    explicit ReceivedFileDelivery(const QString &inboxDirectory);

    // Moves the inbox file `fileName` (a name that came over the network) into `targetDirectory` (the
    // storage folder or a folder inside it, resolved by the caller) under a free name and returns that
    // name. Gives nothing, with the reason in `errorMessage`, when the name is not a plain file name, the
    // inbox holds no regular file by that name, or the move fails; the file then stays in the inbox.
    std::optional<QString> deliver(const QString &fileName, const QString &targetDirectory, QString *errorMessage);

    // Makes the names of the files delivered since the last call durable, one sync of each folder they went to (and
    // the bytes of a file that had to be copied), so that a power cut cannot put them back into the inbox once they
    // are acknowledged. False, with the reason in
    // `errorMessage`, when a folder could not be synced.
    bool syncDeliveredFolders(QString *errorMessage);

private:
    QString m_inboxDirectory;
    QStringList m_filesToSync; // copies made where a move could not keep the file itself
    QStringList m_foldersToSync;
};
