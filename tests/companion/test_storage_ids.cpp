#include "FakeTransferClient.h"
#include "ManagedTransferActions.h"
#include "StorageTree.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <fcntl.h>

using namespace Qt::StringLiterals;

// The id, the item it names from the storage folder (null when refused), and the error.
using Ids = TestTable<QString, QString, StorageIdError>;
// The action, its payload, the failure (for a malformed payload the quoted key it names), the file sent, and
// where the next file of upload-1 goes (null: the storage folder).
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
        m_actions.reset();
        m_client.emplace();
        m_actions.emplace(*m_client, m_storage);
        m_handlers = ManagementHandlers();
        m_actions->addTo(m_handlers);
    }

    void idsResolve_data()
    {
        const Ids rows;
        const auto named = [&](const char *name, const QString &path, const QString &realPath) {
            rows(name, idOf(path), realPath, StorageIdError());
        };
        const auto refused = [&](const char *name, const QString &path, StorageIdError error) {
            rows(name, idOf(path), QString(), error);
        };
        const auto malformed = StorageIdError::malformed;
        const auto privateFolder = StorageIdError::privateFolder;
        rows("storage folder", u"root"_s, u"."_s, StorageIdError());
        named("file in a folder", u"Music/a.mp3"_s, u"Music/a.mp3"_s);
        named("names outside ASCII, with a space", u"照片/海边 1.jpg"_s, u"照片/海边 1.jpg"_s);
        named("user's folder named like the private one, deeper down", u"Music/.tavrine/x"_s, u"Music/.tavrine/x"_s);
        named("through a link that stays inside", u"link-to-music/a.mp3"_s, u"Music/a.mp3"_s);
        refused("up and over to the outside folder", u"../outside/secret.txt"_s, malformed);
        refused("up and back in, an alias", u"Music/../notes.txt"_s, malformed);
        refused("dot component", u"./notes.txt"_s, malformed);
        refused("NUL cutting the name short", u"notes.txt\0.jpg"_s, malformed);
        rows("empty id", QString(), QString(), malformed);
        // "TXVzaWMvYS5tcDM" is the id of Music/a.mp3; the decoder ignores the last character's spare bits.
        rows("spare bits set, an alias", u"TXVzaWMvYS5tcDN"_s, QString(), malformed);
        rows("bytes that are not UTF-8, \"\\xff/a\"", u"_y9h"_s, QString(), malformed);
        refused("private folder", u".tavrine"_s, privateFolder);
        refused("link to the private folder", u"link-to-private-folder"_s, privateFolder);
        refused("through a link to the private folder", u"link-to-private-folder/state.json"_s, privateFolder);
        refused("through a link to the parent", u"link-to-parent/outside/secret.txt"_s, StorageIdError::outsideStorage);
        refused("dangling link", u"dangling-link"_s, StorageIdError::missing);
    }

    void idsResolve()
    {
        const auto [id, realRelativePath, error] = Ids::fetch();

        const StorageIdResult result = StorageIds(m_storage).resolve(id);
        if (realRelativePath.isNull()) {
            QCOMPARE(result, StorageIdResult(error));
            return;
        }
        const StorageItem *item = std::get_if<StorageItem>(&result);
        QVERIFY(item);
        QCOMPARE(idOf(item->relativePath), id);
        QCOMPARE(item->realPath, realPath(QDir(m_storage).filePath(realRelativePath)));
    }

    void storageFolderReachedThroughALink()
    {
        const QString linkedStorage = m_root->filePath(u"storage-link"_s);
        QVERIFY(QFile::link(m_storage, linkedStorage));
        const StorageIdResult result = StorageIds(linkedStorage).resolve(idOf(u"Music/a.mp3"_s));
        QVERIFY(std::holds_alternative<StorageItem>(result));
        QCOMPARE(std::get<StorageItem>(result).realPath, realPath(m_storage + u"/Music/a.mp3"_s));
    }

    void managedTransferActions_data()
    {
        const Actions rows;
        const QString get = u"files.download"_s, put = u"files.prepare_upload"_s, id = idOf(u"Music/a.mp3"_s);
        const QString notAFile = u"这不是可以下载的文件。"_s;
        const auto download = [&](const char *name, const QString &path, const QString &failure = {}) {
            rows(name, get, {{u"id"_s, idOf(path)}, {u"transferId"_s, u"download-1"_s}}, failure,
                 failure.isEmpty() ? path : QString(), {});
        };
        const auto prepare = [&](const char *name, const QJsonValue &directoryId, const QString &delivery = {}) {
            rows(name, put, {{u"transferId"_s, u"upload-1"_s}, {u"directoryId"_s, directoryId}},
                 delivery.isNull() ? u"找不到目标文件夹。"_s : QString(), {}, delivery);
        };
        download("names outside ASCII", u"照片/海边 1.jpg"_s);
        download("through a folder link that stays inside", u"link-to-music/a.mp3"_s);
        download("link to a file inside", u"link-to-song.mp3"_s, notAFile);
        download("named pipe", u"pipe"_s, notAFile);
        rows("download without id", get, {{u"transferId"_s, u"t"_s}}, u"\"id\""_s, {}, {});
        rows("download with an empty transfer id", get, {{u"id"_s, id}, {u"transferId"_s, u""_s}}, u"\"transferId\""_s,
             {}, {});

        prepare("storage folder", u"root"_s, u"."_s);
        prepare("link to a folder inside", idOf(u"link-to-music"_s), u"Music"_s);
        prepare("file", idOf(u"Music/a.mp3"_s));
        prepare("link to a folder outside", idOf(u"link-to-outside-folder"_s));
        prepare("inbox", idOf(u".tavrine/inbox"_s));
        rows("prepare with a folder id in an array", put,
             {{u"transferId"_s, u"t"_s}, {u"directoryId"_s, QJsonArray{u"root"_s}}}, u"\"directoryId\""_s, {}, {});
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

    // The prepared folder is resolved again when the file arrives.
    void preparedFolderReplacedByALinkIsNotDeliveredInto()
    {
        QVERIFY(QDir(m_storage).mkdir(u"Inbox"_s));
        QCOMPARE(m_handlers.answer(u"files.prepare_upload"_s, payloadText({{u"transferId"_s, u"upload-1"_s},
                                                                           {u"directoryId"_s, idOf(u"Inbox"_s)}})),
                 succeeded);
        QVERIFY(QDir(m_storage).rmdir(u"Inbox"_s) && makeEntries(m_root->path(), {u"storage/Inbox -> ../outside"_s}));

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
