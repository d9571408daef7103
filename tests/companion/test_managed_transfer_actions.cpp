#include "FakeTransferClient.h"
#include "ManagedTransferActions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QString idOf(const QString &relativePath)
{
    return StorageIds::idForRelativePath(relativePath);
}

QString payloadText(const QJsonObject &payload)
{
    return QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
}

const ManagementAnswer succeeded = ManagementAnswer::succeeded({});

} // namespace

class ManagedTransferActionsTest : public QObject
{
    Q_OBJECT

private slots:
    // root/storage is served; root/outside holds what no id may reach.
    void init()
    {
        m_root.emplace();
        QVERIFY(m_root->isValid());
        const QDir root(m_root->path());
        for (const QString &folder :
             {u"storage/.tavrine/inbox"_s, u"storage/Music"_s, u"storage/照片/旅行"_s, u"outside"_s}) {
            QVERIFY(root.mkpath(folder));
        }
        m_storage = root.filePath(u"storage"_s);
        QVERIFY(writeFile(m_storage + u"/Music/song.mp3"_s, "la la la"));
        QVERIFY(writeFile(m_storage + u"/照片/海边 1.jpg"_s, QByteArray(100'000, 'j')));
        QVERIFY(writeFile(m_storage + u"/empty.txt"_s, {}));
        QVERIFY(writeFile(m_storage + u"/.tavrine/state.json"_s, "material"));
        QVERIFY(writeFile(root.filePath(u"outside/secret.txt"_s), "secret"));
        QVERIFY(QFile::link(root.filePath(u"outside/secret.txt"_s), m_storage + u"/secret-link"_s));
        QVERIFY(QFile::link(root.filePath(u"outside"_s), m_storage + u"/outside-link"_s));
        QVERIFY(QFile::link(u"Music/song.mp3"_s, m_storage + u"/song-link.mp3"_s));
        QVERIFY(QFile::link(u"Music"_s, m_storage + u"/music-link"_s));
        QVERIFY(::mkfifo(QFile::encodeName(m_storage + u"/pipe"_s).constData(), 0600) == 0);

        m_client.emplace();
        m_actions.emplace(*m_client, m_storage);
        m_handlers = ManagementHandlers();
        m_actions->addTo(m_handlers);
    }

    void cleanup()
    {
        m_actions.reset();
        m_client.reset();
    }

    void downloadSendsTheFile_data()
    {
        QTest::addColumn<QString>("relativePath");

        QTest::newRow("file in a folder") << u"Music/song.mp3"_s;
        QTest::newRow("larger file, names outside ASCII") << u"照片/海边 1.jpg"_s;
        QTest::newRow("empty file") << u"empty.txt"_s;
        QTest::newRow("through a folder link that stays inside") << u"music-link/song.mp3"_s;
    }

    void downloadSendsTheFile()
    {
        QFETCH(QString, relativePath);
        QFile expected(QDir(m_storage).filePath(relativePath));
        QVERIFY(expected.open(QIODevice::ReadOnly));
        const QByteArray contents = expected.readAll();

        const ManagementAnswer answer = m_handlers.answer(
            u"files.download"_s, payloadText({{u"id"_s, idOf(relativePath)}, {u"transferId"_s, u"download-1"_s}}));
        QCOMPARE(answer, succeeded);
        QCOMPARE(m_client->sentFiles.size(), 1);
        const FakeTransferClient::SentFile &sent = m_client->sentFiles.constFirst();
        QCOMPARE(sent.transferId, u"download-1"_s);
        QCOMPARE(sent.fileName, QFileInfo(relativePath).fileName());
        QCOMPARE(sent.fileSize, static_cast<uint64_t>(contents.size()));
        QCOMPARE(sent.contents, contents);
        // The library keeps a duplicate; the phone's own descriptor must not leak.
        QCOMPARE(::fcntl(sent.fileDescriptor, F_GETFD), -1);
        QCOMPARE(errno, EBADF);
    }

    void downloadRefusesWhatItMayNotSend_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("message");

        const QString notFound = u"找不到这个文件。"_s;
        const QString notAFile = u"这不是可以下载的文件。"_s;
        QTest::newRow("nothing there") << idOf(u"Music/none.mp3"_s) << notFound;
        QTest::newRow("up and out") << idOf(u"../outside/secret.txt"_s) << notFound;
        QTest::newRow("link to a file outside") << idOf(u"secret-link"_s) << notFound;
        QTest::newRow("pairing state") << idOf(u".tavrine/state.json"_s) << notFound;
        QTest::newRow("link to a file inside") << idOf(u"song-link.mp3"_s) << notAFile;
        QTest::newRow("folder") << idOf(u"Music"_s) << notAFile;
        QTest::newRow("named pipe") << idOf(u"pipe"_s) << notAFile;
    }

    void downloadRefusesWhatItMayNotSend()
    {
        QFETCH(QString, id);
        QFETCH(QString, message);

        const ManagementAnswer answer =
            m_handlers.answer(u"files.download"_s, payloadText({{u"id"_s, id}, {u"transferId"_s, u"download-1"_s}}));
        QCOMPARE(answer, ManagementAnswer::failed(message));
        QVERIFY(m_client->sentFiles.isEmpty());
    }

    void downloadReportsTheCoreError()
    {
        m_client->sendError = TavrineCoreError::NotConnected();
        const ManagementAnswer answer =
            m_handlers.answer(u"files.download"_s,
                              payloadText({{u"id"_s, idOf(u"Music/song.mp3"_s)}, {u"transferId"_s, u"download-1"_s}}));
        QCOMPARE(answer, ManagementAnswer::failed(TavrineCoreError::NotConnected().errorDescription()));
    }

    void preparedUploadNamesTheDeliveryFolder_data()
    {
        QTest::addColumn<QString>("directoryId");
        QTest::addColumn<QString>("realRelativePath");

        QTest::newRow("storage folder") << u"root"_s << QString();
        QTest::newRow("folder") << idOf(u"Music"_s) << u"Music"_s;
        QTest::newRow("nested folder outside ASCII") << idOf(u"照片/旅行"_s) << u"照片/旅行"_s;
        QTest::newRow("link to a folder inside") << idOf(u"music-link"_s) << u"Music"_s;
    }

    void preparedUploadNamesTheDeliveryFolder()
    {
        QFETCH(QString, directoryId);
        QFETCH(QString, realRelativePath);

        const ManagementAnswer answer =
            m_handlers.answer(u"files.prepare_upload"_s,
                              payloadText({{u"transferId"_s, u"upload-1"_s}, {u"directoryId"_s, directoryId}}));
        QCOMPARE(answer, succeeded);
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-2"_s, nullptr), std::optional(m_storage));
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-1"_s, nullptr),
                 std::optional(QFileInfo(QDir(m_storage).filePath(realRelativePath)).canonicalFilePath()));
        // Only the next file of that transfer goes there.
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-1"_s, nullptr), std::optional(m_storage));
    }

    void prepareUploadRefusesWhatIsNotAFolderInside_data()
    {
        QTest::addColumn<QString>("directoryId");

        QTest::newRow("file") << idOf(u"Music/song.mp3"_s);
        QTest::newRow("link to a folder outside") << idOf(u"outside-link"_s);
        QTest::newRow("inbox") << idOf(u".tavrine/inbox"_s);
        QTest::newRow("malformed id") << u"Music"_s;
    }

    void prepareUploadRefusesWhatIsNotAFolderInside()
    {
        QFETCH(QString, directoryId);

        const ManagementAnswer answer =
            m_handlers.answer(u"files.prepare_upload"_s,
                              payloadText({{u"transferId"_s, u"upload-1"_s}, {u"directoryId"_s, directoryId}}));
        QCOMPARE(answer, ManagementAnswer::failed(u"找不到目标文件夹。"_s));
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-1"_s, nullptr), std::optional(m_storage));
    }

    void preparedFolderThatLeftIsNotDeliveredInto_data()
    {
        QTest::addColumn<QString>("change");

        QTest::newRow("removed") << u"remove"_s;
        QTest::newRow("replaced by a link to a folder outside") << u"link outside"_s;
    }

    void preparedFolderThatLeftIsNotDeliveredInto()
    {
        QFETCH(QString, change);
        QVERIFY(QDir(m_storage).mkdir(u"Inbox of the user"_s));
        QCOMPARE(m_handlers.answer(
                     u"files.prepare_upload"_s,
                     payloadText({{u"transferId"_s, u"upload-1"_s}, {u"directoryId"_s, idOf(u"Inbox of the user"_s)}})),
                 succeeded);

        const QString folder = m_storage + u"/Inbox of the user"_s;
        QVERIFY(QDir(folder).removeRecursively());
        if (change == u"link outside") {
            QVERIFY(QFile::link(m_root->filePath(u"outside"_s), folder));
        }
        QString error;
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-1"_s, &error), std::nullopt);
        QVERIFY2(error.contains(u"upload-1"_s), qPrintable(error));
    }

    void malformedPayloadsAreRefused_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QJsonObject>("payload");
        QTest::addColumn<QString>("badKey");

        const QString download = u"files.download"_s;
        const QString id = idOf(u"Music/song.mp3"_s);
        QTest::newRow("download without id") << download << QJsonObject{{u"transferId"_s, u"t"_s}} << u"id"_s;
        QTest::newRow("download without transfer id") << download << QJsonObject{{u"id"_s, id}} << u"transferId"_s;
        QTest::newRow("download with an empty transfer id")
            << download << QJsonObject{{u"id"_s, id}, {u"transferId"_s, u""_s}} << u"transferId"_s;

        const QString prepare = u"files.prepare_upload"_s;
        QTest::newRow("prepare without transfer id")
            << prepare << QJsonObject{{u"directoryId"_s, u"root"_s}} << u"transferId"_s;
        QTest::newRow("prepare with a folder id in an array")
            << prepare << QJsonObject{{u"transferId"_s, u"t"_s}, {u"directoryId"_s, QJsonArray{u"root"_s}}}
            << u"directoryId"_s;
    }

    void malformedPayloadsAreRefused()
    {
        QFETCH(QString, action);
        QFETCH(QJsonObject, payload);
        QFETCH(QString, badKey);

        const ManagementAnswer answer = m_handlers.answer(action, payloadText(payload));
        QVERIFY(!answer.success);
        QVERIFY2(answer.message.contains(u'"' + badKey + u'"'), qPrintable(answer.message));
        QVERIFY(m_client->sentFiles.isEmpty());
        QCOMPARE(m_actions->takeDeliveryFolder(u"t"_s, nullptr), std::optional(m_storage));
    }

private:
    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    std::optional<FakeTransferClient> m_client;
    std::optional<ManagedTransferActions> m_actions;
    ManagementHandlers m_handlers;
};

QTEST_GUILESS_MAIN(ManagedTransferActionsTest)
#include "test_managed_transfer_actions.moc"
