#include "LinkedStoreFixture.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QtTest>

using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;

namespace {

QString writeFile(const QString &path, qint64 size, int seed)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    for (qint64 index = 0; index < size; ++index) {
        file.putChar(char((index * 13 + seed) & 0xff));
    }
    return path;
}

QByteArray digestOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

// The phone's id of an item of its storage folder.
QString storageId(const QString &relativePath)
{
    return QString::fromLatin1(
        relativePath.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

Status statusOf(const TransferStore &store, const QString &id)
{
    for (const TransferTaskRecord &task : store.tasks()) {
        if (task.id == id) {
            return task.status;
        }
    }
    return Status::failed;
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
        const QString report = writeFile(QDir(storage).filePath(QStringLiteral("Docs/report.pdf")), 300'001, 1);
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
        store.enqueueManagedDownloads({{QStringLiteral("e2e-download"),
                                        storageId(QStringLiteral("Docs/report.pdf")),
                                        QStringLiteral("report.pdf"),
                                        300'001,
                                        QStringLiteral("report.pdf"),
                                        TransferTaskRecord::DeliveryPurpose::export_,
                                        {},
                                        {}}},
                                      chosen);
        QVERIFY(link.waitUntil([&] { return statusOf(store, QStringLiteral("e2e-download")) == Status::completed; }));
        QCOMPARE(digestOf(QDir(chosen).filePath(QStringLiteral("report.pdf"))), digestOf(report));

        // A file of the computer, uploaded into a folder of the phone.
        const QString song = writeFile(link.folder.filePath(QStringLiteral("source/song.mp3")), 200'000, 2);
        store.enqueueManagedUploads({{song, storageId(QStringLiteral("Music")), QStringLiteral("song.mp3"),
                                      QStringLiteral("batch"), QStringLiteral("Music")}});
        const QString uploadID = store.tasks().first().id;
        QVERIFY(link.waitUntil([&] { return statusOf(store, uploadID) == Status::completed; }));
        const QString uploaded = QDir(storage).filePath(QStringLiteral("Music/song.mp3"));
        QVERIFY(link.waitUntil([&] { return digestOf(uploaded) == digestOf(song); }));

        // An action the phone does not know is refused with its message.
        auto unknown = store.requestManagement(QStringLiteral("files.bogus"), QStringLiteral("{}"));
        QCOMPARE(failureOf(unknown), QStringLiteral("Unsupported action: files.bogus"));

        phone.write("quit\n");
        QVERIFY(phone.waitForFinished(10'000));
        QCOMPARE(phone.exitCode(), 0);
        QVERIFY(QFile::exists(QDir(storage).filePath(QStringLiteral(".tavrine/state.json"))));
    }
};

QTEST_GUILESS_MAIN(PhoneJourneyTest)
#include "test_phone_journey.moc"
