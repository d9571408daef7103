#include "ManagedDownloadDelivery.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using Purpose = TransferTaskRecord::DeliveryPurpose;

namespace {

const QByteArray receivedContents = "received contents";
// As long as the received file, so that only the contents tell them apart.
const QByteArray otherContents = "other contents!!!";
const QString invalidPath = u"保存位置包含无效路径"_s;
const QString receivedFileMissing = u"已接收的文件不可用，请重试"_s;
const QString sizeMismatch = u"文件校验未通过，请重试"_s;

ino_t inodeOf(const QString &path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

// The description of the delivery or file error that body threw; empty when it threw none.
QString failureOf(const std::function<void()> &body)
{
    try {
        body();
    } catch (const ManagedDownloadDeliveryError &error) {
        return error.errorDescription();
    } catch (const FileOperationError &error) {
        return error.errorDescription();
    }
    return {};
}

QString repeated(const QString &text, int count)
{
    return QStringList(count, text).join(QString());
}

// A receive folder holding "a.jpg" and an empty destination folder, side by side.
struct Tree
{
    QTemporaryDir folder;
    QString inbox = folder.filePath(u"inbox"_s);
    QString destination = folder.filePath(u"chosen"_s);

    Tree()
    {
        QDir().mkpath(destination);
        destination = QFileInfo(destination).canonicalFilePath();
        QVERIFY(writeFile(inbox + u"/a.jpg"_s, receivedContents));
    }

    ManagedDownloadDelivery::Result deliver(const QString &relativePath, Purpose purpose = Purpose::export_,
                                            const QString &fileName = u"a.jpg"_s, qint64 sizeError = 0) const
    {
        return ManagedDownloadDelivery::deliver(inbox, fileName, destination.toUtf8(), relativePath,
                                                QFileInfo(inbox + u'/' + fileName).size() + sizeError, purpose);
    }

    // Every item below the destination, hidden ones included, as relative paths.
    QStringList items() const
    {
        QStringList result;
        QDirIterator it(destination, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            result.append(QDir(destination).relativeFilePath(it.next()));
        result.sort();
        return result;
    }
};

// The received file's name, the relative path asked for, how many bytes the size given is over the file's, and
// the text of the refusal (empty when delivered).
using PathChecks = TestTable<QString, QString, qint64, QString>;
// The files of other contents in the destination, the relative path asked for, and the one delivered.
using TakenNames = TestTable<QStringList, QString, QString>;
// The purpose, whether the link at the target leads nowhere, and the relative path delivered.
using LinkTargets = TestTable<Purpose, bool, QString>;

} // namespace

class ManagedDownloadDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    // failure: the text of the refusal, which leaves the destination untouched; empty when delivered, which
    // makes the missing folders and leaves the received file in place.
    void relativePathsAndReceivedFilesAreChecked_data()
    {
        const PathChecks rows;
        const QString a = u"a.jpg"_s;
        rows("nested folders", a, u"photos/2024/a.jpg"_s, 0, {});
        rows("65 components", a, repeated(u"d/"_s, 64) + a, 0, {});
        rows("255-byte component", a, repeated(u"x"_s, 251) + u".jpg"_s, 0, {});
        rows("parent", a, u"../a.jpg"_s, 0, invalidPath);
        rows("absolute", a, u"/a.jpg"_s, 0, invalidPath);
        rows("empty component", a, u"a//b.jpg"_s, 0, invalidPath);
        rows("backslash", a, u"a\\b.jpg"_s, 0, invalidPath);
        rows("256-byte component", a, repeated(u"x"_s, 256), 0, invalidPath);
        rows("256 bytes in 128 characters", a, repeated(u"é"_s, 128), 0, invalidPath);
        rows("66 components", a, repeated(u"d/"_s, 65) + a, 0, invalidPath);
        rows("over 16384 bytes", a, repeated(repeated(u"x"_s, 254) + u'/', 64) + repeated(u"y"_s, 100), 0, invalidPath);
        rows("received name with folder", u"../a.jpg"_s, a, 0, invalidPath);
        // The received file is checked before any folder is made.
        rows("received file absent", u"b.jpg"_s, u"sub/b.jpg"_s, 0, receivedFileMissing);
        rows("received file 1 byte short", a, u"sub/a.jpg"_s, 1, receivedFileMissing);
    }

    void relativePathsAndReceivedFilesAreChecked()
    {
        const auto [fileName, relativePath, sizeError, failure] = PathChecks::fetch();
        Tree tree;
        ManagedDownloadDelivery::Result result;
        const auto deliver = [&, path = relativePath, name = fileName, error = sizeError] {
            result = tree.deliver(path, Purpose::export_, name, error);
        };
        QCOMPARE(failureOf(deliver), failure);
        if (!failure.isEmpty()) {
            QCOMPARE(tree.items(), QStringList());
            return;
        }
        QCOMPARE(result, ManagedDownloadDelivery::Result({tree.destination + u'/' + relativePath, relativePath}));
        QCOMPARE(contentsOf(result.url), receivedContents);
        QCOMPARE(contentsOf(tree.inbox + u'/' + fileName), receivedContents);
        for (const QString &item : tree.items())
            QVERIFY2(relativePath.startsWith(item), qPrintable(item));
    }

    void folderComponentMustBeARealFolderInside_data()
    {
        const TestTable<QString> rows; // where the link leads; empty: a regular file instead of a link
        rows("link to a folder outside", u"../outside"_s);
        rows("link to a folder inside", u"."_s);
        rows("regular file", {});
    }

    void folderComponentMustBeARealFolderInside()
    {
        const auto [linkTarget] = TestTable<QString>::fetch();
        Tree tree;
        QDir().mkpath(tree.folder.filePath(u"outside"_s));
        const QString component = tree.destination + u"/photos"_s;
        if (linkTarget.isEmpty())
            QVERIFY(writeFile(component, "file"));
        else
            QVERIFY(QFile::link(linkTarget, component));
        QCOMPARE(failureOf([&] { tree.deliver(u"photos/a.jpg"_s); }), invalidPath);
        QVERIFY(
            QDir(tree.folder.filePath(u"outside"_s)).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QCOMPARE(tree.items(), QStringList(u"photos"_s));
    }

    void exportNeverOverwritesADifferentFile_data()
    {
        const TakenNames rows;
        rows("a.jpg and a 2.jpg", {u"a.jpg"_s, u"a 2.jpg"_s}, u"a.jpg"_s, u"a 3.jpg"_s);
        rows("no extension, in a folder", {u"docs/notes"_s}, u"docs/notes"_s, u"docs/notes 2"_s);
    }

    void exportNeverOverwritesADifferentFile()
    {
        const auto [existing, relativePath, delivered] = TakenNames::fetch();
        Tree tree;
        for (const QString &name : existing)
            QVERIFY(writeFile(tree.destination + u'/' + name, otherContents));
        const auto result = tree.deliver(relativePath);
        QCOMPARE(result.relativePath, delivered);
        QCOMPARE(contentsOf(result.url), receivedContents);
        for (const QString &name : existing)
            QCOMPARE(contentsOf(tree.destination + u'/' + name), otherContents);
    }

    void previewReplacesADifferentFileButNeverAFolder()
    {
        Tree tree;
        QVERIFY(writeFile(tree.destination + u"/a.jpg"_s, otherContents));
        QVERIFY(writeFile(tree.destination + u"/b.jpg/kept"_s, "kept"));
        QCOMPARE(tree.deliver(u"a.jpg"_s, Purpose::preview).relativePath, u"a.jpg"_s);
        QCOMPARE(contentsOf(tree.destination + u"/a.jpg"_s), receivedContents);
        QCOMPARE(failureOf([&] { tree.deliver(u"b.jpg"_s, Purpose::preview); }), sizeMismatch);
        QCOMPARE(tree.items(), QStringList({u"a.jpg"_s, u"b.jpg"_s, u"b.jpg/kept"_s}));
    }

    void aLinkAtTheTargetIsNeverWrittenThrough_data()
    {
        const LinkTargets rows;
        rows("export", Purpose::export_, false, u"a 2.jpg"_s);
        rows("export, dangling link", Purpose::export_, true, u"a 2.jpg"_s);
        rows("preview", Purpose::preview, false, u"a.jpg"_s);
        rows("preview, dangling link", Purpose::preview, true, u"a.jpg"_s);
    }

    void aLinkAtTheTargetIsNeverWrittenThrough()
    {
        const auto [purpose, dangling, delivered] = LinkTargets::fetch();
        Tree tree;
        // The link leads to the received contents, so that following it would make the file look delivered.
        const QString outside = tree.folder.filePath(u"outside.jpg"_s);
        if (!dangling)
            QVERIFY(writeFile(outside, receivedContents));
        QVERIFY(QFile::link(outside, tree.destination + u"/a.jpg"_s));
        const auto result = tree.deliver(u"a.jpg"_s, purpose);
        QCOMPARE(result.relativePath, delivered);
        QVERIFY(!QFileInfo(result.url).isSymLink());
        QCOMPARE(contentsOf(result.url), receivedContents);
        QCOMPARE(QFileInfo::exists(outside), !dangling);
        QCOMPARE(QFileInfo(tree.destination + u"/a.jpg"_s).isSymLink(), purpose == Purpose::export_);
    }

    void deliveringTwiceIsANoOp()
    {
        Tree tree;
        const auto first = tree.deliver(u"docs/a.jpg"_s);
        const ino_t firstCopy = inodeOf(first.url);
        QCOMPARE(tree.deliver(u"docs/a.jpg"_s), first);
        QCOMPARE(inodeOf(first.url), firstCopy);
        QCOMPARE(tree.items(), QStringList({u"docs"_s, u"docs/a.jpg"_s}));
    }

    void aFailedCopyLeavesNoPartialFile()
    {
        // File permissions do not bind root, so a file-size limit makes the copy's writes fail instead.
        Tree tree;
        QVERIFY(writeFile(tree.inbox + u"/big.bin"_s, QByteArray(256 * 1024, 'b')));
        rlimit original{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &original), 0);
        rlimit limited = original;
        limited.rlim_cur = 64 * 1024;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        const QString failure = failureOf([&] { tree.deliver(u"sub/big.bin"_s, Purpose::export_, u"big.bin"_s); });
        ::setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(!failure.isEmpty());
        QCOMPARE(tree.items(), QStringList(u"sub"_s));
        QCOMPARE(QFileInfo(tree.inbox + u"/big.bin"_s).size(), 256 * 1024);
    }

    void destinationOfARecord()
    {
        TransferTaskRecord record;
        record.destinationBookmark = "/data/chosen";
        record.destinationRelativePath = u"photos/a.jpg"_s;
        QCOMPARE(ManagedDownloadDelivery::destinationURL(record), u"/data/chosen/photos/a.jpg"_s);
        record.destinationRelativePath = u"../a.jpg"_s;
        QCOMPARE(failureOf([&] { ManagedDownloadDelivery::destinationURL(record); }), invalidPath);
        record.destinationRelativePath.reset();
        QCOMPARE(failureOf([&] { ManagedDownloadDelivery::destinationURL(record); }),
                 u"无法访问所选保存位置，请重新选择"_s);
        record.destinationRelativePath = u"a.jpg"_s;
        record.destinationBookmark = "chosen";
        QCOMPARE(failureOf([&] { ManagedDownloadDelivery::destinationURL(record); }), u"无法解析文件位置。"_s);
    }
};

QTEST_GUILESS_MAIN(ManagedDownloadDeliveryTest)
#include "test_managed_download_delivery.moc"
