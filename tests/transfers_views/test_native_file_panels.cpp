#include "FileDialogSupport.h"
#include "FolderTree.h"
#include "NativeFilePanels.h"
#include "NativeFolderPanelSession.h"
#include "ViewMessageBox.h"

#include <QDialog>
#include <QFileDialog>
#include <QMimeDatabase>
#include <QtTest>

namespace {

// Records what a panel's completion was called with.
template <typename T> struct Calls
{
    QList<T> values;
    auto callback()
    {
        return [this](const T &value) {
            values.append(value);
        };
    }
};

QMimeType plainData()
{
    return QMimeDatabase().mimeTypeForName(QStringLiteral("application/octet-stream"));
}

QList<QUrl> urls(const FolderTree &tree, const QStringList &items)
{
    QList<QUrl> result;
    for (const QString &item : items) {
        result.append(QUrl::fromLocalFile(tree.path(item)));
    }
    return result;
}

bool allPanelsEnded()
{
    return NativeFilePanels::openPanelSessionCount() == 0 && NativeFilePanels::savePanelCount() == 0 &&
           NativeFilePanels::folderBrowserSessionCount() == 0;
}

} // namespace

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

    void openPanelsHandOnConfirmedItems_data()
    {
        QTest::addColumn<bool>("folders");
        QTest::addColumn<QStringList>("chosen");

        QTest::newRow("files") << false << QStringList{"file.txt", "data.bin"};
        QTest::newRow("one folder") << true << QStringList{"sub"};
        QTest::newRow("several folders") << true << QStringList{"sub", "Sub2"};
    }

    void openPanelsHandOnConfirmedItems()
    {
        QFETCH(bool, folders);
        QFETCH(QStringList, chosen);
        FolderTree tree;
        QStringList paths;
        for (const QString &item : chosen) {
            paths.append(tree.path(item));
        }

        Calls<QList<QUrl>> calls;
        NativeFilePanels::setNextAnswer(paths);
        folders ? NativeFilePanels::presentManagedFoldersPanel(calls.callback())
                : NativeFilePanels::presentManagedFilesPanel(calls.callback());
        QTRY_COMPARE(calls.values.size(), 1);
        QCOMPARE(calls.values.first(), urls(tree, chosen));
    }

    void panelsNeverResolveLinks()
    {
        // A resolved link would reach the checks as its target and pass them.
        auto *panel = qobject_cast<QFileDialog *>(NativeFilePanels::presentManagedFoldersPanel({}));
        QVERIFY(panel->testOption(QFileDialog::DontResolveSymlinks));
        QVERIFY(panel->testOption(QFileDialog::DontUseNativeDialog));
        panel->reject();
    }

    void refusedItemKeepsThePanelOpen_data()
    {
        QTest::addColumn<bool>("folders");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("message");

        const QString link = QStringLiteral("为保护文件路径安全，Tavrine 不支持选择符号链接。");
        QTest::newRow("link to a folder, folders panel") << true << "link-to-folder" << link;
        QTest::newRow("link to a file, files panel") << false << "link-to-file" << link;
        QTest::newRow("file in the folders panel") << true << "file.txt"
                                                   << "请选择符合当前操作的文件或文件夹。";
    }

    void refusedItemKeepsThePanelOpen()
    {
        QFETCH(bool, folders);
        QFETCH(QString, item);
        QFETCH(QString, message);
        FolderTree tree;

        Calls<QList<QUrl>> calls;
        ViewMessageBox::setNextAnswer(QMessageBox::AcceptRole);
        NativeFilePanels::setNextAnswer(QStringList{tree.path(item)});
        QDialog *panel = folders ? NativeFilePanels::presentManagedFoldersPanel(calls.callback())
                                 : NativeFilePanels::presentManagedFilesPanel(calls.callback());
        QCOMPARE(ViewMessageBox::shown().size(), 1);
        QCOMPARE(ViewMessageBox::shown().first().text, message);
        QVERIFY(panel->isVisible());
        QCOMPARE(NativeFilePanels::openPanelSessionCount(), 1);

        // The user picks something else after the refusal.
        FileDialogSupport::typeSelection(qobject_cast<QFileDialog *>(panel),
                                         {tree.path(folders ? QStringLiteral("sub") : QStringLiteral("file.txt"))});
        static_cast<QDialog *>(panel)->accept();
        QTRY_COMPARE(calls.values.size(), 1);
        QCOMPARE(calls.values.first().size(), 1);
    }

    void cancelledOrEmptyPanelCallsNoCallback()
    {
        Calls<QList<QUrl>> calls;
        QDialog *panel = NativeFilePanels::presentManagedFilesPanel(calls.callback());
        static_cast<QDialog *>(panel)->accept(); // nothing selected: the panel does not close
        QVERIFY(panel->isVisible());
        panel->reject();
        NativeFilePanels::setNextAnswer(std::nullopt);
        NativeFilePanels::presentManagedFoldersPanel(calls.callback());
        QTRY_VERIFY(allPanelsEnded());
        QVERIFY(calls.values.isEmpty());
    }

    void saveOverAnExistingFileYieldsItsFolderAndName()
    {
        FolderTree tree;
        Calls<NativeDownloadDestination> calls;
        ViewMessageBox::setNextAnswer(QMessageBox::DestructiveRole);
        NativeFilePanels::setNextAnswer(QStringList{tree.path("file.txt")});
        NativeFilePanels::presentDownloadSavePanel(QStringLiteral("file.txt"), true, plainData(), calls.callback());
        QTRY_COMPARE(calls.values.size(), 1);
        QCOMPARE(calls.values.first(),
                 (NativeDownloadDestination{QUrl::fromLocalFile(tree.path()), QStringLiteral("file.txt")}));
        QCOMPARE(ViewMessageBox::shown().size(), 1);
        QCOMPARE(ViewMessageBox::shown().first().buttons,
                 (QStringList{QStringLiteral("替换"), QStringLiteral("取消")}));
    }

    void declinedReplacementKeepsThePanelOpen()
    {
        FolderTree tree;
        Calls<NativeDownloadDestination> calls;
        ViewMessageBox::setNextAnswer(QMessageBox::RejectRole);
        NativeFilePanels::setNextAnswer(QStringList{tree.path("file.txt")});
        QDialog *panel =
            NativeFilePanels::presentDownloadSavePanel(QStringLiteral("file.txt"), true, plainData(), calls.callback());
        QVERIFY(panel->isVisible());
        panel->reject();
        QTRY_VERIFY(allPanelsEnded());
        QVERIFY(calls.values.isEmpty());
    }

    void refusedSaveLocationShowsTheAlert_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("message");

        QTest::newRow("folder name") << "sub"
                                     << "请选择文件名称，而不是文件夹。";
        QTest::newRow("inside a linked folder") << "link-to-folder/new.bin"
                                                << "所选保存位置不可用。";
        QTest::newRow("dangling link") << "dangling"
                                       << "为保护文件路径安全，Tavrine 不支持保存到符号链接。";
    }

    void refusedSaveLocationShowsTheAlert()
    {
        QFETCH(QString, location);
        QFETCH(QString, message);
        FolderTree tree;

        Calls<NativeDownloadDestination> calls;
        ViewMessageBox::setNextAnswer(QMessageBox::AcceptRole);
        NativeFilePanels::setNextAnswer(QStringList{tree.path(location)});
        NativeFilePanels::presentDownloadSavePanel(QStringLiteral("new.bin"), true, plainData(), calls.callback());
        QTRY_COMPARE(ViewMessageBox::shown().size(), 1);
        QCOMPARE(ViewMessageBox::shown().first().text, QStringLiteral("无法使用这个保存位置"));
        QCOMPARE(ViewMessageBox::shown().first().informativeText, message);
        QCOMPARE(ViewMessageBox::shown().first().buttons, QStringList{QStringLiteral("好")});
        QTRY_VERIFY(allPanelsEnded());
        QVERIFY(calls.values.isEmpty());
    }

    void eachSavePanelCallsBackItsOwnCaller()
    {
        FolderTree tree;
        Calls<NativeDownloadDestination> first;
        Calls<NativeDownloadDestination> second;
        auto *firstPanel = qobject_cast<QFileDialog *>(
            NativeFilePanels::presentDownloadSavePanel(QStringLiteral("a.bin"), true, plainData(), first.callback()));
        auto *secondPanel = qobject_cast<QFileDialog *>(
            NativeFilePanels::presentDownloadSavePanel(QStringLiteral("b.bin"), true, plainData(), second.callback()));
        QCOMPARE(NativeFilePanels::savePanelCount(), 2);

        FileDialogSupport::typeSelection(secondPanel, {tree.path("b.bin")});
        static_cast<QDialog *>(secondPanel)->accept();
        QTRY_COMPARE(second.values.size(), 1);
        QCOMPARE(second.values.first().preferredRootName, QStringLiteral("b.bin"));
        QCOMPARE(NativeFilePanels::savePanelCount(), 1);
        QVERIFY(first.values.isEmpty());

        firstPanel->reject();
        QTRY_COMPARE(NativeFilePanels::savePanelCount(), 0);
        QVERIFY(first.values.isEmpty());
    }

    void folderDownloadGoesThroughTheFolderBrowser()
    {
        FolderTree tree;
        Calls<NativeDownloadDestination> calls;
        NativeFilePanels::setNextAnswer(QStringList{tree.path("sub") + QStringLiteral("/")});
        QDialog *browser =
            NativeFilePanels::presentDownloadSavePanel(QStringLiteral("照片"), false, plainData(), calls.callback());
        QVERIFY(qobject_cast<NativeFolderPanelSession *>(browser));
        QCOMPARE(calls.values, (QList{NativeDownloadDestination{QUrl::fromLocalFile(tree.path("sub")), std::nullopt}}));

        NativeFilePanels::setNextAnswer(std::nullopt);
        NativeFilePanels::presentDownloadSavePanel(QStringLiteral("照片"), false, plainData(), calls.callback());
        QCOMPARE(calls.values.size(), 1);
    }
};

QTEST_MAIN(NativeFilePanelsTest)
#include "test_native_file_panels.moc"
