#include "FilePanelChecks.h"
#include "FolderTree.h"

#include <QtTest>

#include <unistd.h>

namespace {

const QString symbolicLinkChoice = QStringLiteral("为保护文件路径安全，Tavrine 不支持选择符号链接。");
const QString wrongKind = QStringLiteral("请选择符合当前操作的文件或文件夹。");
const QString unusableFolder = QStringLiteral("所选保存位置不可用。");
const QString symbolicLinkSave = QStringLiteral("为保护文件路径安全，Tavrine 不支持保存到符号链接。");
const QString folderName = QStringLiteral("请选择文件名称，而不是文件夹。");

// "ok", the message of a refusal, or "read error" for a file-system failure.
template <typename T> QString outcome(const FilePanelResult<T> &result)
{
    if (const auto *error = std::get_if<FilePanelError>(&result)) {
        return error->domain == FilePanelError::fileSystemDomain ? QStringLiteral("read error")
                                                                 : error->localizedDescription;
    }
    return QStringLiteral("ok");
}

} // namespace

class FilePanelChecksTest : public QObject
{
    Q_OBJECT

private slots:
    void chosenItem_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("files");
        QTest::addColumn<bool>("folders");
        QTest::addColumn<QString>("result");

        QTest::newRow("file in the files panel") << "file.txt" << true << false << "ok";
        QTest::newRow("folder in the folders panel") << "sub" << false << true << "ok";
        QTest::newRow("folder in the files panel") << "sub" << true << false << wrongKind;
        QTest::newRow("file in the folders panel") << "file.txt" << false << true << wrongKind;
        QTest::newRow("link to a folder, folders panel") << "link-to-folder" << false << true << symbolicLinkChoice;
        QTest::newRow("link to a file, files panel") << "link-to-file" << true << false << symbolicLinkChoice;
        QTest::newRow("dangling link") << "dangling" << true << true << symbolicLinkChoice;
        QTest::newRow("pipe") << "pipe" << true << true << wrongKind;
        QTest::newRow("missing item") << "nothing-here" << true << true << "read error";
    }

    void chosenItem()
    {
        QFETCH(QString, item);
        QFETCH(bool, files);
        QFETCH(bool, folders);
        QFETCH(QString, result);

        FolderTree tree;
        const std::optional<FilePanelError> refusal =
            FilePanelChecks::validateChosenURL(QUrl::fromLocalFile(tree.path(item)), files, folders);
        QCOMPARE(refusal ? outcome(FilePanelResult<int>(*refusal)) : QStringLiteral("ok"), result);
        if (refusal && result != QLatin1String("read error")) {
            QCOMPARE(refusal->domain, QStringLiteral("com.drovan.tavrine.file-panel"));
            QCOMPARE(refusal->code, 1);
        }
    }

    void chosenItemMustBeLocal()
    {
        const auto refusal =
            FilePanelChecks::validateChosenURL(QUrl(QStringLiteral("https://example.com/file.txt")), true, true);
        QVERIFY(refusal);
        QCOMPARE(refusal->localizedDescription, QStringLiteral("请选择 Mac 上的本地文件或文件夹。"));
    }

    void saveDestination_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");

        QTest::newRow("new name") << "sub/new.txt"
                                  << "ok"
                                  << "sub"
                                  << "new.txt";
        QTest::newRow("over an existing file") << "file.txt"
                                               << "ok"
                                               << ""
                                               << "file.txt";
        QTest::newRow("name of a folder") << "sub" << folderName << ""
                                          << "";
        QTest::newRow("name of a link") << "link-to-file" << symbolicLinkSave << ""
                                        << "";
        QTest::newRow("name of a dangling link") << "dangling" << symbolicLinkSave << ""
                                                 << "";
        QTest::newRow("inside a linked folder") << "link-to-folder/new.txt" << unusableFolder << ""
                                                << "";
        QTest::newRow("inside a file") << "file.txt/new.txt" << unusableFolder << ""
                                       << "";
        QTest::newRow("inside a missing folder") << "missing/new.txt"
                                                 << "read error"
                                                 << ""
                                                 << "";
        QTest::newRow("dot segments are resolved first") << "sub/inner/../new.txt"
                                                         << "ok"
                                                         << "sub"
                                                         << "new.txt";
    }

    void saveDestination()
    {
        QFETCH(QString, location);
        QFETCH(QString, result);
        QFETCH(QString, folder);
        QFETCH(QString, name);

        FolderTree tree;
        const FilePanelResult<NativeDownloadDestination> destination =
            FilePanelChecks::validatedSaveDestination(QUrl::fromLocalFile(tree.path() + QLatin1Char('/') + location));
        QCOMPARE(outcome(destination), result);
        if (result == QLatin1String("ok")) {
            QCOMPARE(std::get<NativeDownloadDestination>(destination),
                     (NativeDownloadDestination{QUrl::fromLocalFile(tree.path(folder)), name}));
        }
    }

    void saveDestinationRefusals()
    {
        const auto remote =
            FilePanelChecks::validatedSaveDestination(QUrl(QStringLiteral("https://example.com/file.txt")));
        QCOMPARE(outcome(remote), QStringLiteral("请选择 Mac 上的本地保存位置。"));
        const auto root = FilePanelChecks::validatedSaveDestination(QUrl::fromLocalFile(QStringLiteral("/")));
        QCOMPARE(outcome(root), QStringLiteral("请输入有效的名称。"));
    }

    void listsOnlyVisibleRealFoldersInNameOrder()
    {
        FolderTree tree;
        const FilePanelResult<QStringList> listing = FilePanelChecks::listDirectories(tree.path());
        QCOMPARE(outcome(listing), QStringLiteral("ok"));
        QCOMPARE(std::get<QStringList>(listing),
                 (QStringList{tree.path("empty"), tree.path("sub"), tree.path("Sub2"), tree.path("Sub10")}));
    }

    void listingRefusesWhatIsNoRealFolder_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("result");

        const QString invalid = QStringLiteral("这个文件夹不可用");
        QTest::newRow("link to a folder") << "link-to-folder" << invalid;
        QTest::newRow("file") << "file.txt" << invalid;
        QTest::newRow("missing") << "missing"
                                 << "read error";
    }

    void listingRefusesWhatIsNoRealFolder()
    {
        QFETCH(QString, item);
        QFETCH(QString, result);
        FolderTree tree;
        QCOMPARE(outcome(FilePanelChecks::listDirectories(tree.path(item))), result);
    }

    void unreadableFolderIsAnError()
    {
        if (::geteuid() == 0) {
            QSKIP("permissions do not bind the superuser");
        }
        FolderTree tree;
        QFile::setPermissions(tree.path("sub"), QFileDevice::WriteOwner);
        const FilePanelResult<QStringList> listing = FilePanelChecks::listDirectories(tree.path("sub"));
        QFile::setPermissions(tree.path("sub"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(outcome(listing), QStringLiteral("read error"));
    }
};

QTEST_GUILESS_MAIN(FilePanelChecksTest)
#include "test_file_panel_checks.moc"
