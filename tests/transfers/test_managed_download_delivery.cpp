#include "ManagedDownloadDelivery.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using Case = ManagedDownloadDeliveryError::Case;
using Purpose = TransferTaskRecord::DeliveryPurpose;

namespace {

const QByteArray receivedContents = "received contents";

void writeFile(const QString &path, const QByteArray &contents)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(contents), contents.size());
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
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
        writeFile(inbox + u"/a.jpg"_s, receivedContents);
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

template <typename Call> std::optional<Case> deliveryError(Call call)
{
    try {
        call();
    } catch (const ManagedDownloadDeliveryError &error) {
        return error.errorCase();
    }
    return std::nullopt;
}

ino_t inodeOf(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

QString repeated(const QString &text, int count)
{
    return QStringList(count, text).join(QString());
}

} // namespace

class ManagedDownloadDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void nestedFoldersAreCreatedAndTheReceivedFileStays()
    {
        Tree tree;
        const auto result = tree.deliver(u"photos/2024/a.jpg"_s);
        QCOMPARE(result.relativePath, u"photos/2024/a.jpg"_s);
        QCOMPARE(result.url, tree.destination + u"/photos/2024/a.jpg"_s);
        QCOMPARE(contentsOf(result.url), receivedContents);
        QCOMPARE(tree.items(), QStringList({u"photos"_s, u"photos/2024"_s, u"photos/2024/a.jpg"_s}));
        QCOMPARE(contentsOf(tree.inbox + u"/a.jpg"_s), receivedContents);
    }

    void limitsOfRelativePathsAreAccepted_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::newRow("65 components") << repeated(u"d/"_s, 64) + u"a.jpg"_s;
        QTest::newRow("255-byte component") << repeated(u"x"_s, 251) + u".jpg"_s;
    }
    void limitsOfRelativePathsAreAccepted()
    {
        QFETCH(QString, relativePath);
        Tree tree;
        QCOMPARE(tree.deliver(relativePath).relativePath, relativePath);
    }

    void refusedPathsTouchNothing_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<qint64>("sizeError");
        QTest::addColumn<int>("expected");
        const int invalid = int(Case::invalidRelativePath);
        QTest::newRow("parent") << u"a.jpg"_s << u"../a.jpg"_s << qint64(0) << invalid;
        QTest::newRow("absolute") << u"a.jpg"_s << u"/a.jpg"_s << qint64(0) << invalid;
        QTest::newRow("empty component") << u"a.jpg"_s << u"a//b.jpg"_s << qint64(0) << invalid;
        QTest::newRow("trailing slash") << u"a.jpg"_s << u"a/"_s << qint64(0) << invalid;
        QTest::newRow("backslash") << u"a.jpg"_s << u"a\\b.jpg"_s << qint64(0) << invalid;
        QTest::newRow("256-byte component") << u"a.jpg"_s << repeated(u"x"_s, 256) << qint64(0) << invalid;
        QTest::newRow("256 bytes in 128 characters") << u"a.jpg"_s << repeated(u"é"_s, 128) << qint64(0) << invalid;
        QTest::newRow("66 components") << u"a.jpg"_s << repeated(u"d/"_s, 65) + u"a.jpg"_s << qint64(0) << invalid;
        QTest::newRow("over 16384 bytes")
            << u"a.jpg"_s << repeated(repeated(u"x"_s, 254) + u'/', 64) + repeated(u"y"_s, 100) << qint64(0) << invalid;
        QTest::newRow("received name with folder") << u"../a.jpg"_s << u"a.jpg"_s << qint64(0) << invalid;
        // The received file is checked before any folder is made.
        const int missing = int(Case::receivedFileMissing);
        QTest::newRow("received file absent") << u"b.jpg"_s << u"sub/b.jpg"_s << qint64(0) << missing;
        QTest::newRow("received file 1 byte short") << u"a.jpg"_s << u"sub/a.jpg"_s << qint64(1) << missing;
    }
    void refusedPathsTouchNothing()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, relativePath);
        QFETCH(qint64, sizeError);
        QFETCH(int, expected);
        Tree tree;
        QCOMPARE(deliveryError([&] { tree.deliver(relativePath, Purpose::export_, fileName, sizeError); }),
                 Case(expected));
        QCOMPARE(tree.items(), QStringList());
    }

    void folderComponentMustBeARealFolderInside_data()
    {
        QTest::addColumn<QString>("linkTarget"); // empty: a regular file instead of a link
        QTest::newRow("link to a folder outside") << u"../outside"_s;
        QTest::newRow("link to a folder inside") << u"."_s;
        QTest::newRow("regular file") << QString();
    }
    void folderComponentMustBeARealFolderInside()
    {
        QFETCH(QString, linkTarget);
        Tree tree;
        QDir().mkpath(tree.folder.filePath(u"outside"_s));
        const QString component = tree.destination + u"/photos"_s;
        if (linkTarget.isEmpty())
            writeFile(component, "file");
        else
            QVERIFY(QFile::link(linkTarget, component));
        QCOMPARE(deliveryError([&] { tree.deliver(u"photos/a.jpg"_s); }), Case::invalidRelativePath);
        QVERIFY(
            QDir(tree.folder.filePath(u"outside"_s)).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QCOMPARE(tree.items(), QStringList(u"photos"_s));
    }

    void exportNeverOverwritesADifferentFile_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<QString>("delivered");
        QTest::newRow("a.jpg") << QStringList{u"a.jpg"_s} << u"a.jpg"_s << u"a 2.jpg"_s;
        QTest::newRow("a.jpg and a 2.jpg") << QStringList{u"a.jpg"_s, u"a 2.jpg"_s} << u"a.jpg"_s << u"a 3.jpg"_s;
        QTest::newRow("no extension") << QStringList{u"notes"_s} << u"notes"_s << u"notes 2"_s;
        QTest::newRow("in a folder") << QStringList{u"docs/a.jpg"_s} << u"docs/a.jpg"_s << u"docs/a 2.jpg"_s;
    }
    void exportNeverOverwritesADifferentFile()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, relativePath);
        QFETCH(QString, delivered);
        Tree tree;
        for (const QString &name : existing)
            writeFile(tree.destination + u'/' + name, "other");
        const auto result = tree.deliver(relativePath);
        QCOMPARE(result.relativePath, delivered);
        QCOMPARE(contentsOf(result.url), receivedContents);
        for (const QString &name : existing)
            QCOMPARE(contentsOf(tree.destination + u'/' + name), "other");
    }

    void previewReplacesADifferentFile()
    {
        Tree tree;
        writeFile(tree.destination + u"/a.jpg"_s, "old preview");
        QCOMPARE(tree.deliver(u"a.jpg"_s, Purpose::preview).relativePath, u"a.jpg"_s);
        QCOMPARE(contentsOf(tree.destination + u"/a.jpg"_s), receivedContents);
        QCOMPARE(tree.items(), QStringList(u"a.jpg"_s));
    }

    void aFolderAtTheTargetIsNeverRemoved()
    {
        Tree tree;
        writeFile(tree.destination + u"/a.jpg/kept"_s, "kept");
        QCOMPARE(deliveryError([&] { tree.deliver(u"a.jpg"_s, Purpose::preview); }), Case::sizeMismatch);
        QCOMPARE(tree.items(), QStringList({u"a.jpg"_s, u"a.jpg/kept"_s}));
    }

    void aLinkAtTheTargetIsNeverWrittenThrough_data()
    {
        QTest::addColumn<Purpose>("purpose");
        QTest::addColumn<bool>("dangling");
        QTest::addColumn<QString>("delivered");
        QTest::newRow("export") << Purpose::export_ << false << u"a 2.jpg"_s;
        QTest::newRow("export, dangling link") << Purpose::export_ << true << u"a 2.jpg"_s;
        QTest::newRow("preview") << Purpose::preview << false << u"a.jpg"_s;
        QTest::newRow("preview, dangling link") << Purpose::preview << true << u"a.jpg"_s;
    }
    void aLinkAtTheTargetIsNeverWrittenThrough()
    {
        QFETCH(Purpose, purpose);
        QFETCH(bool, dangling);
        QFETCH(QString, delivered);
        Tree tree;
        const QString outside = tree.folder.filePath(u"outside.jpg"_s);
        if (!dangling)
            writeFile(outside, receivedContents);
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
        writeFile(tree.inbox + u"/big.bin"_s, QByteArray(256 * 1024, 'b'));
        rlimit original{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &original), 0);
        rlimit limited = original;
        limited.rlim_cur = 64 * 1024;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        bool failed = false;
        try {
            tree.deliver(u"sub/big.bin"_s, Purpose::export_, u"big.bin"_s);
        } catch (const FileOperationError &) {
            failed = true;
        }
        ::setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(failed);
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
        QCOMPARE(deliveryError([&] { ManagedDownloadDelivery::destinationURL(record); }), Case::invalidRelativePath);
        record.destinationRelativePath.reset();
        QCOMPARE(deliveryError([&] { ManagedDownloadDelivery::destinationURL(record); }), Case::destinationUnavailable);
        record.destinationRelativePath = u"a.jpg"_s;
        record.destinationBookmark = "chosen";
        QVERIFY_THROWS_EXCEPTION(FileOperationError, ManagedDownloadDelivery::destinationURL(record));
    }
};

QTEST_GUILESS_MAIN(ManagedDownloadDeliveryTest)
#include "test_managed_download_delivery.moc"
