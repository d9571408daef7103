#include "FilesPaneDialogs.h"
#include "ManagedApplicationsPane.h"
#include "ManagementStoreFixture.h"
#include "TestSupport.h"
#include "ViewMessageBox.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

ManagedApplication application(const QString &name)
{
    return {u"pkg."_s + name, name, u"1.2"_s, 12, 0, 0, false, true, true};
}

void request(ManagedApplicationsPane *pane, const QString &question, const ManagedApplication &application)
{
    if (question == u"uninstall") {
        pane->requestUninstall(application);
    } else if (question == u"clear data") {
        pane->requestClearData(application);
    } else {
        pane->requestUSBUninstall(application);
    }
}

// Presses `key` where a person's key press goes: the widget with the focus in `window`, else the window.
void press(QWidget *window, Qt::Key key)
{
    QWidget *focus = window->focusWidget();
    QTest::keyClick(focus ? focus : window, key);
}

} // namespace

// Question.
using PaneRows = TestTable<QString>;
// Key.
using KeyRows = TestTable<Qt::Key>;
// Question of the files pane, key.
using DialogRows = TestTable<FilesPaneDialog, Qt::Key>;

class DestructiveQuestionsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { ViewMessageBox::clearShown(); }

    void paneGoneWhileAsking_data()
    {
        const PaneRows rows;
        rows("uninstall", u"uninstall"_s);
        rows("clear data", u"clear data"_s);
        rows("uninstall over USB", u"usb uninstall"_s);
    }

    // The dashboard deletes the pane when its screen changes, a question may still be open then.
    void paneGoneWhileAsking()
    {
        const auto [question] = PaneRows::fetch();
        ManagementStoreFixture management;
        auto *pane = new ManagedApplicationsPane(u"Pixel"_s, management.store.get(), nullptr, true, true, {});
        pane->show();
        QPointer<QMessageBox> box;
        bool deleted = false;
        QTimer::singleShot(0, qApp, [&] {
            box = pane->findChild<QMessageBox *>();
            delete pane;
            deleted = true;
            if (box) {
                box->buttons().constFirst()->click();
            }
        });
        request(pane, question, application(u"Maps"_s));
        QTRY_VERIFY(deleted);
        QCOMPARE(ViewMessageBox::shown().size(), 1);
        QVERIFY(!box);
        QCoreApplication::processEvents();
        for (const FakeManagementChannel::Request &sent : management.channel->requests) {
            QVERIFY2(!sent.action.contains(u"uninstall"_s), qPrintable(sent.action));
        }
    }

    void keysNeverDestroy_data()
    {
        const KeyRows rows;
        rows("Return", Qt::Key_Return);
        rows("Enter", Qt::Key_Enter);
        rows("Escape", Qt::Key_Escape);
    }

    // Even a caller that names the destructive button as the default gets the cancel button for Return.
    void keysNeverDestroy()
    {
        const auto [key] = KeyRows::fetch();
        QTimer::singleShot(0, qApp, [&, key = key] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box) {
                press(box, key);
            }
        });
        const QMessageBox::ButtonRole answer = ViewMessageBox::ask(
            nullptr, QMessageBox::Warning, u"移除？"_s, {},
            {{u"移除设备"_s, QMessageBox::DestructiveRole}, {u"取消"_s, QMessageBox::RejectRole}}, 0);
        QCOMPARE(answer, QMessageBox::RejectRole);

        QMessageBox::ButtonRole later = QMessageBox::DestructiveRole;
        QPointer<QMessageBox> box = ViewMessageBox::openQuestion(
            nullptr, QMessageBox::Warning, u"卸载？"_s, {},
            {{u"卸载"_s, QMessageBox::DestructiveRole}, {u"取消"_s, QMessageBox::RejectRole}},
            [&later](QMessageBox::ButtonRole role) { later = role; });
        QVERIFY(box);
        QVERIFY(QTest::qWaitForWindowExposed(box));
        press(box, key);
        QTRY_VERIFY(!box);
        QCOMPARE(later, QMessageBox::RejectRole);
        QTRY_VERIFY(!box);
    }

    void filesPaneKeysNeverDestroy_data()
    {
        const DialogRows rows;
        const QList<ManagedFileEntry> entries{fileEntry(u"f"_s, u"a.txt"_s)};
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            const char *name = key == Qt::Key_Return ? "Return" : "Escape";
            rows(qPrintable(u"empty trash, "_s + QLatin1StringView(name)), FilesPaneDialogs::emptyTrash(), key);
            rows(qPrintable(u"move to trash, "_s + QLatin1StringView(name)), FilesPaneDialogs::moveToTrash(entries),
                 key);
            rows(qPrintable(u"replace on paste, "_s + QLatin1StringView(name)), FilesPaneDialogs::replaceOnPaste(),
                 key);
            rows(qPrintable(u"replace on restore, "_s + QLatin1StringView(name)), FilesPaneDialogs::replaceOnRestore(),
                 key);
        }
    }

    void filesPaneKeysNeverDestroy()
    {
        const auto [dialog, key] = DialogRows::fetch();
        QWidget parent;
        parent.show();
        std::optional<int> answer;
        const QPointer<QWidget> window =
            FilesPaneDialogs::present(&parent, dialog, [&answer](int button, const QString &) { answer = button; });
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        press(window, key);
        // A button pressed by a key answers once its press has been shown.
        QTRY_VERIFY(answer);
        QCOMPARE(*answer, dialog.cancelButton());
    }
};

QTEST_MAIN(DestructiveQuestionsTest)
#include "test_destructive_questions.moc"
