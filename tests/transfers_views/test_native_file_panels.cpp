#include "../companion/StorageTree.h"
#include "FileDialogSupport.h"
#include "FilePanelChecks.h"
#include "NativeFilePanels.h"
#include "NativeFolderPanelSession.h"
#include "TestSupport.h"
#include "ViewMessageBox.h"
#include "ViewsTestSupport.h"

#include <QFileDialog>
#include <QMimeDatabase>
#include <QPointer>
#include <QRegularExpression>

#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using ViewsTestSupport::transcript;

namespace {

// A folder tree with every kind of item the file dialogs must tell apart:
//   file.txt, data.bin (regular files); sub/, Sub2/, Sub10/ (folders); .hidden/ (hidden folder);
//   link-to-folder -> sub, link-to-file -> file.txt, dangling -> missing (links); pipe (a FIFO);
//   empty/ (a folder without sub-folders); sub/inner/ (a folder inside sub).
struct FolderTree
{
    QTemporaryDir root;

    FolderTree()
    {
        makeEntries(root.path(), {"sub/inner/", "Sub2/", "Sub10/", ".hidden/", "empty/", "file.txt=content",
                                  "data.bin=content", "link-to-folder -> " + path("sub"),
                                  "link-to-file -> " + path("file.txt"), "dangling -> " + path("missing"), "pipe|"});
    }

    // The path as written below the tree, dot segments left for the code under test to resolve.
    QString path(const QString &relative = {}) const
    {
        return relative.isEmpty() ? root.path() : root.path() + QLatin1Char('/') + relative;
    }

    QStringList paths(const QStringList &items) const
    {
        return QStringList(items).replaceInStrings(QRegularExpression("^"), path() + QLatin1Char('/'));
    }

    // A destination in the tree as "folder|name", the folder relative to the tree.
    QString destination(const NativeDownloadDestination &chosen) const
    {
        const QString folder = chosen.directoryURL.toLocalFile().mid(path().size() + 1);
        const bool inTree = chosen.directoryURL == QUrl::fromLocalFile(path(folder));
        return (inTree ? folder : chosen.directoryURL.toString()) + QLatin1Char('|') +
               chosen.preferredRootName.value_or(QStringLiteral("<none>"));
    }

    static QString unreadable(const QString &name)
    {
        return QStringLiteral("无法读取“%1”：文件或文件夹不存在").arg(name);
    }
};

const QString linkChosen = QStringLiteral("为保护文件路径安全，Tavrine 不支持选择符号链接。");
const QString wrongKind = QStringLiteral("请选择符合当前操作的文件或文件夹。");

template <typename T> auto recorder(QList<T> &calls)
{
    return [&calls](const T &value) {
        calls.append(value);
    };
}

QDialog *download(QList<NativeDownloadDestination> &calls, bool isFile = true, const QString &name = "new.bin")
{
    const QMimeType plainData = QMimeDatabase().mimeTypeForName(QStringLiteral("application/octet-stream"));
    return NativeFilePanels::presentDownloadSavePanel(name, isFile, plainData, recorder(calls));
}

bool allPanelsEnded()
{
    return NativeFilePanels::openPanelSessionCount() == 0 && NativeFilePanels::savePanelCount() == 0 &&
           NativeFilePanels::folderBrowserSessionCount() == 0;
}

// A browser over `start` that records every end, "<none>" for a cancel.
struct Browser
{
    QStringList ends;
    std::unique_ptr<NativeFolderPanelSession> session;

    explicit Browser(const QString &start)
        : session(std::make_unique<NativeFolderPanelSession>(
              [this](const std::optional<QString> &folder) { ends.append(folder.value_or("<none>")); }, start))
    {}

    QListWidget *table() const { return session->findChild<QListWidget *>(QStringLiteral("folderTable")); }
    QAbstractButton *button(const char *name) const { return session->findChild<QAbstractButton *>(name); }
};

} // namespace

// chosen, when none: confirming nothing, then cancelling; refusal, when empty: the choice is handed on.
using OpenPanels = TestTable<bool, QStringList, QString>;
// location, when empty: the dialog is cancelled; answer: the role given to the box the panel shows, -1 none; box: that
// box's text, informative text and buttons.
using Destinations = TestTable<bool, QString, int, QString, QString>;
// reads: with the tree's path as "~"
using FolderStates = TestTable<QString, bool, QString>;
using Endings = TestTable<Qt::Key, bool>;

// The file dialogs and the folder browser. Each kind of item is checked as the user meets it: chosen in
// a dialog, then refused or handed on.
class NativeFilePanelsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { ViewMessageBox::clearShown(); }

    void cleanup()
    {
        QVERIFY(!ViewMessageBox::hasNextAnswer());
        // Every panel must end, or its registry entry keeps it alive for good.
        QTRY_VERIFY(allPanelsEnded());
    }

    void openPanelsHandOnOnlyCheckedItems_data()
    {
        const OpenPanels rows;
        rows("files", false, QStringList{"file.txt", "data.bin"}, "");
        rows("several folders", true, QStringList{"sub", "Sub2"}, "");
        rows("link to a folder, folders panel", true, QStringList{"link-to-folder"}, linkChosen);
        rows("link to a file, files panel", false, QStringList{"link-to-file"}, linkChosen);
        rows("dangling link", false, QStringList{"dangling"}, linkChosen);
        rows("file in the folders panel", true, QStringList{"file.txt"}, wrongKind);
        rows("pipe", false, QStringList{"pipe"}, wrongKind);
        rows("missing item", false, QStringList{"gone"}, FolderTree::unreadable("gone"));
        rows("nothing confirmed, then cancelled", false, QStringList(), "");
    }

    void openPanelsHandOnOnlyCheckedItems()
    {
        auto [folders, chosen, refusal] = OpenPanels::fetch();
        FolderTree tree;
        QList<QList<QUrl>> calls;
        if (!refusal.isEmpty())
            ViewMessageBox::setNextAnswer(QMessageBox::AcceptRole);
        if (!chosen.isEmpty())
            NativeFilePanels::setNextAnswer(tree.paths(chosen));
        const QPointer<QFileDialog> panel =
            qobject_cast<QFileDialog *>(folders ? NativeFilePanels::presentManagedFoldersPanel(recorder(calls))
                                                : NativeFilePanels::presentManagedFilesPanel(recorder(calls)));
        // A resolved link would reach the checks as its target and pass them.
        QVERIFY(panel->testOption(QFileDialog::DontResolveSymlinks) &&
                panel->testOption(QFileDialog::DontUseNativeDialog));
        if (chosen.isEmpty()) {
            static_cast<QDialog *>(panel)->accept();
            QVERIFY(panel->isVisible());
            panel->reject();
        }
        if (!refusal.isEmpty()) {
            QCOMPARE(ViewMessageBox::shown().size(), 1);
            QCOMPARE(ViewMessageBox::shown().first().text, refusal);
            QVERIFY(panel->isVisible() && calls.isEmpty());
            // The user picks something else after the refusal.
            chosen = QStringList{folders ? QStringLiteral("sub") : QStringLiteral("file.txt")};
            FileDialogSupport::typeSelection(panel, tree.paths(chosen));
            static_cast<QDialog *>(panel)->accept();
        }
        QTRY_VERIFY(allPanelsEnded());
        QCOMPARE(calls.size(), chosen.isEmpty() ? 0 : 1);
        QCOMPARE(QUrl::toStringList(calls.value(0), QUrl::PreferLocalFile), tree.paths(chosen));
    }

    void downloadDestinationIsHandedOnOnlyWhenChecked_data()
    {
        const Destinations rows;
        const QString alert = QStringLiteral("无法使用这个保存位置 | %1 | 好");
        const QString unusableFolder = alert.arg("所选保存位置不可用。");
        const QString link = alert.arg("为保护文件路径安全，Tavrine 不支持保存到符号链接。");
        const int accept = QMessageBox::AcceptRole, none = -1;
        const QString nothing;
        rows("cancelled", true, nothing, none, nothing, nothing);
        rows("new name", true, "sub/new.bin", none, nothing, "sub|new.bin");
        rows("dot segments", true, "sub/inner/../new.bin", none, nothing, "sub|new.bin");
        // The download is saved beside a file of that name, so there is nothing to ask about replacing it.
        rows("name of a file", true, "file.txt", none, nothing, "|file.txt");
        rows("name of a file after dot segments", true, "sub/../data.bin", none, nothing, "|data.bin");
        rows("name of a folder", true, "sub", accept, alert.arg("请选择文件名称，而不是文件夹。"), nothing);
        rows("name of a link", true, "link-to-file", accept, link, nothing);
        rows("name of a dangling link", true, "dangling", accept, link, nothing);
        rows("inside a linked folder", true, "link-to-folder/new.bin", accept, unusableFolder, nothing);
        rows("inside a file", true, "file.txt/new.bin", accept, unusableFolder, nothing);
        rows("inside a missing folder", true, "gone/new.bin", accept, alert.arg(FolderTree::unreadable("gone")),
             nothing);
        rows("folder download", false, "sub/", none, nothing, "sub|<none>");
        rows("folder download cancelled", false, nothing, none, nothing, nothing);
    }

    void downloadDestinationIsHandedOnOnlyWhenChecked()
    {
        const auto [isFile, location, answer, box, destination] = Destinations::fetch();
        FolderTree tree;
        QList<NativeDownloadDestination> calls, otherCalls;
        // A save panel open beside this one, which must not be called back.
        QDialog *otherPanel = download(otherCalls);
        if (answer >= 0)
            ViewMessageBox::setNextAnswer(QMessageBox::ButtonRole(answer));
        NativeFilePanels::setNextAnswer(location.isEmpty() ? std::nullopt
                                                           : std::optional(QStringList{tree.path(location)}));
        const QPointer<QDialog> panel = download(calls, isFile);
        QTRY_COMPARE(NativeFilePanels::savePanelCount() + NativeFilePanels::folderBrowserSessionCount(), 1);
        QTRY_COMPARE(calls.size(), destination.isEmpty() ? 0 : 1);
        QStringList shown;
        for (const ViewMessageBox::Shown &each : ViewMessageBox::shown())
            shown << each.text << each.informativeText << each.buttons.join(QLatin1Char(' '));
        QCOMPARE(shown.join(QStringLiteral(" | ")), box);
        QCOMPARE(calls.isEmpty() ? QString() : tree.destination(calls.first()), destination);
        QVERIFY(!panel || !panel->isVisible());
        otherPanel->reject();
        QVERIFY(otherCalls.isEmpty());
    }

    void checksAlsoRefuseWhatNoPanelHandsThem()
    {
        FolderTree tree;
        // A files panel opens a folder instead of choosing it, and no panel gives a URL of another scheme.
        QCOMPARE(FilePanelChecks::validateChosenURL(QUrl::fromLocalFile(tree.path("sub")), true, false)
                     ->localizedDescription,
                 wrongKind);
        const QUrl remote(QStringLiteral("https://example.com/file.txt"));
        QCOMPARE(FilePanelChecks::validateChosenURL(remote, true, true)->localizedDescription,
                 QStringLiteral("请选择电脑上的本地文件或文件夹。"));
        QCOMPARE(std::get<FilePanelError>(FilePanelChecks::validatedSaveDestination(remote)).localizedDescription,
                 QStringLiteral("请选择电脑上的本地保存位置。"));
        QCOMPARE(std::get<FilePanelError>(FilePanelChecks::validatedSaveDestination(QUrl::fromLocalFile("/")))
                     .localizedDescription,
                 QStringLiteral("请输入有效的名称。"));
    }

    void showsFolderState_data()
    {
        const FolderStates rows;
        const QString choose = QStringLiteral(" | [取消] | [下载到这里]");
        const QString browse = QStringLiteral("双击文件夹进入；将保存到当前显示的位置 | [取消] | [下载到这里]");
        const QString unusable = QStringLiteral("这个文件夹不可用 | [取消] | [下载到这里]✗");
        rows("folder with sub-folders", "", false, "[返回上一级] | ~ | empty | sub | Sub2 | Sub10 | " + browse);
        rows("empty folder", "empty", false,
             "[返回上一级] | ~/empty | 当前文件夹没有子文件夹，可直接下载到这里" + choose);
        rows("read-only folder", "sub", true, "[返回上一级] | ~/sub | inner | " + browse + "✗");
        rows("link to a folder", "link-to-folder", false, "[返回上一级] | ~/link-to-folder | " + unusable);
        rows("a file", "file.txt", false, "[返回上一级] | ~/file.txt | " + unusable);
        rows("missing", "missing", false,
             "[返回上一级] | ~/missing | " + FolderTree::unreadable("missing") + " | [取消] | [下载到这里]✗");
    }

    void showsFolderState()
    {
        const auto [folder, readOnly, reads] = FolderStates::fetch();
        if (readOnly && ::geteuid() == 0)
            QSKIP("permissions do not bind the superuser");
        FolderTree tree;
        const auto permissions = QFile::permissions(tree.path(folder));
        QFile::setPermissions(tree.path(folder),
                              readOnly ? QFileDevice::ReadOwner | QFileDevice::ExeOwner : permissions);
        Browser browser(tree.path(folder));
        QFile::setPermissions(tree.path(folder), permissions);
        QCOMPARE(transcript(browser.session.get()).replace(tree.path(), QStringLiteral("~")), reads);
        // Return must not get round a disabled choose button.
        browser.session->chooseCurrentDirectory();
        browser.session->cancel();
        QCOMPARE(browser.ends, QStringList{reads.endsWith("✗") ? "<none>" : tree.path(folder)});
    }

    void navigatesDownAndBackUpToTheTop()
    {
        FolderTree tree;
        Browser browser(tree.path());
        browser.session->show();
        QVERIFY(QTest::qWaitForWindowExposed(browser.session.get()));

        const QRect subRow = browser.table()->visualItemRect(browser.table()->item(1));
        QTest::mouseClick(browser.table()->viewport(), Qt::LeftButton, {}, subRow.center());
        QTest::mouseDClick(browser.table()->viewport(), Qt::LeftButton, {}, subRow.center());
        QCOMPARE(browser.session->currentDirectory(), tree.path("sub"));
        QCOMPARE(browser.table()->count(), 1);
        browser.session->openDirectory(5); // beyond the list
        QCOMPARE(browser.session->currentDirectory(), tree.path("sub"));
        browser.button("backButton")->click();
        QCOMPARE(browser.session->currentDirectory(), tree.path());

        Browser top(QStringLiteral("/"));
        QVERIFY(!top.button("backButton")->isEnabled());
        top.session->goBack();
        QCOMPARE(top.session->currentDirectory(), QStringLiteral("/"));
    }

    // Return chooses the folder shown, not the row selected in it.
    void endsExactlyOnce_data()
    {
        const Endings rows;
        rows("close button", Qt::Key_unknown, false);
        rows("Escape", Qt::Key_Escape, false);
        rows("Return with a row selected", Qt::Key_Return, true);
    }

    void endsExactlyOnce()
    {
        const auto [key, chosen] = Endings::fetch();
        FolderTree tree;
        Browser browser(tree.path());
        browser.session->show();
        QVERIFY(QTest::qWaitForWindowExposed(browser.session.get()));
        browser.table()->setCurrentRow(1);
        browser.table()->setFocus();
        if (key != Qt::Key_unknown)
            QTest::keyClick(browser.table(), key);
        browser.session->close();
        browser.session->cancel();
        QVERIFY(!browser.session->isVisible());
        QCOMPARE(browser.ends, QStringList{chosen ? tree.path() : "<none>"});
    }
};

QTEST_MAIN(NativeFilePanelsTest)
#include "test_native_file_panels.moc"
