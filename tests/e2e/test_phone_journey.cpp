#include "LinkedStoreFixture.h"

#include <QProcess>
#include <QtTest>

using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;

namespace {

// The phone's id of an item of its storage folder.
QString storageId(const QString &relativePath)
{
    return QString::fromLatin1(
        relativePath.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

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

        const QString storage = link.folder.filePath(QStringLiteral("phone-storage"));
        const QString report = link.makeFile(QStringLiteral("phone-storage/Docs/report.pdf"), 300'001, 1);
        QDir(storage).mkpath(QStringLiteral("Music"));

        QProcess phone;
        phone.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        phone.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tavrine-phone"),
                    {QStringLiteral("pair"), QStringLiteral("--url"), *store.pairingPayload(),
                     QStringLiteral("--storage"), storage, QStringLiteral("--name"), QStringLiteral("E2E phone"),
                     QStringLiteral("--confirm")});
        QVERIFY(phone.waitForStarted());
        QVERIFY2(link.waitUntil([&] { return store.phase() == Phase::connected(QStringLiteral("E2E phone")); }),
                 qPrintable(store.phase().text));

        // A file of the phone, downloaded into a folder of the computer.
        const QString chosen = link.folder.filePath(QStringLiteral("chosen"));
        QDir().mkpath(chosen);
        PreparedManagedDownloadFile download =
            preparedDownload(QStringLiteral("e2e-download"), QStringLiteral("report.pdf"), 300'001);
        download.remoteFileID = storageId(QStringLiteral("Docs/report.pdf"));
        store.enqueueManagedDownloads({download}, chosen);
        QVERIFY(link.waitForStatus(QStringLiteral("e2e-download"), Status::completed));
        QCOMPARE(fileSha256(QDir(chosen).filePath(QStringLiteral("report.pdf"))), fileSha256(report));

        // A file of the computer, uploaded into a folder of the phone.
        const QString song = link.makeFile(QStringLiteral("source/song.mp3"), 200'000, 2);
        store.enqueueManagedUploads({{song, storageId(QStringLiteral("Music")), QStringLiteral("song.mp3"),
                                      QStringLiteral("batch"), QStringLiteral("Music")}});
        const QString uploadID = store.tasks().first().id;
        QVERIFY(link.waitForStatus(uploadID, Status::completed));
        const QString uploaded = QDir(storage).filePath(QStringLiteral("Music/song.mp3"));
        QVERIFY(link.waitUntil([&] { return fileSha256(uploaded) == fileSha256(song); }));

        // An action the phone does not know is refused with its message.
        auto unknown = store.requestManagement(QStringLiteral("files.bogus"), QStringLiteral("{}"));
        QCOMPARE(outcomeOf(unknown), QStringLiteral("Unsupported action: files.bogus"));

        phone.write("quit\n");
        QVERIFY(phone.waitForFinished(10'000));
        QCOMPARE(phone.exitCode(), 0);
        QVERIFY(QFile::exists(QDir(storage).filePath(QStringLiteral(".tavrine/state.json"))));
    }
};

QTEST_GUILESS_MAIN(PhoneJourneyTest)
#include "test_phone_journey.moc"
