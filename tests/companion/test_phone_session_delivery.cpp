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

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using Deliveries = TestTable<QString, bool, QString, QList<TransferEventKind>>;

// A line of the upload-folders file, as the phone writes it.
QByteArray lineFor(const char *transferId, const char *folder)
{
    return QJsonDocument(QJsonObject{{u"directoryId"_s, StorageIds::idForRelativePath(QString::fromUtf8(folder))},
                                     {u"transferId"_s, QString::fromUtf8(transferId)}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

namespace {

// What the phone syncs, each file or folder with its path below the storage folder and how many transfers were
// acknowledged by then; fsync() below records them. Moves can be made to fail as between two file systems.
struct DiskSyncs
{
    QString storage;
    QStringList synced;
    QList<qsizetype> acknowledgedBefore;
    const FakeTransferClient *client = nullptr;
    int folderFailure = 0; // the error a folder's sync fails with; 0: none
    bool movesCrossFileSystems = false;
} diskSyncs;

int crossingFileSystems()
{
    errno = EXDEV;
    return -1;
}

template <typename Function> Function *nextDefinition(const char *name)
{
    return reinterpret_cast<Function *>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

// A sync is recorded; a folder's fails when asked to, as on a disk that reports an error.
int fsync(int descriptor)
{
    struct stat status = {};
    const bool folder = ::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode);
    if (diskSyncs.client) {
        const QString path = QFile::symLinkTarget(u"/proc/self/fd/%1"_s.arg(descriptor));
        diskSyncs.synced.append(QDir(diskSyncs.storage).relativeFilePath(path));
        diskSyncs.acknowledgedBefore.append(diskSyncs.client->acknowledgedTransferIds.size());
        if (folder && diskSyncs.folderFailure != 0) {
            errno = diskSyncs.folderFailure;
            return -1;
        }
    }
    static const auto next = nextDefinition<int(int)>("fsync");
    return next(descriptor);
}

int renameat2(int folder, const char *path, int newFolder, const char *newPath, unsigned int flags)
{
    static const auto next = nextDefinition<int(int, const char *, int, const char *, unsigned int)>("renameat2");
    return diskSyncs.movesCrossFileSystems ? crossingFileSystems() : next(folder, path, newFolder, newPath, flags);
}

int rename(const char *path, const char *newPath)
{
    static const auto next = nextDefinition<int(const char *, const char *)>("rename");
    return diskSyncs.movesCrossFileSystems ? crossingFileSystems() : next(path, newPath);
}

int link(const char *path, const char *newPath)
{
    static const auto next = nextDefinition<int(const char *, const char *)>("link");
    return diskSyncs.movesCrossFileSystems ? crossingFileSystems() : next(path, newPath);
}
}

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
        FakeTransferClient *fake = nullptr;
        const std::unique_ptr<PhoneSession> session = makeSession(fake);
        FakeTransferClient &client = *fake;
        session->start(m_inputReadEnd->get());

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

    void filesLeftInTheInboxGoWhereTheyWereSentAtTheNextStart_data()
    {
        // What stands in the upload-folders file when the phone starts again (empty: what the first run left), and
        // where the file is stored.
        const TestTable<QByteArray, QString> rows;
        rows("as the first run left it", {}, u"Music/song (1).mp3"_s);
        rows("its line cut short", "{\"directoryId\":\"TXVzaWM\",\"transf", u"song.mp3"_s);
        rows("not a text for a folder", "{\"directoryId\":7,\"transferId\":\"upload-1\"}\n", u"song.mp3"_s);
        rows("an earlier line cut short", "{\"directoryId\":\"RG9\n" + lineFor("upload-1", "Music"),
             u"Music/song (1).mp3"_s);
        rows("prepared twice, the newest holds", lineFor("upload-1", "Docs") + lineFor("upload-1", "Music"),
             u"Music/song (1).mp3"_s);
    }

    // The phone stopped once the file was complete in the inbox, before it moved it: the core reports it again at the
    // next start, and it goes into the folder the computer prepared, where the computer already said it is.
    void filesLeftInTheInboxGoWhereTheyWereSentAtTheNextStart()
    {
        const auto [savedFile, storedPath] = TestTable<QByteArray, QString>::fetch();
        {
            FakeTransferClient *fake = nullptr;
            const std::unique_ptr<PhoneSession> session = makeSession(fake);
            session->start(m_inputReadEnd->get());
            const QJsonObject payload{{u"transferId"_s, u"upload-1"_s},
                                      {u"directoryId"_s, StorageIds::idForRelativePath(u"Music"_s)}};
            fake->requests.enqueue({u"request-1"_s, u"files.prepare_upload"_s,
                                    QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact))});
            QTRY_COMPARE(fake->responses.size(), 1);
            QVERIFY(fake->responses.constFirst().success);
        }
        if (!savedFile.isEmpty())
            QVERIFY(writeFile(StorageLayout::uploadFoldersPath(m_storage), savedFile));
        const QString inboxFile = StorageLayout::inboxPath(m_storage) + u"/song.mp3"_s;
        QVERIFY(writeFile(inboxFile, "new"));

        FakeTransferClient *fake = nullptr;
        const std::unique_ptr<PhoneSession> session = makeSession(fake);
        fake->events.enqueue({.kind = TransferEventKind::completed,
                              .direction = TransferDirection::receiving,
                              .transferId = u"upload-1"_s,
                              .fileName = u"song.mp3"_s,
                              .transferredBytes = 3,
                              .totalBytes = 3});
        session->start(m_inputReadEnd->get());
        QTRY_COMPARE(fake->acknowledgedTransferIds, QStringList{u"upload-1"_s});
        QCOMPARE(readFile(QDir(m_storage).filePath(storedPath)), "new"_ba);
        QCOMPARE(readFile(m_storage + u"/Music/song.mp3"_s), "old"_ba);
    }

    void filesDeliveredTogetherShareOneFolderSync_data()
    {
        // The error the folder's sync fails with (0: none), and whether the storage lies on another file system than
        // the inbox, so that each file is copied.
        const TestTable<int, bool> rows;
        rows("the folder is synced", 0, false);
        rows("the folder cannot be synced", EIO, false);
        rows("copied to another file system", 0, true);
    }

    // Files whose completions the phone finds together are moved and their folder synced once (with each file's bytes
    // where it had to be copied), before any of them is acknowledged; when the folder cannot be synced, none is.
    void filesDeliveredTogetherShareOneFolderSync()
    {
        const auto [failure, copied] = TestTable<int, bool>::fetch();
        FakeTransferClient *fake = nullptr;
        const std::unique_ptr<PhoneSession> session = makeSession(fake);
        FakeTransferClient &client = *fake;
        QStringList ids;
        QStringList expected;
        for (int index = 0; index < 5; ++index) {
            const QString name = u"photo-%1.jpg"_s.arg(index);
            QVERIFY(writeFile(StorageLayout::inboxPath(m_storage) + u'/' + name, name.toUtf8()));
            ids.append(u"upload-%1"_s.arg(index));
            expected.append(name);
            client.events.enqueue({.kind = TransferEventKind::completed,
                                   .direction = TransferDirection::receiving,
                                   .transferId = ids.last(),
                                   .fileName = name,
                                   .transferredBytes = uint64_t(name.size()),
                                   .totalBytes = uint64_t(name.size())});
        }
        if (!copied)
            expected.clear();
        expected.append(u"."_s);
        diskSyncs = {QFileInfo(m_storage).canonicalFilePath(), {}, {}, &client, failure, copied};
        const auto forget = qScopeGuard([] { diskSyncs = {}; });

        session->start(m_inputReadEnd->get());
        QTRY_VERIFY(client.events.isEmpty());
        QTRY_COMPARE(diskSyncs.synced.size(), expected.size());
        QCOMPARE(diskSyncs.synced, expected);
        QCOMPARE(diskSyncs.acknowledgedBefore, QList<qsizetype>(expected.size(), 0));
        QCOMPARE(client.acknowledgedTransferIds, failure == 0 ? ids : QStringList());
        for (int index = 0; index < 5; ++index) {
            QCOMPARE(readFile(m_storage + u"/photo-%1.jpg"_s.arg(index)), u"photo-%1.jpg"_s.arg(index).toUtf8());
        }
    }

    // A phone killed while it saved its pairing, its applications or its trash's index left the new copy beside
    // the file, as large as the file: such copies go when the phone starts again, while its own files, other names
    // and links stay.
    void copiesLeftByAnInterruptedSaveGoAtStart()
    {
        const QStringList leftovers{u".tavrine/state.json.Ab3xYz"_s, u".tavrine/applications.json.QW12er"_s,
                                    u".tavrine/trash/index.json.zz99AA"_s};
        const QStringList kept{u".tavrine/state.json"_s, u".tavrine/trash/index.json"_s, u".tavrine/state.json.old"_s,
                               u"Docs/state.json.Ab3xYz"_s};
        QStringList entries = leftovers + kept;
        entries.append(u".tavrine/applications.json.link99 -> ../Music/song.mp3"_s);
        QVERIFY(makeEntries(m_storage, entries));
        FakeTransferClient *fake = nullptr;
        const std::unique_ptr<PhoneSession> session = makeSession(fake);
        session->start(m_inputReadEnd->get());
        for (const QString &path : leftovers)
            QVERIFY2(!QFileInfo::exists(QDir(m_storage).filePath(path)), qPrintable(path));
        for (const QString &path : kept)
            QVERIFY2(QFileInfo::exists(QDir(m_storage).filePath(path)), qPrintable(path));
        QVERIFY(QFileInfo(QDir(m_storage).filePath(u".tavrine/applications.json.link99"_s)).isSymLink());
        QCOMPARE(readFile(m_storage + u"/Music/song.mp3"_s), "old"_ba);
    }

private:
    // A session over a fake client, serving the storage folder, its input open until the next one is made; the
    // caller starts it.
    std::unique_ptr<PhoneSession> makeSession(FakeTransferClient *&client)
    {
        int input[2];
        if (::pipe(input) != 0)
            qFatal("no pipe for the phone's input");
        m_inputReadEnd.emplace(input[0]);
        m_inputWriteEnd.emplace(input[1]);
        auto ownedClient = std::make_unique<FakeTransferClient>();
        client = ownedClient.get();
        PhoneOptions options;
        options.storageDirectory = m_storage;
        return std::make_unique<PhoneSession>(std::move(ownedClient), options, ManagementHandlers(), std::nullopt);
    }

    std::optional<FileDescriptor> m_inputReadEnd;
    std::optional<FileDescriptor> m_inputWriteEnd;
    std::optional<QTemporaryDir> m_root;
    QString m_storage;
};

QTEST_GUILESS_MAIN(PhoneSessionDeliveryTest)
#include "test_phone_session_delivery.moc"
