#include "FolderTree.h"
#include "NativeFolderPanelSession.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {

const QString browseHint = QStringLiteral("双击文件夹进入；将保存到当前显示的位置");
const QString emptyHint = QStringLiteral("当前文件夹没有子文件夹，可直接下载到这里");

// A browser over `start` that records every end.
struct Browser
{
    QList<std::optional<QString>> ends;
    std::unique_ptr<NativeFolderPanelSession> session;

    explicit Browser(const QString &start)
        : session(std::make_unique<NativeFolderPanelSession>(
              [this](const std::optional<QString> &folder) { ends.append(folder); }, start))
    {}

    QString status() const { return session->findChild<QLabel *>(QStringLiteral("statusLabel"))->text(); }
    QPushButton *choose() const { return session->findChild<QPushButton *>(QStringLiteral("chooseButton")); }
    QToolButton *back() const { return session->findChild<QToolButton *>(QStringLiteral("backButton")); }
    QListWidget *table() const { return session->findChild<QListWidget *>(QStringLiteral("folderTable")); }

    QStringList rowNames() const
    {
        QStringList names;
        for (int row = 0; row < table()->count(); ++row) {
            names.append(table()->item(row)->text());
        }
        return names;
    }
};

} // namespace

class NativeFolderPanelSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void showsFolderState_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("canChoose");

        QTest::newRow("folder with sub-folders")
            << "" << QStringList{"empty", "sub", "Sub2", "Sub10"} << browseHint << true;
        QTest::newRow("empty folder") << "empty" << QStringList() << emptyHint << true;
        QTest::newRow("link to a folder") << "link-to-folder" << QStringList() << "这个文件夹不可用" << false;
        QTest::newRow("a file") << "file.txt" << QStringList() << "这个文件夹不可用" << false;
    }

    void showsFolderState()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, rows);
        QFETCH(QString, status);
        QFETCH(bool, canChoose);

        FolderTree tree;
        Browser browser(tree.path(folder));
        QCOMPARE(browser.rowNames(), rows);
        QCOMPARE(browser.status(), status);
        QCOMPARE(browser.choose()->isEnabled(), canChoose);
        QVERIFY(browser.back()->isEnabled());
        browser.session->cancel();
    }

    void navigatesDownAndBack()
    {
        FolderTree tree;
        Browser browser(tree.path());
        browser.session->show();
        QVERIFY(QTest::qWaitForWindowExposed(browser.session.get()));

        QListWidget *table = browser.table();
        const QRect subRow = table->visualItemRect(table->item(1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, subRow.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, subRow.center());
        QCOMPARE(browser.session->currentDirectory(), tree.path("sub"));
        QCOMPARE(browser.rowNames(), QStringList{"inner"});

        browser.session->openDirectory(5); // beyond the list
        QCOMPARE(browser.session->currentDirectory(), tree.path("sub"));

        browser.back()->click();
        QCOMPARE(browser.session->currentDirectory(), tree.path());
        browser.session->cancel();
        QCOMPARE(browser.ends, (QList<std::optional<QString>>{std::nullopt}));
    }

    void topOfTheFileSystemHasNoWayBack()
    {
        Browser browser(QStringLiteral("/"));
        QVERIFY(!browser.back()->isEnabled());
        browser.session->goBack();
        QCOMPARE(browser.session->currentDirectory(), QStringLiteral("/"));
        browser.session->cancel();
    }

    void returnChoosesTheFolderShownEvenWithARowSelected()
    {
        FolderTree tree;
        Browser browser(tree.path());
        browser.session->show();
        QVERIFY(QTest::qWaitForWindowExposed(browser.session.get()));
        browser.table()->setCurrentRow(1);
        browser.table()->setFocus();
        QTest::keyClick(browser.table(), Qt::Key_Return);
        QCOMPARE(browser.ends, (QList<std::optional<QString>>{tree.path()}));
        QVERIFY(!browser.session->isVisible());
    }

    void endsExactlyOnce_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("chosen");
        QTest::newRow("close button") << "close" << false;
        QTest::newRow("Escape") << "escape" << false;
        QTest::newRow("confirm, then close") << "choose" << true;
    }

    void endsExactlyOnce()
    {
        QFETCH(QString, way);
        QFETCH(bool, chosen);
        FolderTree tree;
        Browser browser(tree.path());
        browser.session->show();
        QVERIFY(QTest::qWaitForWindowExposed(browser.session.get()));
        if (way == QLatin1String("choose")) {
            browser.session->chooseCurrentDirectory();
        } else if (way == QLatin1String("escape")) {
            QTest::keyClick(browser.session.get(), Qt::Key_Escape);
        }
        browser.session->close();
        browser.session->cancel();
        QVERIFY(!browser.session->isVisible());
        QCOMPARE(browser.ends,
                 (QList<std::optional<QString>>{chosen ? std::optional<QString>(tree.path()) : std::nullopt}));
    }

    void unwritableFolderCannotBeChosen()
    {
        if (::geteuid() == 0) {
            QSKIP("permissions do not bind the superuser");
        }
        FolderTree tree;
        QFile::setPermissions(tree.path("sub"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        Browser browser(tree.path("sub"));
        QCOMPARE(browser.rowNames(), QStringList{"inner"});
        QVERIFY(!browser.choose()->isEnabled());
        browser.session->chooseCurrentDirectory();
        QVERIFY(browser.ends.isEmpty());
        browser.session->cancel();
        QFile::setPermissions(tree.path("sub"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
};

QTEST_MAIN(NativeFolderPanelSessionTest)
#include "test_native_folder_panel_session.moc"
