#include "FileActions.h"
#include "StorageTree.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <sys/statvfs.h>

using namespace Qt::StringLiterals;

// The action, its payload, the failure message (empty for success), the snapshot lines it removes and adds, and
// the entries in the trash afterwards.
using Changes = TestTable<QString, QJsonObject, QString, QStringList, QStringList, int>;
// The path deleted first, the entries then made ("-path" removes one), the policy, failure, removed, added.
using Restores = TestTable<QString, QStringList, QString, QString, QStringList, QStringList>;
// The walked folder's id, a chain of folders or a crowd of files made below "Big" first, the page size, and the
// walked relative paths or the failure.
using Trees = TestTable<QString, int, int, int, QStringList, QString>;
using Refusals = TestTable<QString, QJsonObject>;
// The query, the page size, and the first and count of the matching names in listing order.
using Listings = TestTable<QString, int, int, int>;

namespace {

QString idOf(const QString &path)
{
    return StorageIds::idForRelativePath(path);
}

// More than two of the copy's reads.
const QByteArray &binaryContents()
{
    static const QByteArray bytes = [] {
        QByteArray made(2 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype index = 0; index < made.size(); ++index)
            made[index] = char((index * 7919) ^ (index >> 9));
        return made;
    }();
    return bytes;
}

// A snapshot line: "path/" a folder, "path -> target" a link, "path|" a special file, "path=<md5>" a file.
QString file(const QString &path, const QByteArray &contents)
{
    return path + u'=' + QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Md5).toHex());
}

// Every item below `folder`, links not followed, the phone's private folder left out unless `withPrivate`.
QStringList snapshot(const QString &folder, bool withPrivate, const QString &prefix = {})
{
    QStringList lines;
    const auto entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString path = prefix + entry.fileName();
        if (entry.isSymLink())
            lines << path + u" -> "_s + entry.symLinkTarget();
        else if (entry.isDir() && (withPrivate || (path != u".tavrine"_s && path != u"storage/.tavrine"_s)))
            lines << path + u'/' << snapshot(entry.filePath(), withPrivate, path + u'/');
        else if (entry.isFile())
            lines << file(path, readFile(entry.filePath()));
        else if (!entry.isDir())
            lines << path + u'|';
    }
    lines.sort();
    return lines;
}

// `lines` without `removed` and with `added`, each under `prefix`; a line that was not there shows as "missing".
QStringList changed(QStringList lines, const QStringList &removed, const QStringList &added, const QString &prefix = {})
{
    for (const QString &line : removed)
        if (!lines.removeOne(prefix + line))
            lines << u"missing "_s + line;
    for (const QString &line : added)
        lines << prefix + line;
    lines.sort();
    return lines;
}

const QStringList documents =
    QStringLiteral("storage/Docs/a.txt=A;storage/Docs/b.txt=B;storage/Docs/Sub/a.txt=SUB-A;storage/Docs/Docs/in.txt=IN;"
                   "storage/Other/a.txt=OTHER-A;storage/Docs/Linked/inside.txt=I;"
                   "storage/Docs/Linked/out -> ../../../outside")
        .split(u';');

} // namespace

class FileActionsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        QVERIFY(makeEntries(m_root->path(), storageTree + documents));
        m_storage = m_root->filePath(u"storage"_s);
        QVERIFY(writeFile(m_storage + u"/Docs/bin.dat"_s, binaryContents()));
        m_actions.emplace(m_storage);
        m_handlers = ManagementHandlers();
        m_actions->addTo(m_handlers);
    }

    void rootsAndTheStorageFolderListing()
    {
        const QJsonObject roots = ask(u"files.roots"_s, {});
        struct statvfs status = {};
        QCOMPARE(::statvfs(QFile::encodeName(m_storage).constData(), &status), 0);
        const QJsonObject root = roots[u"roots"_s][0].toObject();
        QCOMPARE(root[u"id"_s], u"root"_s);
        QCOMPARE(root[u"name"_s], u"内部存储"_s);
        QCOMPARE(root[u"removable"_s], false);
        QCOMPARE(root[u"totalBytes"_s].toInteger(), qint64(status.f_blocks) * qint64(status.f_frsize));
        QVERIFY(root[u"availableBytes"_s].toInteger() > 0);

        const QJsonObject page = ask(u"files.list"_s, {{u"parentId"_s, u"root"_s}});
        QCOMPARE(page.keys(), QStringList({u"entries"_s, u"parentId"_s, u"parentName"_s, u"version"_s}));
        QCOMPARE(names(page[u"entries"_s].toArray()), QStringList({u"a"_s, u"Docs"_s, u"Music"_s, u"Other"_s, u"照片"_s,
                                                                   u".hidden"_s, u"empty.txt"_s, u"notes.txt"_s}));
        QJsonObject notes = page[u"entries"_s][7].toObject();
        const QFileInfo notesFile(m_storage + u"/notes.txt"_s);
        QCOMPARE(notes.take(u"modifiedAtMillis"_s).toInteger(), notesFile.lastModified().toMSecsSinceEpoch());
        QCOMPARE(notes, QJsonObject({{u"id"_s, idOf(u"notes.txt"_s)},
                                     {u"name"_s, u"notes.txt"_s},
                                     {u"directory"_s, false},
                                     {u"size"_s, notesFile.size()},
                                     {u"hidden"_s, false},
                                     {u"writable"_s, true}}));
        QCOMPARE(page[u"entries"_s][5][u"hidden"_s], true);
        QVERIFY(!page[u"entries"_s][1].toObject().contains(u"size"_s));

        const QJsonObject music = ask(u"files.list"_s, {{u"parentId"_s, idOf(u"Music"_s)}});
        QCOMPARE(music[u"parentName"_s], u"Music"_s);
        QCOMPARE(music[u"parentParentId"_s], u"root"_s);
        QCOMPARE(names(music[u"entries"_s].toArray()), QStringList({u".tavrine"_s, u"a.mp3"_s}));
    }

    void listingPagesToTheEnd_data()
    {
        const Listings rows;
        rows("pages of 100", QString(), 100, 0, 250);
        rows("pages of 7", QString(), 7, 0, 250);
        rows("page size 0 held to 1", QString(), 0, 0, 250);
        rows("page size 1000 held to 500", QString(), 1000, 0, 250);
        rows("query ignores case", u"iTeM 1"_s, 30, 150, 100);
        rows("query on folders", u"OLDER 04"_s, 3, 40, 10);
        rows("query matching nothing", u"zzz"_s, 10, 0, 0);
    }

    // Folders come first, then names ignoring case; every page but the last names the next.
    void listingPagesToTheEnd()
    {
        const auto [query, pageSize, first, count] = Listings::fetch();
        QStringList ordered;
        for (int number = 0; number < 50; ++number)
            ordered << u"Folder %1"_s.arg(number, 3, 10, QChar(u'0'));
        for (int number = 0; number < 200; ++number)
            ordered << (number % 2 ? u"ITEM %1.txt"_s : u"item %1.txt"_s).arg(number, 3, 10, QChar(u'0'));
        for (const QString &name : ordered)
            QVERIFY(name.startsWith(u'F') ? QDir().mkpath(m_storage + u"/Many/"_s + name)
                                          : writeFile(m_storage + u"/Many/"_s + name, "x"));

        const QJsonArray entries =
            pages(u"files.list"_s, {{u"parentId"_s, idOf(u"Many"_s)}, {u"query"_s, query}}, pageSize);
        QCOMPARE(names(entries), ordered.mid(first, count));
    }

    void changesHonourTheConflictPolicy_data()
    {
        const Changes rows;
        const auto payload = [](QJsonObject object, const char *policy) {
            object.insert(u"conflictPolicy"_s, QString::fromLatin1(policy));
            return object;
        };
        const auto named = [&](const char *name, const char *policy, const QString &id = idOf(u"Docs/a.txt"_s)) {
            return payload({{u"id"_s, id}, {u"name"_s, QString::fromUtf8(name)}}, policy);
        };
        const auto from = [&](const QString &source, const QString &destination, const char *policy) {
            return payload({{u"sourceId"_s, idOf(source)}, {u"destinationParentId"_s, idOf(destination)}}, policy);
        };
        const auto mkdir = [&](const char *name, const char *policy) {
            return payload({{u"parentId"_s, idOf(u"Docs"_s)}, {u"name"_s, QString::fromUtf8(name)}}, policy);
        };
        const QString a = file(u"Docs/a.txt"_s, "A"), b = file(u"Docs/b.txt"_s, "B");
        const QString otherA = file(u"Other/a.txt"_s, "OTHER-A");
        const QString taken = u"同名项目已存在："_s, itself = u"不能用项目替换它自己。"_s;
        const QString intoItself = u"不能把文件夹放进它自己或它的子文件夹。"_s;
        const QString mk = u"files.mkdir"_s, rn = u"files.rename"_s, cp = u"files.copy"_s, mv = u"files.move"_s;

        rows("mkdir, free name", mk, mkdir("新建", "error"), {}, {}, {u"Docs/新建/"_s}, 0);
        rows("mkdir, error", mk, mkdir("Sub", "error"), taken + u"Sub"_s, {}, {}, 0);
        rows("mkdir, keep both", mk, mkdir("Sub", "keep_both"), {}, {}, {u"Docs/Sub (1)/"_s}, 0);
        rows("mkdir, replace a file", mk, mkdir("a.txt", "replace"), {}, {a}, {u"Docs/a.txt/"_s}, 1);
        rows("rename, free name", rn, named("c.txt", "error"), {}, {a}, {file(u"Docs/c.txt"_s, "A")}, 0);
        rows("rename, error", rn, named("b.txt", "error"), taken + u"b.txt"_s, {}, {}, 0);
        rows("rename, keep both", rn, named("b.txt", "keep_both"), {}, {a}, {file(u"Docs/b (1).txt"_s, "A")}, 0);
        rows("rename, replace", rn, named("b.txt", "replace"), {}, {a, b}, {file(u"Docs/b.txt"_s, "A")}, 1);
        rows("rename onto itself, replace", rn, named("a.txt", "replace"), itself, {}, {}, 0);
        rows("rename the storage folder", rn, named("x", "error", u"root"_s), u"不能对存储根目录执行这个操作。"_s, {},
             {}, 0);
        rows("copy, error", cp, from(u"Other/a.txt"_s, u"Docs"_s, "error"), taken + u"a.txt"_s, {}, {}, 0);
        rows("copy, keep both", cp, from(u"Other/a.txt"_s, u"Docs"_s, "keep_both"), {}, {},
             {file(u"Docs/a (1).txt"_s, "OTHER-A")}, 0);
        rows("copy, replace", cp, from(u"Other/a.txt"_s, u"Docs"_s, "replace"), {}, {a},
             {file(u"Docs/a.txt"_s, "OTHER-A")}, 1);
        rows("copy into its own folder, replace", cp, from(u"Docs/a.txt"_s, u"Docs"_s, "replace"), itself, {}, {}, 0);
        rows("copy keeps the bytes", cp, from(u"Docs/bin.dat"_s, u"Other"_s, "error"), {}, {},
             {file(u"Other/bin.dat"_s, binaryContents())}, 0);
        rows("copy a folder, links left out", cp, from(u"Docs/Linked"_s, u"Other"_s, "error"), {}, {},
             {u"Other/Linked/"_s, file(u"Other/Linked/inside.txt"_s, "I")}, 0);
        rows("copy a folder, keep both", cp, from(u"Docs/Sub"_s, u"Docs"_s, "keep_both"), {}, {},
             {u"Docs/Sub (1)/"_s, file(u"Docs/Sub (1)/a.txt"_s, "SUB-A")}, 0);
        rows("copy a folder into itself", cp, from(u"Docs"_s, u"Docs"_s, "keep_both"), intoItself, {}, {}, 0);
        rows("copy a folder below itself", cp, from(u"Docs"_s, u"Docs/Sub"_s, "keep_both"), intoItself, {}, {}, 0);
        rows("move, error", mv, from(u"Other/a.txt"_s, u"Docs"_s, "error"), taken + u"a.txt"_s, {}, {}, 0);
        rows("move, keep both", mv, from(u"Other/a.txt"_s, u"Docs"_s, "keep_both"), {}, {otherA},
             {file(u"Docs/a (1).txt"_s, "OTHER-A")}, 0);
        rows("move, replace", mv, from(u"Other/a.txt"_s, u"Docs"_s, "replace"), {}, {otherA, a},
             {file(u"Docs/a.txt"_s, "OTHER-A")}, 1);
        rows("move a folder", mv, from(u"Docs/Sub"_s, u"Other"_s, "error"), {},
             {u"Docs/Sub/"_s, file(u"Docs/Sub/a.txt"_s, "SUB-A")},
             {u"Other/Sub/"_s, file(u"Other/Sub/a.txt"_s, "SUB-A")}, 0);
        rows("move over the folder holding it, replace", mv, from(u"Docs/Docs"_s, QString(), "replace"),
             u"不能替换包含这个项目的文件夹。"_s, {}, {}, 0);
        rows("move a folder below itself", mv, from(u"Docs"_s, u"Docs/Sub"_s, "error"), intoItself, {}, {}, 0);
        rows("move the storage folder", mv, from(QString(), u"Docs"_s, "error"), u"不能对存储根目录执行这个操作。"_s,
             {}, {}, 0);
        rows("delete", u"files.delete"_s, {{u"id"_s, idOf(u"Docs/Sub"_s)}}, {},
             {u"Docs/Sub/"_s, file(u"Docs/Sub/a.txt"_s, "SUB-A")}, {}, 1);
    }

    // Exactly the named items change; a replaced item waits in the trash.
    void changesHonourTheConflictPolicy()
    {
        const auto [action, payload, failure, removed, added, trashed] = Changes::fetch();
        const QStringList before = snapshot(m_storage, false);

        const ManagementAnswer answer = m_handlers.answer(action, text(payload));
        QCOMPARE(answer.message, failure);
        QCOMPARE(snapshot(m_storage, false), changed(before, removed, added));
        QCOMPARE(pages(u"files.trash.list"_s, {}, 100).size(), trashed);
    }

    void restoreHonoursTheConflictPolicy_data()
    {
        const Restores rows;
        const QString a = u"Docs/a.txt"_s, subA = u"Docs/Sub/a.txt"_s;
        const QStringList newA{u"storage/Docs/a.txt=NEW"_s};
        rows("free place", a, {}, u"error"_s, {}, {}, {file(a, "A")});
        rows("error", a, newA, u"error"_s, u"同名项目已存在：a.txt"_s, {}, {});
        rows("keep both", a, newA, u"keep_both"_s, {}, {}, {file(u"Docs/a (1).txt"_s, "A")});
        rows("replace", a, newA, u"replace"_s, {}, {file(a, "NEW")}, {file(a, "A")});
        rows("original folder gone", subA, {u"-storage/Docs"_s}, u"error"_s, {}, {},
             {u"Docs/"_s, u"Docs/Sub/"_s, file(subA, "SUB-A")});
        rows("original folder now a link outside", subA,
             {u"-storage/Docs/Sub"_s, u"storage/Docs/Sub -> ../../outside"_s}, u"keep_both"_s,
             u"原位置已不在存储中，无法恢复。"_s, {}, {});
        rows("original folder now a file", subA, {u"-storage/Docs/Sub"_s, u"storage/Docs/Sub=S"_s}, u"replace"_s,
             u"原位置已不在存储中，无法恢复。"_s, {}, {});
    }

    void restoreHonoursTheConflictPolicy()
    {
        const auto [deleted, setup, policy, failure, removed, added] = Restores::fetch();
        QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(deleted)}}), QJsonObject());
        for (const QString &entry : setup)
            QVERIFY(entry.startsWith(u'-') ? QDir(m_root->filePath(entry.mid(1))).removeRecursively()
                                           : makeEntries(m_root->path(), {entry}));
        const QStringList before = snapshot(m_root->path(), false);
        const QString trashId = pages(u"files.trash.list"_s, {}, 100).at(0)[u"id"_s].toString();

        const ManagementAnswer answer =
            m_handlers.answer(u"files.trash.restore"_s, text({{u"id"_s, trashId}, {u"conflictPolicy"_s, policy}}));
        QCOMPARE(answer.message, failure);
        QCOMPARE(snapshot(m_root->path(), false), changed(before, removed, added, u"storage/"_s));
        QCOMPARE(pages(u"files.trash.list"_s, {}, 100).size(), failure.isEmpty() && policy != u"replace" ? 0 : 1);
    }

    // What goes into the trash is listed newest first with where it came from, and emptying counts it all.
    void trashKeepsWhatWasDeletedUntilEmptied()
    {
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        for (const QString &path : {u"Docs/a.txt"_s, u"Docs/Sub"_s, u"Other/a.txt"_s})
            QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(path)}}), QJsonObject());
        const qint64 end = QDateTime::currentMSecsSinceEpoch();

        const QJsonArray entries = pages(u"files.trash.list"_s, {}, 2);
        QCOMPARE(names(entries, u"originalName"_s), QStringList({u"a.txt"_s, u"Sub"_s, u"a.txt"_s}));
        QJsonObject sub = entries[1].toObject();
        QVERIFY(PhoneTrash::isEntryId(sub.take(u"id"_s).toString()));
        QVERIFY(sub.take(u"deletedAtMillis"_s).toInteger() >= start);
        QCOMPARE(sub, QJsonObject({{u"originalName"_s, u"Sub"_s},
                                   {u"originalParentId"_s, idOf(u"Docs"_s)},
                                   {u"originalLocation"_s, u"内部存储/Docs"_s},
                                   {u"rootId"_s, u"root"_s},
                                   {u"directory"_s, true}}));
        QCOMPARE(entries[0][u"size"_s].toInteger(), 7);
        QCOMPARE(entries[0][u"originalLocation"_s], u"内部存储/Other"_s);
        QVERIFY(entries[0][u"deletedAtMillis"_s].toInteger() <= end);
        QCOMPARE(names(pages(u"files.trash.list"_s, {{u"query"_s, u"A.TXT"_s}}, 1), u"originalName"_s),
                 QStringList({u"a.txt"_s, u"a.txt"_s}));
        // Trash ids are no storage ids.
        QCOMPARE(m_handlers.answer(u"files.list"_s, text({{u"parentId"_s, entries[1][u"id"_s]}})).success, false);

        QCOMPARE(ask(u"files.trash.restore"_s, {{u"id"_s, entries[1][u"id"_s]}, {u"conflictPolicy"_s, u"error"_s}}),
                 QJsonObject());
        QCOMPARE(readFile(m_storage + u"/Docs/Sub/a.txt"_s), "SUB-A");
        QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(u"Docs/bin.dat"_s)}}), QJsonObject());

        QCOMPARE(
            ask(u"files.trash.empty"_s, {}),
            QJsonObject(
                {{u"version"_s, 1}, {u"deletedCount"_s, 3}, {u"reclaimedBytes"_s, 1 + 7 + binaryContents().size()}}));
        QCOMPARE(pages(u"files.trash.list"_s, {}, 100), QJsonArray());
        QCOMPARE(ask(u"files.trash.empty"_s, {})[u"deletedCount"_s], 0);
    }

    // The index is a file on disk: entries whose original place is outside the storage are never listed or
    // restored, yet emptying removes their items.
    void trashIndexIsCheckedBeforeUse()
    {
        QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(u"notes.txt"_s)}}), QJsonObject());
        const QString trash = m_storage + u"/.tavrine/trash/"_s;
        QJsonObject entry = QJsonDocument::fromJson(readFile(trash + u"index.json"_s))[u"entries"_s][0].toObject();
        QJsonArray stored{entry};
        for (const QString &path : {u"../outside/secret.txt"_s, u".tavrine/state.json"_s, u"a/../../x"_s}) {
            const QString id = QString::number(stored.size()).repeated(32);
            entry[u"id"_s] = id;
            entry[u"originalPath"_s] = path;
            entry[u"originalName"_s] = path.section(u'/', -1);
            stored.append(entry);
            QVERIFY(writeFile(trash + u"items/"_s + id, "planted"));
        }
        QVERIFY(writeFile(trash + u"index.json"_s, QJsonDocument(QJsonObject{{u"entries"_s, stored}}).toJson()));

        const QJsonArray listed = pages(u"files.trash.list"_s, {}, 100);
        QCOMPARE(names(listed, u"originalName"_s), QStringList({u"notes.txt"_s}));
        const ManagementAnswer planted = m_handlers.answer(
            u"files.trash.restore"_s, text({{u"id"_s, u"1"_s.repeated(32)}, {u"conflictPolicy"_s, u"keep_both"_s}}));
        QCOMPARE(planted.message, u"回收站中找不到这个项目。"_s);
        QCOMPARE(readFile(m_root->filePath(u"outside/secret.txt"_s)), "outside/secret.txt");
        QCOMPARE(ask(u"files.trash.empty"_s, {})[u"deletedCount"_s], 4);
    }

    void treeWalksEverythingBelowAFolder_data()
    {
        const Trees rows;
        rows("nested folder", idOf(u"a"_s), 0, 0, 100, {u"b"_s, u"b/c"_s, u"b/c/deep.txt"_s}, {});
        rows("storage folder in pages of 4, without private folder, links and pipes", u"root"_s, 0, 0, 4,
             u"a;a/b;a/b/c;a/b/c/deep.txt;Docs;Docs/Docs;Docs/Docs/in.txt;Docs/Linked;Docs/Linked/inside.txt;"
             "Docs/Sub;Docs/Sub/a.txt;Docs/a.txt;Docs/b.txt;Docs/bin.dat;Music;Music/.tavrine;Music/.tavrine/x;"
             "Music/a.mp3;Other;Other/a.txt;照片;照片/旅行;照片/海边 1.jpg;.hidden;empty.txt;notes.txt"_s.split(u';'),
             {});
        rows("64 levels", idOf(u"Big"_s), 64, 0, 500, {}, {});
        rows("65 levels", idOf(u"Big"_s), 65, 0, 100, {}, u"文件夹层级超过 64 层。"_s);
        rows("10001 items", idOf(u"Big"_s), 0, 10001, 500, {}, {});
        rows("10002 items", idOf(u"Big"_s), 0, 10002, 100, {}, u"文件夹中的项目超过 10001 个。"_s);
        rows("a file", idOf(u"notes.txt"_s), 0, 0, 100, {}, u"找不到目标文件夹。"_s);
    }

    void treeWalksEverythingBelowAFolder()
    {
        const auto [id, levels, crowd, pageSize, paths, failure] = Trees::fetch();
        QString chain = m_storage + u"/Big"_s;
        for (int level = 0; level < levels; ++level)
            chain += u"/d"_s;
        QVERIFY(levels + crowd == 0 || QDir().mkpath(chain));
        for (int number = 0; number < crowd; ++number)
            QVERIFY(QFile(chain + u"/f"_s + QString::number(number)).open(QIODevice::WriteOnly));

        if (!failure.isEmpty()) {
            QCOMPARE(m_handlers.answer(u"files.tree"_s, text({{u"id"_s, id}})).message, failure);
            return;
        }
        const QJsonArray entries = pages(u"files.tree"_s, {{u"id"_s, id}}, pageSize);
        QCOMPARE(entries.size(), levels + crowd + paths.size());
        if (!paths.isEmpty()) {
            QCOMPARE(names(entries, u"relativePath"_s), paths);
            const QString base = id == u"root"_s ? QString() : u"a/"_s;
            QCOMPARE(entries[2][u"id"_s], idOf(base + paths[2]));
            QCOMPARE(entries.last()[u"size"_s].toInteger(), QFileInfo(m_storage + u'/' + base + paths.last()).size());
        }
    }

    void refusedRequestsChangeNothing_data()
    {
        const Refusals rows;
        const QStringList hostile =
            u"../outside/secret.txt;..;/etc;.tavrine;.tavrine/trash;.tavrine/trash/items;.tavrine/state.json;"
            "link-to-outside-folder;link-to-outside-file;link-to-music;link-to-music/a.mp3;link-to-parent/outside;pipe"_s
                .split(u';');
        const QJsonValue keep = u"keep_both"_s;
        for (const QString &path : hostile) {
            const QString id = idOf(path);
            const auto row = [&](const char *action, const QJsonObject &payload, const char *role = "") {
                rows(qPrintable(u"%1%2 %3"_s.arg(QString::fromLatin1(action), QString::fromLatin1(role), path)),
                     QString::fromLatin1(action), payload);
            };
            row("files.list", {{u"parentId"_s, id}});
            row("files.tree", {{u"id"_s, id}});
            row("files.mkdir", {{u"parentId"_s, id}, {u"name"_s, u"new"_s}, {u"conflictPolicy"_s, keep}});
            row("files.rename", {{u"id"_s, id}, {u"name"_s, u"renamed"_s}, {u"conflictPolicy"_s, keep}});
            row("files.copy",
                {{u"sourceId"_s, id}, {u"destinationParentId"_s, u"root"_s}, {u"conflictPolicy"_s, keep}});
            row("files.move",
                {{u"sourceId"_s, id}, {u"destinationParentId"_s, u"root"_s}, {u"conflictPolicy"_s, keep}});
            row("files.copy",
                {{u"sourceId"_s, idOf(u"notes.txt"_s)}, {u"destinationParentId"_s, id}, {u"conflictPolicy"_s, keep}},
                " into");
            row("files.delete", {{u"id"_s, id}});
            row("files.trash.restore", {{u"id"_s, path}, {u"conflictPolicy"_s, keep}});
        }
        const QJsonObject notes{{u"id"_s, idOf(u"notes.txt"_s)}, {u"conflictPolicy"_s, keep}};
        const auto with = [](QJsonObject object, const QString &key, const QJsonValue &value) {
            object.insert(key, value);
            return object;
        };
        for (const QString &name : {u""_s, u"."_s, u".."_s, u"../x"_s, u"a/b"_s, u"a\\b"_s, u"x"_s.repeated(256)})
            rows(qPrintable(u"rename to \"%1\""_s.arg(name.left(8))), u"files.rename"_s, with(notes, u"name"_s, name));
        rows("name as a number", u"files.rename"_s, with(notes, u"name"_s, 5));
        rows("unknown policy", u"files.rename"_s,
             with(with(notes, u"name"_s, u"x"_s), u"conflictPolicy"_s, u"overwrite"_s));
        rows("no policy", u"files.mkdir"_s, {{u"parentId"_s, u"root"_s}, {u"name"_s, u"x"_s}});
        rows("id as an array", u"files.delete"_s, {{u"id"_s, QJsonArray{idOf(u"notes.txt"_s)}}});
        rows("id too long", u"files.delete"_s, {{u"id"_s, u"A"_s.repeated(20000)}});
        rows("delete the storage folder", u"files.delete"_s, {{u"id"_s, u"root"_s}});
        const QJsonValue replace = u"replace"_s;
        rows("folder named like the private one", u"files.mkdir"_s,
             {{u"parentId"_s, u"root"_s}, {u"name"_s, u".tavrine"_s}, {u"conflictPolicy"_s, replace}});
        rows("rename to the private folder's name", u"files.rename"_s,
             with(with(notes, u"name"_s, u".tavrine"_s), u"conflictPolicy"_s, replace));
        rows("move a folder named like the private one to the top", u"files.move"_s,
             {{u"sourceId"_s, idOf(u"Music/.tavrine"_s)},
              {u"destinationParentId"_s, u"root"_s},
              {u"conflictPolicy"_s, replace}});
        rows("negative page token", u"files.list"_s, {{u"parentId"_s, u"root"_s}, {u"pageToken"_s, -1}});
        rows("page token as text", u"files.list"_s, {{u"parentId"_s, u"root"_s}, {u"pageToken"_s, u"0"_s}});
        rows("fractional page size", u"files.tree"_s, {{u"id"_s, u"root"_s}, {u"pageSize"_s, 1.5}});
        rows("query as a number", u"files.trash.list"_s, {{u"query"_s, 7}});
        rows("query too long", u"files.list"_s, {{u"parentId"_s, u"root"_s}, {u"query"_s, u"q"_s.repeated(1025)}});
        rows("trash id of another form", u"files.trash.restore"_s,
             {{u"id"_s, u"0123456789ABCDEF0123456789ABCDEF"_s}, {u"conflictPolicy"_s, keep}});
    }

    // Nothing inside or outside the storage folder changes, the private folder included.
    void refusedRequestsChangeNothing()
    {
        const auto [action, payload] = Refusals::fetch();
        QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(u"empty.txt"_s)}}), QJsonObject());
        const QStringList before = snapshot(m_root->path(), true);

        const ManagementAnswer answer = m_handlers.answer(action, text(payload));
        QVERIFY(!answer.success);
        QVERIFY(!answer.message.isEmpty());
        QCOMPARE(snapshot(m_root->path(), true), before);
    }

private:
    static QString text(const QJsonObject &payload)
    {
        return QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
    }

    static QStringList names(const QJsonArray &entries, const QString &key = u"name"_s)
    {
        QStringList names;
        for (const QJsonValue &entry : entries)
            names << entry[key].toString();
        return names;
    }

    // The answer of a request that must succeed; an empty object otherwise, after a failed check.
    QJsonObject ask(const QString &action, const QJsonObject &payload)
    {
        const ManagementAnswer answer = m_handlers.answer(action, text(payload));
        if (!answer.success)
            qWarning("%s failed: %s", qPrintable(action), qPrintable(answer.message));
        return answer.success ? QJsonDocument::fromJson(answer.payload.toUtf8()).object()
                              : QJsonObject{{u"failed"_s, answer.message}};
    }

    // All entries of a paged action, checking that each page's token moves forward and that pages are full.
    QJsonArray pages(const QString &action, QJsonObject payload, int pageSize)
    {
        QJsonArray entries;
        payload.insert(u"pageSize"_s, pageSize);
        for (qint64 token = 0;;) {
            payload.insert(u"pageToken"_s, token);
            const QJsonObject page = ask(action, payload);
            const QJsonArray pageEntries = page[u"entries"_s].toArray();
            for (const QJsonValue &entry : pageEntries)
                entries.append(entry);
            if (!page.contains(u"nextPageToken"_s))
                return entries;
            const qint64 next = page[u"nextPageToken"_s].toInteger();
            if (next <= token || pageEntries.size() != std::clamp(pageSize, 1, 500))
                return {};
            token = next;
        }
    }

    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    std::optional<FileActions> m_actions;
    ManagementHandlers m_handlers;
};

QTEST_GUILESS_MAIN(FileActionsTest)
#include "test_file_actions.moc"
