#include "FakeTransferClient.h"
#include "FileDescriptor.h"
#include "PhoneSession.h"
#include "StorageIds.h"
#include "StorageLayout.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// A file the computer uploads arrives in the inbox and is delivered by the running session.
class PhoneSessionDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        QVERIFY(m_root->isValid());
        m_storage = m_root->filePath(u"storage"_s);
        for (const QString &folder :
             {StorageLayout::inboxPath(m_storage), m_storage + u"/Music"_s, m_storage + u"/Docs"_s}) {
            QVERIFY(QDir().mkpath(folder));
        }
        QVERIFY(writeFile(m_storage + u"/Music/song.mp3"_s, "old"));
    }

    void receivedFileLandsInItsPreparedFolder_data()
    {
        QTest::addColumn<QString>("preparedTransferId"); // empty: nothing prepared
        QTest::addColumn<QString>("preparedFolder");
        QTest::addColumn<bool>("folderRemovedBeforeArrival");
        QTest::addColumn<QString>("storedPath"); // empty: the file stays in the inbox

        QTest::newRow("prepared folder, name taken") << u"upload-1"_s << u"Music"_s << false << u"Music/song (1).mp3"_s;
        QTest::newRow("prepared folder, name free") << u"upload-1"_s << u"Docs"_s << false << u"Docs/song.mp3"_s;
        QTest::newRow("nothing prepared") << QString() << QString() << false << u"song.mp3"_s;
        QTest::newRow("prepared for another transfer") << u"upload-2"_s << u"Music"_s << false << u"song.mp3"_s;
        QTest::newRow("prepared folder removed before the file arrives")
            << u"upload-1"_s << u"Docs"_s << true << QString();
    }

    void receivedFileLandsInItsPreparedFolder()
    {
        QFETCH(QString, preparedTransferId);
        QFETCH(QString, preparedFolder);
        QFETCH(bool, folderRemovedBeforeArrival);
        QFETCH(QString, storedPath);

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

        if (!preparedTransferId.isEmpty()) {
            const QJsonObject payload{{u"transferId"_s, preparedTransferId},
                                      {u"directoryId"_s, StorageIds::idForRelativePath(preparedFolder)}};
            client.requests.enqueue({u"request-1"_s, u"files.prepare_upload"_s,
                                     QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact))});
            QTRY_COMPARE(client.responses.size(), 1);
            QVERIFY(client.responses.constFirst().success);
        }
        if (folderRemovedBeforeArrival) {
            QVERIFY(QDir(m_storage + u'/' + preparedFolder).removeRecursively());
        }

        const QString inboxFile = StorageLayout::inboxPath(m_storage) + u"/song.mp3"_s;
        QVERIFY(writeFile(inboxFile, "new"));
        client.events.enqueue({TransferEventKind::completed,
                               TransferDirection::receiving,
                               u"upload-1"_s,
                               u"song.mp3"_s,
                               3,
                               3,
                               u"computer"_s,
                               {},
                               {}});

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
