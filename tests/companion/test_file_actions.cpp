#include "FileActionError.h"
#include "FileActions.h"
#include "FileOperations.h"
#include "StorageTree.h"
#include "transfers/FullDisk.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

// The action, its payload, the snapshot lines it removes and adds, and the entries in the trash afterwards.
using Changes = TestTable<QString, QJsonObject, QStringList, QStringList, int>;
// The entries made once Docs/Sub/a.txt is in the trash ("-path" removes one), the policy, failure, lines added.
using Restores = TestTable<QStringList, QString, QString, QStringList>;
// The action, its payload, and the failure message when it matters.
using Refusals = TestTable<QString, QJsonObject, QString>;

namespace {

QString idOf(const QString &path)
{
    return StorageIds::idForRelativePath(path);
}

// More than two of the copy's reads, in a pattern that does not line up with them.
const QByteArray binaryContents = QByteArray("\0\r\n\xff-0123456789ABC", 17).repeated(123400);

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

// `count` names in `folder` for one empty file: each is an item of a listing, and much quicker to make than a file.
bool makeNames(const QString &folder, int count)
{
    const QByteArray path = QFile::encodeName(folder + u'/');
    bool made = writeFile(folder + u"/0"_s, {});
    for (int number = 1; made && number < count; ++number)
        made = ::link(path + "0", path + QByteArray::number(number)) == 0;
    return made;
}

// A request that would succeed for any action, with `changes` made to it.
QJsonObject request(const QJsonObject &changes)
{
    QJsonObject payload{{u"id"_s, idOf(u"notes.txt"_s)}, {u"sourceId"_s, idOf(u"notes.txt"_s)},
                        {u"parentId"_s, u"root"_s},      {u"destinationParentId"_s, u"root"_s},
                        {u"name"_s, u"new"_s},           {u"conflictPolicy"_s, u"keep_both"_s}};
    for (auto change = changes.begin(); change != changes.end(); ++change)
        payload.insert(change.key(), change.value());
    return payload;
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
        QVERIFY(writeFile(m_storage + u"/Docs/bin.dat"_s, binaryContents));
        m_actions.emplace(m_storage);
        m_handlers = ManagementHandlers();
        m_actions->addTo(m_handlers);
    }

    // Folders first, then files, each in name order ignoring case; the private folder is left out only at the top.
    void storageFolderListing()
    {
        const QJsonObject page = ask(u"files.list"_s, {{u"parentId"_s, u"root"_s}});
        QCOMPARE(names(page[u"entries"_s].toArray()), QStringList({u"a"_s, u"Docs"_s, u"Music"_s, u"Other"_s, u"照片"_s,
                                                                   u".hidden"_s, u"empty.txt"_s, u"notes.txt"_s}));
        QCOMPARE(page[u"entries"_s][5][u"hidden"_s], true);
        QCOMPARE(page[u"entries"_s][7][u"modifiedAtMillis"_s].toInteger(),
                 QFileInfo(m_storage + u"/notes.txt"_s).lastModified().toMSecsSinceEpoch());
        const QJsonObject music = ask(u"files.list"_s, {{u"parentId"_s, idOf(u"Music"_s)}});
        QCOMPARE(music[u"parentParentId"_s], u"root"_s);
        QCOMPARE(names(music[u"entries"_s].toArray()), QStringList({u".tavrine"_s, u"a.mp3"_s}));

        // Queries ignore case; pages hold 1 to 500 entries.
        QCOMPARE(names(pages(u"files.list"_s, {{u"parentId"_s, u"root"_s}, {u"query"_s, u"o"_s}}, 0)),
                 QStringList({u"Docs"_s, u"Other"_s, u"notes.txt"_s}));
        QVERIFY(makeNames(m_storage + u"/Many"_s, 501));
        QCOMPARE(pages(u"files.list"_s, {{u"parentId"_s, idOf(u"Many"_s)}}, 1000).size(), 501);
    }

    void changesTouchOnlyTheNamedItems_data()
    {
        const Changes rows;
        const auto from = [](const QString &source, const QString &destination) {
            return request({{u"sourceId"_s, idOf(source)}, {u"destinationParentId"_s, idOf(destination)}});
        };
        const QString a = file(u"Docs/a.txt"_s, "A"), cp = u"files.copy"_s;

        rows("mkdir, replace a file", u"files.mkdir"_s,
             request({{u"parentId"_s, idOf(u"Docs"_s)}, {u"name"_s, u"a.txt"_s}, {u"conflictPolicy"_s, u"replace"_s}}),
             {a}, {u"Docs/a.txt/"_s}, 1);
        rows("copy keeps the bytes", cp, from(u"Docs/bin.dat"_s, u"Other"_s), {},
             {file(u"Other/bin.dat"_s, binaryContents)}, 0);
        rows("copy a folder, links left out", cp, from(u"Docs/Linked"_s, u"Other"_s), {},
             {u"Other/Linked/"_s, file(u"Other/Linked/inside.txt"_s, "I")}, 0);
        rows("delete", u"files.delete"_s, {{u"id"_s, idOf(u"Docs/Sub"_s)}},
             {u"Docs/Sub/"_s, file(u"Docs/Sub/a.txt"_s, "SUB-A")}, {}, 1);
    }

    // Exactly the named items change; a replaced item waits in the trash.
    void changesTouchOnlyTheNamedItems()
    {
        const auto [action, payload, removed, added, trashed] = Changes::fetch();
        const QStringList before = snapshot(m_storage, false);

        QCOMPARE(m_handlers.answer(action, text(payload)).message, QString());
        QCOMPARE(snapshot(m_storage, false), changed(before, removed, added));
        QCOMPARE(pages(u"files.trash.list"_s, {}, 100).size(), trashed);
    }

    void restoreRemakesTheOriginalFolderOnlyInsideTheStorage_data()
    {
        const Restores rows;
        const QString subA = u"Docs/Sub/a.txt"_s, moved = u"原位置已不在存储中，无法恢复。"_s;
        rows("original folder gone", {u"-storage/Docs"_s}, u"error"_s, {},
             {u"Docs/"_s, u"Docs/Sub/"_s, file(subA, "SUB-A")});
        rows("original folder now a link outside", {u"-storage/Docs/Sub"_s, u"storage/Docs/Sub -> ../../outside"_s},
             u"keep_both"_s, moved, {});
        rows("original folder now a file", {u"-storage/Docs/Sub"_s, u"storage/Docs/Sub=S"_s}, u"replace"_s, moved, {});
    }

    void restoreRemakesTheOriginalFolderOnlyInsideTheStorage()
    {
        const auto [setup, policy, failure, added] = Restores::fetch();
        QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(u"Docs/Sub/a.txt"_s)}}), QJsonObject());
        for (const QString &entry : setup)
            QVERIFY(entry.startsWith(u'-') ? QDir(m_root->filePath(entry.mid(1))).removeRecursively()
                                           : makeEntries(m_root->path(), {entry}));
        const QStringList before = snapshot(m_root->path(), false);
        const QString trashId = pages(u"files.trash.list"_s, {}, 100).at(0)[u"id"_s].toString();

        const ManagementAnswer answer =
            m_handlers.answer(u"files.trash.restore"_s, text({{u"id"_s, trashId}, {u"conflictPolicy"_s, policy}}));
        QCOMPARE(answer.message, failure);
        QCOMPARE(snapshot(m_root->path(), false), changed(before, {}, added, u"storage/"_s));
        QCOMPARE(pages(u"files.trash.list"_s, {}, 100).size(), failure.isEmpty() ? 0 : 1);
    }

    // What goes into the trash is listed newest first with where it came from, and emptying counts it all.
    void trashKeepsWhatWasDeletedUntilEmptied()
    {
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        for (const QString &path : {u"Docs/a.txt"_s, u"Docs/Sub"_s, u"Other/a.txt"_s})
            QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(path)}}), QJsonObject());

        const QJsonArray entries = pages(u"files.trash.list"_s, {}, 2);
        QCOMPARE(names(entries, u"originalName"_s), QStringList({u"a.txt"_s, u"Sub"_s, u"a.txt"_s}));
        QCOMPARE(names(entries, u"originalLocation"_s),
                 QStringList({u"内部存储/Other"_s, u"内部存储/Docs"_s, u"内部存储/Docs"_s}));
        QVERIFY(entries[1][u"deletedAtMillis"_s].toInteger() >= start);
        QCOMPARE(names(pages(u"files.trash.list"_s, {{u"query"_s, u"A.TXT"_s}}, 1), u"originalName"_s),
                 QStringList({u"a.txt"_s, u"a.txt"_s}));

        QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(u"Docs/bin.dat"_s)}}), QJsonObject());
        QCOMPARE(ask(u"files.trash.empty"_s, {}),
                 QJsonObject(
                     {{u"version"_s, 1}, {u"deletedCount"_s, 4}, {u"reclaimedBytes"_s, 13 + binaryContents.size()}}));
        QCOMPARE(pages(u"files.trash.list"_s, {}, 100), QJsonArray());
    }

    // On a full disk a move to the trash is refused whole: the item stays in place, and the trash keeps what it held.
    void fullDiskLeavesTheTrashAsItWas()
    {
        QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(u"notes.txt"_s)}}), QJsonObject());
        QJsonObject refused;
        {
            const FileSizeLimit fullDisk(64);
            QVERIFY(fullDisk.isActive());
            refused = ask(u"files.delete"_s, {{u"id"_s, idOf(u"Docs/a.txt"_s)}});
        }
        QCOMPARE(refused, QJsonObject({{u"failed"_s, u"回收站不可用。"_s}}));
        QVERIFY(QFile::exists(m_storage + u"/Docs/a.txt"_s));
        QCOMPARE(names(pages(u"files.trash.list"_s, {}, 100), u"originalName"_s), QStringList({u"notes.txt"_s}));
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

        QCOMPARE(names(pages(u"files.trash.list"_s, {}, 100), u"originalName"_s), QStringList({u"notes.txt"_s}));
        const ManagementAnswer planted = m_handlers.answer(
            u"files.trash.restore"_s, text({{u"id"_s, u"1"_s.repeated(32)}, {u"conflictPolicy"_s, u"keep_both"_s}}));
        QCOMPARE(planted.message, u"回收站中找不到这个项目。"_s);
        QCOMPARE(readFile(m_root->filePath(u"outside/secret.txt"_s)), "outside/secret.txt");
        QCOMPARE(ask(u"files.trash.empty"_s, {})[u"deletedCount"_s], 4);
    }

    // Folders before their contents, without the private folder, links and pipes; paths from the walked folder. The
    // computer takes at most 10000 items and 64 levels: a walk stops just beyond.
    void treeWalksEverythingBelowAFolderUpToItsLimits()
    {
        const QJsonArray entries = pages(u"files.tree"_s, {{u"id"_s, u"root"_s}}, 4);
        QCOMPARE(
            names(entries, u"relativePath"_s),
            u"a;a/b;a/b/c;a/b/c/deep.txt;Docs;Docs/Docs;Docs/Docs/in.txt;Docs/Linked;Docs/Linked/inside.txt;"
            "Docs/Sub;Docs/Sub/a.txt;Docs/a.txt;Docs/b.txt;Docs/bin.dat;Music;Music/.tavrine;Music/.tavrine/x;"
            "Music/a.mp3;Other;Other/a.txt;照片;照片/旅行;照片/海边 1.jpg;.hidden;empty.txt;notes.txt"_s.split(u';'));
        QCOMPARE(entries.last()[u"size"_s].toInteger(), QFileInfo(m_storage + u"/notes.txt"_s).size());
        const QJsonArray nested = pages(u"files.tree"_s, {{u"id"_s, idOf(u"a"_s)}}, 100);
        QCOMPARE(names(nested, u"relativePath"_s), QStringList({u"b"_s, u"b/c"_s, u"b/c/deep.txt"_s}));
        QCOMPARE(nested[2][u"id"_s], idOf(u"a/b/c/deep.txt"_s));

        const QString a = m_storage + u"/a"_s; // b, b/c, b/c/deep.txt
        QCOMPARE(FileOperations::walk(a, false, {3, 3}).size(), 3);
        QVERIFY_THROWS_EXCEPTION(FileActionError, FileOperations::walk(a, false, {2, 3}));
        QVERIFY_THROWS_EXCEPTION(FileActionError, FileOperations::walk(a, false, {3, 2}));
        QCOMPARE(FileOperations::walk(a, false, {2, 3, true}).size(), 2);

        const auto refusal = [this](const QString &path) {
            return m_handlers.answer(u"files.tree"_s, text({{u"id"_s, idOf(path)}})).message;
        };
        QCOMPARE(refusal(u"notes.txt"_s), u"找不到目标文件夹。"_s);
        QVERIFY(QDir(m_storage).mkpath(u"Deep"_s + u"/d"_s.repeated(65)));
        QCOMPARE(refusal(u"Deep"_s), u"文件夹层级超过 64 层。"_s);
        // Beyond the items the computer takes, the walk stops rather than fails, so that the computer says why.
        QVERIFY(makeNames(m_storage + u"/Big"_s, 10002));
        QCOMPARE(pages(u"files.tree"_s, {{u"id"_s, idOf(u"Big"_s)}}, 500).size(), 10001);
    }

    void refusedRequestsChangeNothing_data()
    {
        const Refusals rows;
        const auto row = [&rows](const QString &name, const QString &action, const QJsonObject &changes,
                                 const QString &message = {}) {
            rows(qPrintable(name), u"files."_s + action, request(changes), message);
        };
        const QStringList uses = u"list parentId;tree id;mkdir parentId;rename id;copy sourceId;move sourceId;"
                                 "copy destinationParentId;delete id"_s.split(u';');
        const QString hostile = u"../outside/secret.txt;.tavrine;.tavrine/state.json;link-to-outside-folder;"
                                "link-to-music;link-to-music/a.mp3;pipe"_s;
        for (const QString &path : hostile.split(u';'))
            for (const QString &use : uses)
                row(use + u' ' + path, use.section(u' ', 0, 0), {{use.section(u' ', 1), idOf(path)}});
        const QString source = u"sourceId"_s, into = u"destinationParentId"_s, policy = u"conflictPolicy"_s;
        const QString intoItself = u"不能把文件夹放进它自己或它的子文件夹。"_s;
        const QString storageFolder = u"不能对存储根目录执行这个操作。"_s;
        row("name taken", "rename", {{u"name"_s, u".hidden"_s}, {policy, u"error"_s}}, u"同名项目已存在：.hidden"_s);
        row("rename onto itself", "rename", {{u"name"_s, u"notes.txt"_s}, {policy, u"replace"_s}},
            u"不能用项目替换它自己。"_s);
        row("move over the folder holding it", "move", {{source, idOf(u"Docs/Docs"_s)}, {policy, u"replace"_s}},
            u"不能替换包含这个项目的文件夹。"_s);
        row("copy a folder into itself", "copy", {{source, idOf(u"Docs"_s)}, {into, idOf(u"Docs"_s)}}, intoItself);
        row("move a folder below itself", "move", {{source, idOf(u"Docs"_s)}, {into, idOf(u"Docs/Sub"_s)}}, intoItself);
        row("rename the storage folder", "rename", {{u"id"_s, u"root"_s}}, storageFolder);
        row("move the storage folder", "move", {{source, u"root"_s}}, storageFolder);
        row("delete the storage folder", "delete", {{u"id"_s, u"root"_s}}, storageFolder);
        row("move a folder named like the private one to the top", "move",
            {{source, idOf(u"Music/.tavrine"_s)}, {policy, u"replace"_s}}, u"这个名称由 Tavrine 保留：.tavrine"_s);
        row("path as trash id", "trash.restore", {{u"id"_s, u"../../../../outside/secret.txt"_s}},
            u"回收站中找不到这个项目。"_s);
        row("unsafe name", "rename", {{u"name"_s, u"../x"_s}}, u"名称无效。"_s);
        // Names come as the user typed them: an empty one gets the same answer as any other bad name.
        for (const QString &action : {u"mkdir"_s, u"rename"_s}) {
            row(action + u" empty name"_s, action, {{u"name"_s, u""_s}}, u"名称无效。"_s);
            row(action + u" null name"_s, action, {{u"name"_s, QJsonValue::Null}}, u"名称无效。"_s);
            row(action + u" blank name"_s, action, {{u"name"_s, u" \t\u3000"_s}}, u"名称无效。"_s);
        }
        row("name as a number", "rename", {{u"name"_s, 5}});
        row("unknown policy", "rename", {{policy, u"overwrite"_s}});
        row("id as an array", "delete", {{u"id"_s, QJsonArray{idOf(u"notes.txt"_s)}}});
        row("id too long", "delete", {{u"id"_s, u"A"_s.repeated(20000)}});
        row("query too long", "list", {{u"query"_s, u"q"_s.repeated(1025)}});
        rows("no policy", u"files.mkdir"_s, {{u"parentId"_s, u"root"_s}, {u"name"_s, u"x"_s}}, {});
    }

    // Nothing inside or outside the storage folder changes, the private folder included.
    void refusedRequestsChangeNothing()
    {
        const auto [action, payload, message] = Refusals::fetch();
        QCOMPARE(ask(u"files.delete"_s, {{u"id"_s, idOf(u"empty.txt"_s)}}), QJsonObject());
        const QStringList before = snapshot(m_root->path(), true);

        const ManagementAnswer answer = m_handlers.answer(action, text(payload));
        QVERIFY(!answer.success && !answer.message.isEmpty());
        if (!message.isEmpty())
            QCOMPARE(answer.message, message);
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

    // The answer of a request that must succeed; otherwise an object holding the failure, to show in the check.
    QJsonObject ask(const QString &action, const QJsonObject &payload)
    {
        const ManagementAnswer answer = m_handlers.answer(action, text(payload));
        return answer.success ? QJsonDocument::fromJson(answer.payload.toUtf8()).object()
                              : QJsonObject{{u"failed"_s, answer.message}};
    }

    // All entries of a paged action; empty unless each page holds the page size held to 1…500 (the last at most
    // that) and names the next page's token, further on, unless it is the last.
    QJsonArray pages(const QString &action, QJsonObject payload, int pageSize)
    {
        QJsonArray entries;
        payload.insert(u"pageSize"_s, pageSize);
        for (qint64 token = 0;;) {
            payload.insert(u"pageToken"_s, token);
            const QJsonObject page = ask(action, payload);
            const QJsonArray pageEntries = page[u"entries"_s].toArray();
            const qint64 next = page[u"nextPageToken"_s].toInteger(-1), size = std::clamp(pageSize, 1, 500);
            if (pageEntries.size() > size || (next >= 0 && (next <= token || pageEntries.size() != size)))
                return {};
            for (const QJsonValue &entry : pageEntries)
                entries.append(entry);
            if (next < 0)
                return entries;
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
