#include "DeviceManagementStore.h"
#include "LinkedStoreFixture.h"
#include "StorageIds.h"
#include "TestVideo.h"

#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QtTest>

using namespace Qt::StringLiterals;
using Phase = TransferStore::Phase;
using Policy = ManagedConflictPolicy;

namespace {

// Every file below `folder` by its path relative to it, with its SHA-256.
QMap<QString, QByteArray> treeDigests(const QString &folder)
{
    QMap<QString, QByteArray> digests;
    QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        digests.insert(QDir(folder).relativeFilePath(path), fileSha256(path));
    }
    return digests;
}

} // namespace

using Conflicts = TestTable<QString, Policy, QStringList, bool>;

// The desktop's device-management store over the real core and tavrine-phone serving a folder, over 127.0.0.1.
// The slots run in order against one paired phone.
class DeviceManagementJourneyTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LinkedStoreFixture> m_link;
    std::unique_ptr<QProcess> m_phone;
    std::unique_ptr<DeviceManagementStore> m_store;
    QString m_storage;

    QString storagePath(const QString &relativePath) const { return QDir(m_storage).filePath(relativePath); }

    // Lists the phone folder at `relativePath` into the store's current page.
    bool open(const QString &relativePath)
    {
        awaitTask(
            m_store->listFolder(relativePath.isEmpty() ? u"root"_s : StorageIds::idForRelativePath(relativePath)));
        return m_store->currentPage() && !m_store->errorMessage();
    }

    ManagedFileEntry entryNamed(const QString &name) const
    {
        const QList<ManagedFileEntry> &entries = m_store->currentPage()->entries;
        const auto found = std::ranges::find(entries, name, &ManagedFileEntry::name);
        return found == entries.end() ? ManagedFileEntry() : *found;
    }

private slots:
    void initTestCase()
    {
        m_link = std::make_unique<LinkedStoreFixture>();
        TransferStore &transfers = m_link->makeStore();
        transfers.beginNewPairing();
        QVERIFY(transfers.pairingPayload());
        m_storage = m_link->makeFolder(u"phone-storage"_s);
        m_phone = std::make_unique<QProcess>();
        m_phone->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_phone->start(QCoreApplication::applicationDirPath() + u"/tavrine-phone"_s,
                       {u"pair"_s, u"--url"_s, *transfers.pairingPayload(), u"--storage"_s, m_storage, u"--name"_s,
                        u"Journey phone"_s, u"--confirm"_s});
        QVERIFY(m_phone->waitForStarted());
        QVERIFY(m_link->waitUntil([&] { return transfers.phase() == Phase::connected(u"Journey phone"_s); }));
        m_store = std::make_unique<DeviceManagementStore>(transfers);
        m_store->setActivePeer(u"journey"_s);
        awaitTask(m_store->refreshOverview());
        QVERIFY2(m_store->snapshot(), qPrintable(m_store->errorMessage().value_or(QString())));
    }

    void cleanupTestCase()
    {
        if (m_phone) {
            m_phone->write("quit\n");
            m_phone->waitForFinished(10'000);
        }
    }

    void bigFolderIsListedToTheEnd()
    {
        for (int index = 0; index < 5000; ++index) {
            QVERIFY(writeFile(storagePath(u"Big/item-%1.txt"_s.arg(index)), QByteArray()));
        }
        awaitTask(m_store->loadRoots());
        QCOMPARE(m_store->roots().size(), 1);
        QVERIFY(open(u"Big"_s));
        QCOMPARE(m_store->currentPage()->entries.size(), 5000);
        QVERIFY(QDir(storagePath(u"Big"_s)).removeRecursively());
    }

    void conflictPolicies_data()
    {
        // Operation, policy, the names in the target folder on the phone afterwards, success.
        const Conflicts rows;
        rows("rename, error", u"rename"_s, Policy::error, {u"a.txt"_s, u"b.txt"_s}, false);
        rows("copy, keep both", u"copy"_s, Policy::keepBoth, {u"a (1).txt"_s, u"a.txt"_s}, true);
        rows("move, replace", u"move"_s, Policy::replace, {u"a.txt"_s}, true);
    }

    // Rename within Work, copy and move from Work into Work/Sub; each starts from a.txt and b.txt in Work
    // and a.txt in Sub.
    void conflictPolicies()
    {
        const auto [operation, policy, namesAfter, succeeds] = Conflicts::fetch();
        QDir(storagePath(u"Work"_s)).removeRecursively();
        QVERIFY(writeFile(storagePath(u"Work/a.txt"_s), "source a"));
        QVERIFY(writeFile(storagePath(u"Work/b.txt"_s), "old b"));
        QVERIFY(writeFile(storagePath(u"Work/Sub/a.txt"_s), "old sub a"));
        QVERIFY(open(u"Work"_s));
        const ManagedFileEntry a = entryNamed(u"a.txt"_s);
        bool done = false;
        if (operation == u"rename") {
            done = awaitTask(m_store->rename(a, u"b.txt"_s, policy));
        } else {
            m_store->putOnClipboard({a}, operation == u"move");
            QVERIFY(open(u"Work/Sub"_s));
            done = awaitTask(m_store->paste(policy));
        }
        QCOMPARE(done, succeeds);
        const QString target = storagePath(operation == u"rename" ? u"Work"_s : u"Work/Sub"_s);
        QCOMPARE(QDir(target).entryList({u"*.txt"_s}, QDir::Files, QDir::Name), namesAfter);
        m_store->setErrorMessage(std::nullopt);
    }

    void trashAndRestoreIntoAnOccupiedPlace()
    {
        QDir(storagePath(u"Work"_s)).removeRecursively();
        awaitTask(m_store->emptyTrash());
        QVERIFY(writeFile(storagePath(u"Work/note.txt"_s), "first"));
        QVERIFY(open(u"Work"_s));
        QVERIFY(awaitTask(m_store->moveToTrash({entryNamed(u"note.txt"_s)})));
        QCOMPARE(m_store->message(), u"已移到 Tavrine 回收站"_s);
        QVERIFY(!QFile::exists(storagePath(u"Work/note.txt"_s)));
        QVERIFY(writeFile(storagePath(u"Work/note.txt"_s), "second"));

        // Restored over the newer file, which takes its place in the trash.
        awaitTask(m_store->loadTrash());
        QCOMPARE(m_store->trashEntries().size(), 1);
        const ManagedTrashEntry trashed = m_store->trashEntries().first();
        QVERIFY(!awaitTask(m_store->restore(trashed, Policy::error)));
        QVERIFY(awaitTask(m_store->restore(trashed, Policy::replace)));
        QCOMPARE(m_store->message(), u"note.txt 已恢复"_s);
        QCOMPARE(contentsOf(storagePath(u"Work/note.txt"_s)), QByteArray("first"));
        awaitTask(m_store->loadTrash());
        QCOMPARE(m_store->trashEntries().size(), 1);
        QVERIFY(awaitTask(m_store->emptyTrash()));
        QVERIFY(m_store->message()->startsWith(u"已永久删除 1 项，释放 "_s));
    }

    void folderTreesTravelBothWays()
    {
        // Up: a folder of this computer into the phone's top folder, then back down into another folder here.
        const QString local = m_link->makeFolder(u"local/Album"_s);
        m_link->makeFile(u"local/Album/cover.jpg"_s, 70'000, 3);
        m_link->makeFile(u"local/Album/Disc 1/track 1.mp3"_s, 300'000, 4);
        m_link->makeFile(u"local/Album/Disc 1/Notes/lyrics.txt"_s, 900, 5);
        QVERIFY(open(QString()));
        awaitTask(m_store->upload({local}));
        QCOMPARE(m_store->message(), u"已加入 3 个发送任务"_s);
        QVERIFY(m_link->waitUntil([&] { return treeDigests(storagePath(u"Album"_s)) == treeDigests(local); }));

        QVERIFY(open(QString()));
        const QString destination = m_link->makeFolder(u"downloads"_s);
        awaitTask(m_store->downloadToMac({entryNamed(u"Album"_s)}, {QUrl::fromLocalFile(destination), std::nullopt}));
        QCOMPARE(m_store->message(), u"已加入 3 个下载任务"_s);
        QVERIFY(m_link->waitUntil(
            [&] { return treeDigests(QDir(destination).filePath(u"Album"_s)) == treeDigests(local); }, 30'000));
    }

    void thumbnailsOfARealPhotoAndVideo()
    {
        QImage photo(1600, 1200, QImage::Format_RGB32);
        photo.fill(Qt::darkCyan);
        QVERIFY(QDir(m_storage).mkpath(u"DCIM"_s));
        QVERIFY(photo.save(storagePath(u"DCIM/beach.jpg"_s), "JPEG"));
        QVERIFY(writeTestVideo(storagePath(u"DCIM/clip.mp4"_s), QSize(320, 240), 24, 12));

        for (const auto kind : {ManagedMediaKind::photo, ManagedMediaKind::video}) {
            awaitTask(m_store->loadMedia(kind));
            QCOMPARE(m_store->mediaItems().size(), 1);
            const ManagedMediaItem item = m_store->mediaItems().first();
            awaitTask(m_store->loadThumbnail(item, 1024));
            const std::optional<QImage> image = m_store->cachedMediaImage(item);
            QVERIFY2(image, qPrintable(rawValue(kind)));
            // The phone's 1024 x 768 and 320 x 240 pictures, kept at what a tile draws.
            QCOMPARE(image->size(), QSize(293, 220));
            QVERIFY(kind == ManagedMediaKind::photo || qAbs(item.durationMillis.value_or(0) - 2000) <= 100);
        }
    }

    void uninstalledApplicationLeavesTheList()
    {
        const QString app =
            uR"({"packageName":"com.example.%1","name":"%1","versionName":"1","versionCode":1,)"
            uR"("firstInstalledAtMillis":1,"updatedAtMillis":2,"system":false,"enabled":true,"launchable":true})"_s;
        QVERIFY(writeFile(storagePath(u".tavrine/applications.json"_s),
                          u"[%1,%2]"_s.arg(app.arg(u"Notes"_s), app.arg(u"Maps"_s)).toUtf8()));
        awaitTask(m_store->loadApplications());
        QCOMPARE(m_store->applications().size(), 2);
        awaitTask(m_store->uninstallApplication(m_store->applications().last()));
        QCOMPARE(m_store->message(), u"请点按手机通知，确认卸载 Notes"_s);
        awaitTask(m_store->loadApplications());
        QCOMPARE(m_store->applications().size(), 1);
        QCOMPARE(m_store->applications().first().name, u"Maps"_s);
    }

    // Ids that try to leave the storage folder, or reach the phone's own folder, are refused by the phone.
    void idsThatLeaveTheStorageAreRefused()
    {
        QVERIFY(writeFile(m_link->folder.filePath(u"outside.txt"_s), "secret"));
        QVERIFY(QFile::link(m_link->folder.filePath(u"outside.txt"_s), storagePath(u"link.txt"_s)));
        const QJsonObject common{
            {u"maxDimension"_s, 64}, {u"pageToken"_s, 0}, {u"pageSize"_s, 10}, {u"query"_s, u""_s}};
        for (const QString &id :
             {StorageIds::idForRelativePath(u"../outside.txt"_s), StorageIds::idForRelativePath(u"/etc/passwd"_s),
              StorageIds::idForRelativePath(u".tavrine/state.json"_s), StorageIds::idForRelativePath(u"link.txt"_s),
              u"..%2F"_s}) {
            for (const QString &use :
                 {u"files.delete id"_s, u"files.list parentId"_s, u"media.thumbnail id"_s, u"files.download id"_s}) {
                QJsonObject payload = common;
                payload.insert(use.section(u' ', 1), id);
                payload.insert(u"transferId"_s, u"t-"_s + use.section(u' ', 0, 0));
                auto request = m_store->requestText(use.section(u' ', 0, 0), payload);
                QVERIFY_THROWS_EXCEPTION(DeviceManagementRequestError, awaitTask(request));
            }
        }
        QCOMPARE(contentsOf(m_link->folder.filePath(u"outside.txt"_s)), QByteArray("secret"));
        QVERIFY(QFile::exists(storagePath(u".tavrine/state.json"_s)));
    }
};

QTEST_GUILESS_MAIN(DeviceManagementJourneyTest)
#include "test_device_management_journey.moc"
