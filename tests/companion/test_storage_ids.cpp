#include "FakeTransferClient.h"
#include "ManagedTransferActions.h"
#include "StorageTree.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <fcntl.h>

using namespace Qt::StringLiterals;

using Ids = TestTable<QString, QString, StorageIdError>;
using Actions = TestTable<QString, QJsonObject, QString, QString, QString>;

namespace {

QString realPath(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
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

// Storage ids, and the managed transfer actions that reach files and folders through them.
class StorageIdsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        QVERIFY(makeEntries(m_root->path(), storageTree));
        m_storage = m_root->filePath(u"storage"_s);
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

    // realRelativePath: the item an id names, from the storage folder; null when the id is refused with error.
    void idsResolve_data()
    {
        const Ids rows; // the id, realRelativePath, and the error
        const auto named = [&](const char *name, const QString &path, const QString &realPath) {
            rows(name, idOf(path), realPath, StorageIdError());
        };
        const auto refused = [&](const char *name, const QString &id, StorageIdError error) {
            rows(name, id, QString(), error);
        };
        const auto malformed = StorageIdError::malformed;
        const auto privateFolder = StorageIdError::privateFolder;
        const auto outside = StorageIdError::outsideStorage;
        const auto missing = StorageIdError::missing;
        rows("storage folder", u"root"_s, u"."_s, StorageIdError());
        named("file at the top", u"notes.txt"_s, u"notes.txt"_s);
        named("file in a folder", u"Music/a.mp3"_s, u"Music/a.mp3"_s);
        named("folder", u"Music"_s, u"Music"_s);
        named("deep file", u"a/b/c/deep.txt"_s, u"a/b/c/deep.txt"_s);
        named("names outside ASCII, with a space", u"照片/海边 1.jpg"_s, u"照片/海边 1.jpg"_s);
        named("hidden file of the user", u".hidden"_s, u".hidden"_s);
        named("user's folder named like the private one, deeper down", u"Music/.tavrine/x"_s, u"Music/.tavrine/x"_s);
        named("through a link that stays inside", u"link-to-music/a.mp3"_s, u"Music/a.mp3"_s);
        refused("up to the parent", idOf(u".."_s), malformed);
        refused("up and over to the outside folder", idOf(u"../outside/secret.txt"_s), malformed);
        refused("up from a sub-folder", idOf(u"Music/../../outside/secret.txt"_s), malformed);
        refused("up and back in, an alias", idOf(u"Music/../notes.txt"_s), malformed);
        refused("dot component", idOf(u"./notes.txt"_s), malformed);
        refused("absolute path", idOf(u"/etc/passwd"_s), malformed);
        refused("empty component", idOf(u"Music//a.mp3"_s), malformed);
        refused("trailing slash", idOf(u"Music/"_s), malformed);
        refused("NUL cutting the name short", idOf(u"notes.txt\0.jpg"_s), malformed);
        refused("empty id", QString(), malformed);
        refused("plain path instead of an id", u"../outside/secret.txt"_s, malformed);
        refused("padded encoding, an alias", idOf(u"Music/a.mp3"_s) + u"="_s, malformed);
        // "TXVzaWMvYS5tcDM" is the id of Music/a.mp3; the decoder ignores the last character's spare bits.
        refused("spare bits set, an alias", u"TXVzaWMvYS5tcDN"_s, malformed);
        refused(
            "bytes that are not UTF-8",
            QString::fromLatin1(
                QByteArray("\xff/notes.txt").toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)),
            malformed);
        refused("private folder", idOf(u".tavrine"_s), privateFolder);
        refused("pairing state file", idOf(u".tavrine/state.json"_s), privateFolder);
        refused("inbox", idOf(u".tavrine/inbox"_s), privateFolder);
        refused("link to the private folder", idOf(u"link-to-private-folder"_s), privateFolder);
        refused("through a link to the private folder", idOf(u"link-to-private-folder/state.json"_s), privateFolder);
        refused("link to the state file", idOf(u"link-to-state-file"_s), privateFolder);
        refused("link to a file outside", idOf(u"link-to-outside-file"_s), outside);
        refused("link to a folder outside", idOf(u"link-to-outside-folder"_s), outside);
        refused("through a link to a folder outside", idOf(u"link-to-outside-folder/secret.txt"_s), outside);
        refused("through a link to the parent", idOf(u"link-to-parent/outside/secret.txt"_s), outside);
        refused("nothing there", idOf(u"Music/none.mp3"_s), missing);
        refused("dangling link", idOf(u"dangling-link"_s), missing);
    }

    void idsResolve()
    {
        const auto [id, realRelativePath, error] = Ids::fetch();

        const StorageIdResult result = StorageIds(m_storage).resolve(id);
        if (realRelativePath.isNull()) {
            QCOMPARE(result, StorageIdResult(error));
            return;
        }
        QVERIFY2(QRegularExpression(u"^[A-Za-z0-9_-]+$"_s).match(id).hasMatch(), qPrintable(id));
        const StorageItem *item = std::get_if<StorageItem>(&result);
        QVERIFY(item);
        QCOMPARE(idOf(item->relativePath), id);
        QCOMPARE(item->realPath, realPath(QDir(m_storage).filePath(realRelativePath)));
    }

    // The computer keeps ids between requests: an id holds while its item stays where it is, and only then.
    void idHoldsWhileTheItemStays()
    {
        const StorageIds ids(m_storage);
        const QString id = StorageIds::idForRelativePath(u"Music/a.mp3"_s);
        QVERIFY(writeFile(m_storage + u"/Music/b.mp3"_s, "new neighbour"));
        QVERIFY(writeFile(m_storage + u"/Music/a.mp3"_s, "changed contents"));
        QVERIFY(QFile::remove(m_storage + u"/notes.txt"_s));
        QCOMPARE(StorageIds::idForRelativePath(u"Music/a.mp3"_s), id);
        QVERIFY(std::holds_alternative<StorageItem>(ids.resolve(id)));

        QVERIFY(QFile::rename(m_storage + u"/Music/a.mp3"_s, m_storage + u"/Music/renamed.mp3"_s));
        QCOMPARE(ids.resolve(id), StorageIdResult(StorageIdError::missing));
    }

    void storageFolderReachedThroughALink()
    {
        const QString linkedStorage = m_root->filePath(u"storage-link"_s);
        QVERIFY(QFile::link(m_storage, linkedStorage));
        const StorageIdResult result =
            StorageIds(linkedStorage).resolve(StorageIds::idForRelativePath(u"Music/a.mp3"_s));
        QVERIFY(std::holds_alternative<StorageItem>(result));
        QCOMPARE(std::get<StorageItem>(result).realPath, realPath(m_storage + u"/Music/a.mp3"_s));
    }

    // failure: the answer's message, or for a malformed payload the quoted key it names; empty when the
    // action succeeds. sent: the file sent; delivery: where the next file of upload-1 goes, null for the storage.
    void managedTransferActions_data()
    {
        const Actions rows; // the action, its payload, failure, sent, and delivery
        const QString get = u"files.download"_s;
        const QString put = u"files.prepare_upload"_s;
        const QString notFound = u"找不到这个文件。"_s;
        const QString notAFile = u"这不是可以下载的文件。"_s;
        const QString id = idOf(u"Music/a.mp3"_s);
        const auto row = [&](const char *name, const QString &action, const QJsonObject &payload,
                             const QString &failure, const QString &sent = {}, const QString &delivery = {}) {
            rows(name, action, payload, failure, sent, delivery);
        };
        const auto download = [&](const char *name, const QString &path, const QString &failure = {}) {
            row(name, get, {{u"id"_s, idOf(path)}, {u"transferId"_s, u"download-1"_s}}, failure,
                failure.isEmpty() ? path : QString());
        };
        const auto prepare = [&](const char *name, const QJsonValue &directoryId, const QString &delivery = {}) {
            row(name, put, {{u"transferId"_s, u"upload-1"_s}, {u"directoryId"_s, directoryId}},
                delivery.isNull() ? u"找不到目标文件夹。"_s : QString(), QString(), delivery);
        };
        download("file in a folder", u"Music/a.mp3"_s);
        download("names outside ASCII", u"照片/海边 1.jpg"_s);
        download("empty file", u"empty.txt"_s);
        download("through a folder link that stays inside", u"link-to-music/a.mp3"_s);
        download("nothing there", u"Music/none.mp3"_s, notFound);
        download("up and out", u"../outside/secret.txt"_s, notFound);
        download("link to a file outside", u"link-to-outside-file"_s, notFound);
        download("pairing state", u".tavrine/state.json"_s, notFound);
        download("link to a file inside", u"link-to-song.mp3"_s, notAFile);
        download("download a folder", u"Music"_s, notAFile);
        download("named pipe", u"pipe"_s, notAFile);
        row("download without id", get, {{u"transferId"_s, u"t"_s}}, u"\"id\""_s);
        row("download without transfer id", get, {{u"id"_s, id}}, u"\"transferId\""_s);
        row("download with an empty transfer id", get, {{u"id"_s, id}, {u"transferId"_s, u""_s}}, u"\"transferId\""_s);

        prepare("storage folder", u"root"_s, u"."_s);
        prepare("folder", idOf(u"Music"_s), u"Music"_s);
        prepare("nested folder outside ASCII", idOf(u"照片/旅行"_s), u"照片/旅行"_s);
        prepare("link to a folder inside", idOf(u"link-to-music"_s), u"Music"_s);
        prepare("file", idOf(u"Music/a.mp3"_s));
        prepare("link to a folder outside", idOf(u"link-to-outside-folder"_s));
        prepare("inbox", idOf(u".tavrine/inbox"_s));
        prepare("malformed id", u"Music"_s);
        row("prepare without transfer id", put, {{u"directoryId"_s, u"root"_s}}, u"\"transferId\""_s);
        row("prepare with a folder id in an array", put,
            {{u"transferId"_s, u"t"_s}, {u"directoryId"_s, QJsonArray{u"root"_s}}}, u"\"directoryId\""_s);
    }

    // Only the next file of a prepared transfer goes into its folder; any other goes to the storage folder.
    void managedTransferActions()
    {
        const auto [action, payload, failure, sent, delivery] = Actions::fetch();

        const ManagementAnswer answer = m_handlers.answer(action, payloadText(payload));
        QCOMPARE(answer.success, failure.isEmpty());
        if (failure.startsWith(u'"'))
            QVERIFY2(answer.message.contains(failure), qPrintable(answer.message));
        else
            QCOMPARE(answer, failure.isEmpty() ? succeeded : ManagementAnswer::failed(failure));
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-2"_s, nullptr), std::optional(m_storage));
        if (!delivery.isNull())
            QCOMPARE(m_actions->takeDeliveryFolder(u"upload-1"_s, nullptr),
                     std::optional(realPath(m_storage + u'/' + delivery)));
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-1"_s, nullptr), std::optional(m_storage));

        QCOMPARE(m_client->sentFiles.size(), sent.isEmpty() ? 0 : 1);
        if (sent.isEmpty())
            return;
        const FakeTransferClient::SentFile &file = m_client->sentFiles.constFirst();
        const QByteArray contents = readFile(QDir(m_storage).filePath(sent));
        QCOMPARE(file.transferId, u"download-1"_s);
        QCOMPARE(file.fileName, QFileInfo(sent).fileName());
        QCOMPARE(file.fileSize, static_cast<uint64_t>(contents.size()));
        QCOMPARE(file.contents, contents);
        // The library keeps a duplicate; the phone's own descriptor must not leak.
        QCOMPARE(::fcntl(file.fileDescriptor, F_GETFD), -1);
        QCOMPARE(errno, EBADF);
    }

    void downloadReportsTheCoreError()
    {
        m_client->sendError = TavrineCoreError::NotConnected();
        const ManagementAnswer answer = m_handlers.answer(
            u"files.download"_s, payloadText({{u"id"_s, idOf(u"Music/a.mp3"_s)}, {u"transferId"_s, u"d"_s}}));
        QCOMPARE(answer, ManagementAnswer::failed(TavrineCoreError::NotConnected().errorDescription()));
    }

    void preparedFolderThatLeftIsNotDeliveredInto_data()
    {
        QTest::addColumn<QString>("replacement"); // an entry in the folder's place, or none

        QTest::newRow("removed") << QString();
        QTest::newRow("replaced by a link to a folder outside") << u"storage/Inbox -> ../outside"_s;
    }

    void preparedFolderThatLeftIsNotDeliveredInto()
    {
        QFETCH(QString, replacement);
        QVERIFY(QDir(m_storage).mkdir(u"Inbox"_s));
        QCOMPARE(m_handlers.answer(u"files.prepare_upload"_s, payloadText({{u"transferId"_s, u"upload-1"_s},
                                                                           {u"directoryId"_s, idOf(u"Inbox"_s)}})),
                 succeeded);
        QVERIFY(QDir(m_storage + u"/Inbox"_s).removeRecursively());
        if (!replacement.isEmpty())
            QVERIFY(makeEntries(m_root->path(), {replacement}));

        QString error;
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-1"_s, &error), std::nullopt);
        QVERIFY2(error.contains(u"upload-1"_s), qPrintable(error));
    }

private:
    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    std::optional<FakeTransferClient> m_client;
    std::optional<ManagedTransferActions> m_actions;
    ManagementHandlers m_handlers;
};

QTEST_GUILESS_MAIN(StorageIdsTest)
#include "test_storage_ids.moc"
