#pragma once

#include <QString>

#include <optional>

// Moves a completely received file from the inbox into the storage folder, never over another file.
class ReceivedFileDelivery
{
public:
    ReceivedFileDelivery(const QString &inboxDirectory, const QString &storageDirectory);

    // Moves the inbox file `fileName` (a name that came over the network) into the storage folder under
    // a free name and returns that name. Gives nothing, with the reason in `errorMessage`, when the name
    // is not a plain file name, the inbox holds no regular file by that name, or the move fails; the file
    // then stays in the inbox.
    std::optional<QString> deliver(const QString &fileName, QString *errorMessage) const;

private:
    QString m_inboxDirectory;
    QString m_storageDirectory;
};
