#include "FakeTransferClient.h"
#include "FileDescriptor.h"
#include "PhoneSession.h"
#include "StorageIds.h"
#include "StorageLayout.h"
#include "StorageTree.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

using Deliveries = TestTable<QString, bool, QString, QList<TransferEventKind>>;

// A file the computer uploads arrives in the inbox and is delivered by the running session.
class PhoneSessionDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        m_storage = m_root->filePath(u"storage"_s);
        QVERIFY(makeEntries(m_storage, {u".tavrine/inbox/"_s, u"Docs/"_s, u"Music/song.mp3=old"_s}));
    }

    void receivedFileLandsInItsPreparedFolder_data()
    {
        // The prepared folder (empty: nothing prepared), whether it goes before the file arrives, and where the
        // file is stored (empty: it stays in the inbox); the events of its transfer before it is complete.
        const Deliveries rows;
        rows("prepared folder, name taken", u"Music"_s, false, u"Music/song (1).mp3"_s, {});
        rows("nothing prepared", QString(), false, u"song.mp3"_s, {});
        rows("prepared folder removed before the file arrives", u"Docs"_s, true, QString(), {});
        // The computer prepares a transfer again before it sends a failed one anew.
        rows("transfer failed after it was prepared", u"Music"_s, false, u"song.mp3"_s,
             {TransferEventKind::receiving, TransferEventKind::failed});
    }

    // Delivered files are acknowledged; one that cannot be delivered stays in the inbox, unacknowledged.
    void receivedFileLandsInItsPreparedFolder()
    {
        const auto [preparedFolder, folderRemovedBeforeArrival, storedPath, eventsBefore] = Deliveries::fetch();

        int input[2];
        QCOMPARE(::pipe(input), 0);
        const FileDescriptor inputReadEnd(input[0]);
        const FileDescriptor inputWriteEnd(input[1]);
        auto ownedClient = std::make_unique<FakeTransferClient>();
        FakeTransferClient &client = *ownedClient;
        PhoneOptions options;
        options.storageDirectory = m_storage;
        PhoneSession session(std::move(ownedClient), options, ManagementHandlers(), std::nullopt);
        session.start(inputReadEnd.get());

        if (!preparedFolder.isEmpty()) {
            const QJsonObject payload{{u"transferId"_s, u"upload-1"_s},
                                      {u"directoryId"_s, StorageIds::idForRelativePath(preparedFolder)}};
            client.requests.enqueue({u"request-1"_s, u"files.prepare_upload"_s,
                                     QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact))});
            QTRY_COMPARE(client.responses.size(), 1);
            QVERIFY(client.responses.constFirst().success);
        }
        if (folderRemovedBeforeArrival)
            QVERIFY(QDir(m_storage + u'/' + preparedFolder).removeRecursively());

        for (const TransferEventKind kind : eventsBefore)
            client.events.enqueue(
                {.kind = kind, .direction = TransferDirection::receiving, .transferId = u"upload-1"_s});
        const QString inboxFile = StorageLayout::inboxPath(m_storage) + u"/song.mp3"_s;
        QVERIFY(writeFile(inboxFile, "new"));
        client.events.enqueue({.kind = TransferEventKind::completed,
                               .direction = TransferDirection::receiving,
                               .transferId = u"upload-1"_s,
                               .fileName = u"song.mp3"_s,
                               .transferredBytes = 3,
                               .totalBytes = 3,
                               .peerName = u"computer"_s});
        if (storedPath.isEmpty()) {
            QTRY_VERIFY(client.events.isEmpty());
            QVERIFY(client.acknowledgedTransferIds.isEmpty());
            QCOMPARE(readFile(inboxFile), "new"_ba);
        } else {
            QTRY_COMPARE(client.acknowledgedTransferIds, QStringList{u"upload-1"_s});
            QCOMPARE(readFile(QDir(m_storage).filePath(storedPath)), "new"_ba);
            QVERIFY(!QFile::exists(inboxFile));
        }
        QCOMPARE(readFile(m_storage + u"/Music/song.mp3"_s), "old"_ba);
    }

private:
    std::optional<QTemporaryDir> m_root;
    QString m_storage;
};

QTEST_GUILESS_MAIN(PhoneSessionDeliveryTest)
#include "test_phone_session_delivery.moc"
