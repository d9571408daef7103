#include "LinkedStoreFixture.h"
#include "StorageIds.h"

#include <QProcess>
#include <QtTest>

using namespace Qt::StringLiterals;
using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;

// The desktop side and the companion program, each a real process of its own side, over 127.0.0.1.
class PhoneJourneyTest : public QObject
{
    Q_OBJECT

private slots:
    void pairDownloadUploadAndSend()
    {
        LinkedStoreFixture link;
        TransferStore &store = link.makeStore();
        store.beginNewPairing();
        QVERIFY(store.pairingPayload());

        const QString storage = link.folder.filePath(u"phone-storage"_s);
        const QString report = link.makeFile(u"phone-storage/Docs/report.pdf"_s, 300'001, 1);
        QDir(storage).mkpath(u"Music"_s);

        QProcess phone;
        phone.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        phone.start(QCoreApplication::applicationDirPath() + u"/tavrine-phone"_s,
                    {u"pair"_s, u"--url"_s, *store.pairingPayload(), u"--storage"_s, storage, u"--name"_s,
                     u"E2E phone"_s, u"--confirm"_s});
        QVERIFY(phone.waitForStarted());
        QVERIFY2(link.waitUntil([&] { return store.phase() == Phase::connected(u"E2E phone"_s); }),
                 qPrintable(store.phase().text));

        // A file of the phone, downloaded into a folder of the computer.
        const QString chosen = link.makeFolder(u"chosen"_s);
        PreparedManagedDownloadFile download = preparedDownload(u"e2e-download"_s, u"report.pdf"_s, 300'001);
        download.remoteFileID = StorageIds::idForRelativePath(u"Docs/report.pdf"_s);
        store.enqueueManagedDownloads({download}, chosen);
        QVERIFY(link.waitForStatus(u"e2e-download"_s, Status::completed));
        QCOMPARE(fileSha256(QDir(chosen).filePath(u"report.pdf"_s)), fileSha256(report));

        // A file of the computer, uploaded into a folder of the phone.
        const QString song = link.makeFile(u"source/song.mp3"_s, 200'000, 2);
        store.enqueueManagedUploads(
            {{song, StorageIds::idForRelativePath(u"Music"_s), u"song.mp3"_s, u"batch"_s, u"Music"_s}});
        const QString uploadID = store.tasks().first().id;
        QVERIFY(link.waitForStatus(uploadID, Status::completed));
        const QString uploaded = QDir(storage).filePath(u"Music/song.mp3"_s);
        QVERIFY(link.waitUntil([&] { return fileSha256(uploaded) == fileSha256(song); }));

        // An action the phone does not know is refused with its message.
        auto unknown = store.requestManagement(u"files.bogus"_s, u"{}"_s);
        QCOMPARE(outcomeOf(unknown), u"Unsupported action: files.bogus"_s);

        phone.write("quit\n");
        QVERIFY(phone.waitForFinished(10'000));
        QCOMPARE(phone.exitCode(), 0);
        QVERIFY(QFile::exists(QDir(storage).filePath(u".tavrine/state.json"_s)));
    }
};

QTEST_GUILESS_MAIN(PhoneJourneyTest)
#include "test_phone_journey.moc"
