#include "StorageIds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(StorageIdError)

namespace {

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QString realPath(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

class StorageIdsTest : public QObject
{
    Q_OBJECT

private slots:
    // root/storage is served; root/outside holds what no id may reach.
    void init()
    {
        m_root.emplace();
        QVERIFY(m_root->isValid());
        const QDir root(m_root->path());
        for (const QString &folder : {u"storage/.tavrine/inbox"_s, u"storage/Music/.tavrine"_s, u"storage/照片"_s,
                                      u"storage/a/b/c"_s, u"outside"_s}) {
            QVERIFY(root.mkpath(folder));
        }
        for (const QString &file : {u"storage/.tavrine/state.json"_s, u"storage/notes.txt"_s, u"storage/Music/a.mp3"_s,
                                    u"storage/Music/.tavrine/x"_s, u"storage/照片/海边 1.jpg"_s,
                                    u"storage/a/b/c/deep.txt"_s, u"storage/.hidden"_s, u"outside/secret.txt"_s}) {
            QVERIFY(writeFile(root.filePath(file), "x"));
        }
        const auto link = [&root](const QString &target, const QString &name) {
            return QFile::link(target, root.filePath(u"storage/"_s + name));
        };
        QVERIFY(link(root.filePath(u"outside/secret.txt"_s), u"link-to-outside-file"_s));
        QVERIFY(link(root.filePath(u"outside"_s), u"link-to-outside-folder"_s));
        QVERIFY(link(u".."_s, u"link-to-parent"_s));
        QVERIFY(link(u".tavrine"_s, u"link-to-private-folder"_s));
        QVERIFY(link(u".tavrine/state.json"_s, u"link-to-state-file"_s));
        QVERIFY(link(u"Music"_s, u"link-to-music"_s));
        QVERIFY(link(u"gone.txt"_s, u"dangling-link"_s));
        m_storage = root.filePath(u"storage"_s);
    }

    void idsNameTheirItem_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<QString>("realRelativePath");

        QTest::newRow("storage folder") << QString() << QString();
        QTest::newRow("file at the top") << u"notes.txt"_s << u"notes.txt"_s;
        QTest::newRow("file in a folder") << u"Music/a.mp3"_s << u"Music/a.mp3"_s;
        QTest::newRow("folder") << u"Music"_s << u"Music"_s;
        QTest::newRow("deep file") << u"a/b/c/deep.txt"_s << u"a/b/c/deep.txt"_s;
        QTest::newRow("names outside ASCII, with a space") << u"照片/海边 1.jpg"_s << u"照片/海边 1.jpg"_s;
        QTest::newRow("hidden file of the user") << u".hidden"_s << u".hidden"_s;
        QTest::newRow("user's folder named like the private one, deeper down")
            << u"Music/.tavrine/x"_s << u"Music/.tavrine/x"_s;
        QTest::newRow("through a link that stays inside") << u"link-to-music/a.mp3"_s << u"Music/a.mp3"_s;
    }

    void idsNameTheirItem()
    {
        QFETCH(QString, relativePath);
        QFETCH(QString, realRelativePath);

        const QString id = StorageIds::idForRelativePath(relativePath);
        QVERIFY2(QRegularExpression(u"^[A-Za-z0-9_-]+$"_s).match(id).hasMatch(), qPrintable(id));
        const StorageIdResult result = StorageIds(m_storage).resolve(id);
        const StorageItem *item = std::get_if<StorageItem>(&result);
        QVERIFY(item);
        QCOMPARE(item->relativePath, relativePath);
        QCOMPARE(item->realPath, realPath(QDir(m_storage).filePath(realRelativePath)));
    }

    void rootIdNamesTheStorageFolder()
    {
        QCOMPARE(StorageIds::idForRelativePath(QString()), u"root"_s);
        const StorageIdResult result = StorageIds(m_storage).resolve(u"root"_s);
        QVERIFY(std::holds_alternative<StorageItem>(result));
        QCOMPARE(std::get<StorageItem>(result).realPath, realPath(m_storage));
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

    void idsThatLeadNowhereAreRefused_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<StorageIdError>("error");

        const auto idOf = [](const QString &path) {
            return StorageIds::idForRelativePath(path);
        };
        const auto malformed = StorageIdError::malformed;
        QTest::newRow("up to the parent") << idOf(u".."_s) << malformed;
        QTest::newRow("up and over to the outside folder") << idOf(u"../outside/secret.txt"_s) << malformed;
        QTest::newRow("up from a sub-folder") << idOf(u"Music/../../outside/secret.txt"_s) << malformed;
        QTest::newRow("up and back in, an alias") << idOf(u"Music/../notes.txt"_s) << malformed;
        QTest::newRow("dot component") << idOf(u"./notes.txt"_s) << malformed;
        QTest::newRow("absolute path") << idOf(u"/etc/passwd"_s) << malformed;
        QTest::newRow("empty component") << idOf(u"Music//a.mp3"_s) << malformed;
        QTest::newRow("trailing slash") << idOf(u"Music/"_s) << malformed;
        QTest::newRow("NUL cutting the name short") << idOf(u"notes.txt\0.jpg"_s) << malformed;
        QTest::newRow("empty id") << QString() << malformed;
        QTest::newRow("plain path instead of an id") << u"../outside/secret.txt"_s << malformed;
        QTest::newRow("padded encoding, an alias") << idOf(u"Music/a.mp3"_s) + u"="_s << malformed;
        // "TXVzaWMvYS5tcDM" is the id of Music/a.mp3; the decoder ignores the last character's spare bits.
        QTest::newRow("spare bits set, an alias") << u"TXVzaWMvYS5tcDN"_s << malformed;
        QTest::newRow("bytes that are not UTF-8")
            << QString::fromLatin1(QByteArray("\xff/notes.txt")
                                       .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals))
            << malformed;

        const auto privateFolder = StorageIdError::privateFolder;
        QTest::newRow("private folder") << idOf(u".tavrine"_s) << privateFolder;
        QTest::newRow("pairing state file") << idOf(u".tavrine/state.json"_s) << privateFolder;
        QTest::newRow("inbox") << idOf(u".tavrine/inbox"_s) << privateFolder;
        QTest::newRow("link to the private folder") << idOf(u"link-to-private-folder"_s) << privateFolder;
        QTest::newRow("through a link to the private folder")
            << idOf(u"link-to-private-folder/state.json"_s) << privateFolder;
        QTest::newRow("link to the state file") << idOf(u"link-to-state-file"_s) << privateFolder;

        const auto outside = StorageIdError::outsideStorage;
        QTest::newRow("link to a file outside") << idOf(u"link-to-outside-file"_s) << outside;
        QTest::newRow("link to a folder outside") << idOf(u"link-to-outside-folder"_s) << outside;
        QTest::newRow("through a link to a folder outside") << idOf(u"link-to-outside-folder/secret.txt"_s) << outside;
        QTest::newRow("through a link to the parent") << idOf(u"link-to-parent/outside/secret.txt"_s) << outside;

        QTest::newRow("nothing there") << idOf(u"Music/none.mp3"_s) << StorageIdError::missing;
        QTest::newRow("dangling link") << idOf(u"dangling-link"_s) << StorageIdError::missing;
    }

    void idsThatLeadNowhereAreRefused()
    {
        QFETCH(QString, id);
        QFETCH(StorageIdError, error);
        QCOMPARE(StorageIds(m_storage).resolve(id), StorageIdResult(error));
    }

private:
    std::optional<QTemporaryDir> m_root;
    QString m_storage;
};

QTEST_GUILESS_MAIN(StorageIdsTest)
#include "test_storage_ids.moc"
