#include "DeviceManagementStore.h"
#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 tebibyte = 1'099'511'627'776;

// The plan for the chosen items below `base` ("url:A" as a file URL, "raw:x" as the text x, anything else as a path)
// in lines, source paths relative to `base`; or "error: " and the description it failed with.
QStringList outcome(const QString &base, const QStringList &chosen)
{
    const auto relative = [&base](const QString &path) {
        return QDir(base).relativeFilePath(path);
    };
    QStringList lines;
    QStringList paths;
    for (const QString &item : chosen) {
        paths.append(item.startsWith(u"raw:"_s)   ? item.mid(4)
                     : item.startsWith(u"url:"_s) ? QUrl::fromLocalFile(base + u'/' + item.mid(4)).toString()
                                                  : base + u'/' + item);
    }
    try {
        const LocalManagedUploadPlan plan = DeviceManagementStore::makeUploadPlan(paths);
        for (const LocalManagedUploadPlan::Root &root : plan.roots) {
            lines.append(
                u"root %1%2 @%3"_s.arg(root.name, root.directory ? u"/"_s : QString(), relative(root.sourcePath)));
            for (const LocalManagedUploadPlan::Directory &directory : root.directories) {
                lines.append(u"dir "_s + directory.relativePath);
            }
            for (const LocalManagedUploadPlan::File &file : root.files) {
                lines.append(u"file %1 %2 @%3"_s.arg(file.relativePath).arg(file.size).arg(relative(file.sourcePath)));
            }
        }
    } catch (const LocalManagedUploadPlanError &error) {
        lines.append(u"error: "_s + error.errorDescription());
    }
    return lines;
}

} // namespace

using Plans = TestTable<QStringList, QStringList, QStringList>;

class UploadPlanTest : public QObject
{
    Q_OBJECT

private slots:
    void plan_data()
    {
        // Local items, the chosen ones, the plan or its error.
        const Plans rows;
        const QString name85(85, QChar(0x4E2D));
        rows("bookkeeping files dropped, hidden ones and a chosen one kept",
             {u"A/.DS_Store"_s, u"A/._photo.jpg"_s, u"A/photo.jpg"_s, u"A/.gitignore"_s, u".DS_Store=7"_s},
             {u"A"_s, u".DS_Store"_s},
             {u"root A/ @A"_s, u"file .gitignore 1 @A/.gitignore"_s, u"file photo.jpg 1 @A/photo.jpg"_s,
              u"root .DS_Store @.DS_Store"_s, u"file .DS_Store 7 @.DS_Store"_s});
        rows("same folder chosen three ways, only local paths and file URLs", {u"A/"_s, u"B"_s},
             {u"A"_s, u"B"_s, u"A/../A"_s, u"./A/."_s, u"url:A"_s, u"raw:https://example.com/A"_s, u"raw:A"_s},
             {u"root A/ @A"_s, u"root B @B"_s, u"file B 1 @B"_s});
        rows("folders before their contents, root name left out, digits by value, case ignored",
             {u"A/a.txt"_s, u"A/B/c.txt"_s, u"A/B/D/"_s, u"A/C/"_s, u"A/file10"_s, u"A/File2"_s, u"A/file1"_s},
             {u"A"_s},
             {u"root A/ @A"_s, u"dir B"_s, u"dir B/D"_s, u"dir C"_s, u"file a.txt 1 @A/a.txt"_s,
              u"file B/c.txt 1 @A/B/c.txt"_s, u"file file1 1 @A/file1"_s, u"file File2 1 @A/File2"_s,
              u"file file10 1 @A/file10"_s});
        rows("link deep inside", {u"A/x"_s, u"A/B/l -> ../x"_s}, {u"A"_s},
             {u"error: \u201CB/l\u201D包含替身或符号链接，未加入传输"_s});
        rows("chosen link to a folder", {u"A/"_s, u"L -> A"_s}, {u"L"_s},
             {u"error: \u201CL\u201D包含替身或符号链接，未加入传输"_s});
        rows("chosen item gone", {}, {u"gone"_s}, {u"error: 找不到\u201Cgone\u201D"_s});
        rows("named pipe inside", {u"A/B/p|"_s}, {u"A"_s}, {u"error: 暂不支持发送\u201CB/p\u201D"_s});
        rows("85 three-byte characters", {u"A/"_s + name85}, {u"A"_s},
             {u"root A/ @A"_s, u"file %1 1 @A/%1"_s.arg(name85)});
        // No file system here takes a 258-byte name, so only a chosen path can carry one.
        rows("86 three-byte characters", {}, {name85 + u"中"_s}, {u"error: 文件名称无效："_s + name85 + u"中"_s});
        rows("backslash in a name", {u"A/a\\b"_s}, {u"A"_s}, {u"error: 文件名称无效：a\\b"_s});
        // The store's limits: 10000 items (each folder counts), depth 64, 2^40 bytes.
        const auto files = [](int count) {
            QStringList items;
            for (int index = 0; index < count; ++index) {
                items.append(u"A/f%1"_s.arg(index));
            }
            return items;
        };
        const auto chain = [](int depth) {
            return QStringList{u"A/"_s + u"d/"_s.repeated(depth)};
        };
        rows("10000 items", files(9999), {u"A"_s}, {});
        rows("10001 items", files(10000), {u"A"_s}, {u"error: 单次最多发送 10000 个项目"_s});
        rows("folder 63 levels down", chain(63), {u"A"_s}, {});
        rows("empty folder 64 levels down", chain(64), {u"A"_s}, {u"error: 文件夹层级不能超过 64 层"_s});
        rows("exactly 2^40 bytes", {u"A/big=%1"_s.arg(tebibyte - 1), u"A/small"_s}, {u"A"_s}, {});
        rows("one byte more", {u"A/big=%1"_s.arg(tebibyte), u"A/small"_s}, {u"A"_s}, {u"error: 单次最多发送 1.1 TB"_s});
    }

    // A row that expects no root checks only the errors.
    void plan()
    {
        const auto [items, chosen, expected] = Plans::fetch();
        QTemporaryDir base;
        QVERIFY(makeLocalItems(base.path(), items));
        const QStringList lines = outcome(base.path(), chosen);
        QCOMPARE(expected.filter(u"root "_s).isEmpty() ? lines.filter(u"error: "_s) : lines, expected);
    }
};

QTEST_GUILESS_MAIN(UploadPlanTest)
#include "test_upload_plan.moc"
