// Quick send: the selection and message rules, the coordinator over a transfer store with a fake core host,
// and the panel offscreen.
#include "ElidedLabel.h"
#include "QuickSendCoordinator.h"
#include "QuickSendPanel.h"
#include "QuickSendRules.h"
#include "transfers/StallingKeychain.h"
#include "transfers/StoreTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

using Kind = TransferStore::Phase::Kind;
using Source = QuickSendCoordinator::Source;

class TestQuickSend : public QObject
{
    Q_OBJECT

private:
    // A folder with "a.txt", "b.txt", "c.txt", the folder "dir" and "link" to "a.txt".
    struct Files
    {
        QTemporaryDir folder;
        Files()
        {
            writeFile(path(QStringLiteral("a.txt")), "a");
            writeFile(path(QStringLiteral("b.txt")), "b");
            writeFile(path(QStringLiteral("c.txt")), "c");
            QDir(folder.path()).mkdir(QStringLiteral("dir"));
            QFile::link(path(QStringLiteral("a.txt")), path(QStringLiteral("link")));
        }
        QString path(const QString &name) const { return folder.path() + QLatin1Char('/') + name; }
        QList<QUrl> urls(const QStringList &names) const
        {
            QList<QUrl> urls;
            for (const QString &name : names) {
                urls.append(name.contains(QLatin1Char(':')) ? QUrl(name) : QUrl::fromLocalFile(path(name)));
            }
            return urls;
        }
    };

    static QString textOf(QWidget *root, const char *name)
    {
        return root->findChild<QLabel *>(QLatin1String(name))->text();
    }

private slots:
    void selectionKeepsRegularFilesOnce_data()
    {
        TestTable<QStringList, QStringList, int> rows;
        rows("files in the given order", {"b.txt", "a.txt"}, {"b.txt", "a.txt"}, 0);
        rows("equivalent paths are one file", {"a.txt", "dir/../a.txt", "./a.txt"}, {"a.txt"}, 0);
        rows("folder, link, missing file and web address", {"dir", "link", "gone.txt", "https://example.com/a.txt"}, {},
             4);
        rows("a repeated rejected input counts once", {"dir", "dir/", "b.txt"}, {"b.txt"}, 1);
    }
    void selectionKeepsRegularFilesOnce()
    {
        const auto [inputs, accepted, rejected] = TestTable<QStringList, QStringList, int>::fetch();
        const Files files;
        QCOMPARE(QuickSendSelection::fromURLs(files.urls(inputs)),
                 (QuickSendSelection{files.urls(accepted), rejected}));
    }

    void handOverMessages_data()
    {
        TestTable<Kind, int, int, QString> rows;
        rows("one file connected", Kind::connected, 1, 0, "已开始发送");
        rows("files connected, some skipped", Kind::connected, 2, 1, "已开始发送 2 个文件；已跳过 1 项");
        rows("one file queued", Kind::reconnecting, 1, 0, "已加入队列，手机连接后自动发送");
        rows("files queued, some skipped", Kind::idle, 3, 2, "3 个文件已加入队列，手机连接后自动发送；已跳过 2 项");
    }
    void handOverMessages()
    {
        const auto [phase, fileCount, rejected, expected] = TestTable<Kind, int, int, QString>::fetch();
        QCOMPARE(QuickSendRules::handOverMessage(phase, fileCount, rejected), expected);
    }

    void panelStatusText_data()
    {
        TestTable<std::optional<QString>, Kind, QString> rows;
        rows("no phone, also while pairing", std::nullopt, Kind::pairing, "尚未添加手机");
        rows("connected", "Pixel", Kind::connected, "发送到 Pixel");
        rows("reconnecting", "Pixel", Kind::reconnecting, "Pixel · 未连接");
        rows("awaiting confirmation", "Pixel", Kind::awaitingConfirmation, "Pixel · 等待手机确认");
        rows("failed", "Pixel", Kind::failed, "Pixel · 需要处理");
        rows("idle", "Pixel", Kind::idle, "Pixel");
        rows("a new pairing", "Pixel", Kind::pairing, "正在添加手机");
    }
    void panelStatusText()
    {
        const auto [name, phase, expected] = TestTable<std::optional<QString>, Kind, QString>::fetch();
        QCOMPARE(QuickSendRules::statusText(name, phase), expected);
    }

    void panelSitsAboveTheScreenCentre()
    {
        QCOMPARE(QuickSendRules::panelOrigin(QRect(100, 0, 1280, 1000), QSize(440, 350)), QPoint(520, 297));
    }

    void handOversWaitForOneBootstrapAndGoInArrivalOrder()
    {
        const Files files;
        StoreFixture fixture;
        fixture.saveRegistry({trustedPhone(QStringLiteral("Pixel"), 1)});
        TransferStore &store = fixture.make();
        QuickSendCoordinator coordinator(store);

        coordinator.handle(files.urls({"a.txt"}), Source::dock);
        coordinator.handle(files.urls({"b.txt", "dir"}), Source::finderService);
        coordinator.handle(files.urls({"c.txt"}), Source::quickPanel);
        QCOMPARE(coordinator.message(), QStringLiteral("正在准备手机连接…"));
        QVERIFY(coordinator.panel()->isVisible());
        QTRY_VERIFY(coordinator.isTransferStoreReady());

        QCOMPARE(fixture.host->startCount, 1);
        QStringList sent;
        for (const TransferTaskRecord &task : store.tasks()) {
            sent.append(task.fileName);
        }
        // The store lists the newest task first.
        QCOMPARE(sent, QStringList({"c.txt", "b.txt", "a.txt"}));
        QCOMPARE(coordinator.message(), QStringLiteral("已加入队列，手机连接后自动发送"));

        // Once ready, a hand-over from the panel leaves it hidden; one from outside presents it.
        coordinator.panel()->hide();
        coordinator.handle(files.urls({"a.txt"}), Source::quickPanel);
        QVERIFY(!coordinator.panel()->isVisible());
        coordinator.handle(files.urls({"a.txt"}), Source::finderService);
        QVERIFY(coordinator.panel()->isVisible());
    }

    // A file that goes away while the store starts is not reported as sent, and leaves the link as it is.
    void filesGoneBeforeTheSendAreNotCountedAsSent()
    {
        const Files files;
        StoreFixture fixture;
        fixture.saveRegistry({trustedPhone(QStringLiteral("Pixel"), 1)});
        TransferStore &store = fixture.make();
        QuickSendCoordinator coordinator(store);
        QStringList messages;
        connect(&coordinator, &QuickSendCoordinator::messageChanged, this,
                [&] { messages.append(coordinator.message()); });
        coordinator.handle(files.urls({"a.txt", "b.txt"}), Source::dock);
        coordinator.handle(files.urls({"c.txt"}), Source::dock);
        QVERIFY(QFile::remove(files.path(QStringLiteral("b.txt"))));
        QVERIFY(QFile::remove(files.path(QStringLiteral("c.txt"))));
        QTRY_VERIFY(coordinator.isTransferStoreReady());
        QCOMPARE(messages,
                 QStringList({"正在准备手机连接…", "已加入队列，手机连接后自动发送；已跳过 1 项", "“c.txt”不存在。"}));
        QCOMPARE(store.tasks().size(), 1);
        QVERIFY(store.phase().kind != Kind::failed);
    }

    void connectedStoreStartsSending()
    {
        const Files files;
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        QuickSendCoordinator coordinator(store);
        coordinator.handle(files.urls({"a.txt", "b.txt", "dir"}), Source::dock);
        QTRY_COMPARE(coordinator.message(), QStringLiteral("已开始发送 2 个文件；已跳过 1 项"));
        QCOMPARE(store.activeTasks().size(), 2);
    }

    void aFailedStartIsRetriedAndTheFilesWait()
    {
        const Files files;
        StoreFixture fixture;
        fixture.saveRegistry({trustedPhone(QStringLiteral("Pixel"), 1)});
        TransferStore &store = fixture.make();
        QuickSendCoordinator coordinator(store);
        const QString queued = QStringLiteral("已加入队列，手机连接后自动发送");
        const auto failStart = [&] {
            fixture.host->failNextStart = TavrineCoreError::ServiceStart(u"port busy"_qs);
        };
        const auto waitingFiles = [&] {
            QStringList names;
            for (const TransferTaskRecord &task : store.tasks()) {
                if (task.status == TransferTaskRecord::Status::waitingForConnection)
                    names.append(task.fileName);
            }
            return names;
        };

        // The user's files are never dropped: a store that cannot start keeps them as waiting tasks.
        failStart();
        coordinator.handle(files.urls({"a.txt"}), Source::dock);
        QTRY_VERIFY(!coordinator.isBootstrapping());
        QCOMPARE(store.phase().kind, Kind::failed);
        QCOMPARE(coordinator.message(), queued);
        QCOMPARE(waitingFiles(), QStringList({"a.txt"}));
        QVERIFY(!coordinator.isTransferStoreReady());

        coordinator.handle(files.urls({"b.txt"}), Source::quickPanel);
        QTRY_VERIFY(coordinator.isTransferStoreReady());
        QCOMPARE(coordinator.message(), queued);
        QCOMPARE(waitingFiles(), QStringList({"b.txt", "a.txt"}));

        // A ready store whose host later failed to start is started up again; failing again, it still queues.
        failStart();
        store.beginNewPairing();
        QCOMPARE(store.phase().kind, Kind::failed);
        failStart();
        coordinator.handle(files.urls({"c.txt", "a.txt"}), Source::finderService);
        QTRY_VERIFY(!coordinator.isBootstrapping());
        QVERIFY(!fixture.host->failNextStart); // the store was started up again
        QCOMPARE(coordinator.message(), QStringLiteral("2 个文件已加入队列，手机连接后自动发送"));
        QCOMPARE(waitingFiles(), QStringList({"a.txt", "c.txt", "b.txt", "a.txt"}));
    }

    void nothingIsSentWithoutATrustedPhone()
    {
        const Files files;
        StoreFixture fixture;
        TransferStore &store = fixture.make();
        QuickSendCoordinator coordinator(store);

        coordinator.handle({}, Source::dock);
        QCOMPARE(coordinator.message(), QStringLiteral("没有找到可发送的文件"));
        coordinator.handle(files.urls({"dir"}), Source::finderService);
        QCOMPARE(coordinator.message(), QStringLiteral("这里只支持普通文件；文件夹请在 Tavrine 主窗口中发送"));
        QVERIFY(!coordinator.isBootstrapping());

        coordinator.handle(files.urls({"a.txt"}), Source::quickPanel);
        QTRY_COMPARE(coordinator.message(), QStringLiteral("先在 Tavrine 中添加一台手机，之后无需重复配对"));
        QVERIFY(store.tasks().isEmpty());
        QVERIFY(coordinator.panel()->isVisible());
    }

    // The first phone has paired and its trust is still on its way to a slow keyring: files handed over meanwhile
    // are not refused as though no phone were added, and go to that phone once its trust is kept.
    void filesHandedOverWhileTheFirstPairingIsKeptGoToThatPhone()
    {
        const Files files;
        StoreFixture fixture;
        auto keychain = std::make_shared<StallingKeychain>(fixture.keychain);
        fixture.environmentKeychain = keychain;
        TransferStore &store = fixture.make();
        QuickSendCoordinator coordinator(store);
        // Before any pairing the files are refused; the store has started up all the same.
        coordinator.handle(files.urls({"c.txt"}), Source::dock);
        QTRY_COMPARE(coordinator.message(), QuickSendRules::noTrustedPhoneMessage);
        QVERIFY(coordinator.isTransferStoreReady());
        store.beginNewPairing();
        fixture.host->trustedPeerSecret = QStringLiteral("0123456789abcdef0123456789abcdef-secret");
        fixture.host->events = {linkEvent(TransferEventKind::connecting, {}, {}),
                                linkEvent(TransferEventKind::awaitingConfirmation, QStringLiteral("Pixel"), QStringLiteral("peer-1")),
                                linkEvent(TransferEventKind::paired, QStringLiteral("Pixel"), QStringLiteral("peer-1"))};
        keychain->stall();
        store.drainEvents();
        QTRY_VERIFY(keychain->hasWaitingCall());
        QVERIFY(store.isKeepingTrust() && !store.selectedTrustedDeviceID());

        coordinator.handle(files.urls({"a.txt", "b.txt"}), Source::finderService);
        QTRY_VERIFY(!coordinator.isBootstrapping());
        QVERIFY(coordinator.message() != QuickSendRules::noTrustedPhoneMessage);
        QCOMPARE(store.tasks().size(), 2);

        keychain->release();
        QTRY_VERIFY(store.waitForCredentialWrites() || !store.isKeepingTrust());
        store.drainEvents();
        QCOMPARE(store.phase(), TransferStore::Phase::connected(QStringLiteral("Pixel")));
        QCOMPARE(store.trustedDevices().size(), 1);
        for (const TransferTaskRecord &task : store.tasks()) {
            QCOMPARE(task.trustedDeviceID, store.selectedTrustedDeviceID());
            QVERIFY(task.status != TransferTaskRecord::Status::waitingForConnection);
        }
    }

    void stopDropsQueuedHandOvers()
    {
        const Files files;
        StoreFixture fixture;
        fixture.saveRegistry({trustedPhone(QStringLiteral("Pixel"), 1)});
        TransferStore &store = fixture.make();
        QuickSendCoordinator coordinator(store);
        coordinator.setDidStart(true);
        coordinator.setHotKeyAvailable(true);
        coordinator.handle(files.urls({"a.txt"}), Source::dock);

        coordinator.stop();
        QVERIFY(!coordinator.hotKeyAvailable() && !coordinator.didStart() && coordinator.pendingSends().isEmpty());
        QVERIFY(!coordinator.panel()->isVisible());
        QTRY_VERIFY(store.hasHost());
        QVERIFY(!coordinator.isTransferStoreReady());
        QVERIFY(store.tasks().isEmpty());
    }

    void showMainWindowBringsOneBackOrOpensOne()
    {
        StoreFixture fixture;
        QuickSendCoordinator coordinator(fixture.make());
        int opened = 0;
        coordinator.setMainWindowOpener([&] { ++opened; });
        coordinator.showPanel();
        coordinator.showMainWindow();
        QCOMPARE(opened, 1);
        QVERIFY(!coordinator.panel()->isVisible());

        QMainWindow closedWindow;
        coordinator.showMainWindow();
        QVERIFY(closedWindow.isVisible());
        QCOMPARE(opened, 1);
    }

    void panelFollowsTheCoordinatorAndTheStore()
    {
        const Files files;
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        QuickSendCoordinator coordinator(store);
        QuickSendPanel *panel = coordinator.preparedPanel();

        QCOMPARE(panel->findChild<ElidedLabel *>(QStringLiteral("quickSendStatus"))->text(),
                 QStringLiteral("发送到 Pixel"));
        QCOMPARE(textOf(panel, "quickSendMessage"), QStringLiteral("拖入文件，立即发送到手机"));
        QVERIFY(!panel->findChild<QLabel *>(QStringLiteral("quickSendHotKeyHint"))->isVisibleTo(panel));
        coordinator.setHotKeyAvailable(true);
        QCOMPARE(textOf(panel, "quickSendHotKeyHint"), QStringLiteral("快捷键 Ctrl+Alt+Space"));
        QVERIFY(panel->findChild<QLabel *>(QStringLiteral("quickSendHotKeyHint"))->isVisibleTo(panel));

        auto *taskRow = panel->findChild<QWidget *>(QStringLiteral("quickSendTaskRow"));
        auto *privacyRow = panel->findChild<QWidget *>(QStringLiteral("quickSendPrivacyRow"));
        QVERIFY(!taskRow->isVisibleTo(panel) && privacyRow->isVisibleTo(panel));
        store.sendFiles({files.path(QStringLiteral("b.txt"))});
        QVERIFY(taskRow->isVisibleTo(panel) && !privacyRow->isVisibleTo(panel));
        QCOMPARE(panel->findChild<ElidedLabel *>(QStringLiteral("quickSendTaskName"))->text(), QStringLiteral("b.txt"));
    }

    void dropZoneTakesFileDrops()
    {
        const Files files;
        StoreFixture fixture;
        QuickSendCoordinator coordinator(fixture.make());
        QuickSendPanel *panel = coordinator.preparedPanel();
        auto *zone = panel->findChild<QWidget *>(QStringLiteral("quickSendDropZone"));
        QMimeData folder;
        folder.setUrls(files.urls({"dir"}));

        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &folder, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &enter);
        QVERIFY(panel->isTargeted());
        QCOMPARE(textOf(panel, "quickSendMessage"), QStringLiteral("松开发送"));
        QDragLeaveEvent leave;
        QApplication::sendEvent(zone, &leave);
        QVERIFY(!panel->isTargeted());
        QCOMPARE(textOf(panel, "quickSendMessage"), QStringLiteral("拖入文件，立即发送到手机"));

        QMimeData empty;
        empty.setText(QStringLiteral("text"));
        QDropEvent emptyDrop(QPointF(10, 10), Qt::CopyAction, &empty, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &emptyDrop);
        QVERIFY(!emptyDrop.isAccepted());
        QCOMPARE(coordinator.message(), QStringLiteral("拖入文件，立即发送到手机"));

        QApplication::sendEvent(zone, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &folder, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &drop);
        QVERIFY(!panel->isTargeted());
        QCOMPARE(textOf(panel, "quickSendMessage"),
                 QStringLiteral("这里只支持普通文件；文件夹请在 Tavrine 主窗口中发送"));
    }

    void turningToAnotherApplication_data()
    {
        TestTable<bool, bool, bool, bool> rows; // button held there, files dropped, came back, panel stays
        rows("by the keyboard", false, false, false, false);
        rows("a press there that drags nothing", true, false, false, false);
        rows("a press there that drops files on the panel", true, true, false, true);
        rows("a press there, then back here", true, false, true, true);
    }
    void turningToAnotherApplication()
    {
        const auto [held, drops, comesBack, stays] = TestTable<bool, bool, bool, bool>::fetch();
        const Files files;
        StoreFixture fixture;
        QuickSendCoordinator coordinator(fixture.makePaired());
        coordinator.showPanel();
        QuickSendPanel *panel = coordinator.panel();
        // The window system's own word on the application comes first.
        panel->activateWindow();
        QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationActive);
        bool buttonHeld = held;
        panel->isPointerButtonHeld = [&buttonHeld] { return buttonHeld; };

        emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(panel->isVisible(), held);
        if (drops) {
            QMimeData file;
            file.setUrls(files.urls({"a.txt"}));
            auto *zone = panel->findChild<QWidget *>(QStringLiteral("quickSendDropZone"));
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(zone, &enter);
            QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(zone, &drop);
            QVERIFY(drop.isAccepted());
        }
        if (comesBack) {
            emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        }
        buttonHeld = false;
        auto *watch = panel->findChild<QTimer *>(QStringLiteral("quickSendHeldButtonWatch"));
        QTRY_VERIFY(!watch->isActive());
        QCOMPARE(panel->isVisible(), stays);
    }

    void closingOnlyHidesThePanel()
    {
        StoreFixture fixture;
        QuickSendCoordinator coordinator(fixture.make());
        coordinator.showPanel();
        QuickSendPanel *panel = coordinator.panel();
        QTest::keyClick(panel, Qt::Key_Escape);
        QVERIFY(!panel->isVisible());
        coordinator.showPanel();
        QCOMPARE(coordinator.panel(), panel);
        panel->findChild<QToolButton *>(QStringLiteral("quickSendClose"))->click();
        QVERIFY(!panel->isVisible());
    }

    // The panel floats above other windows; its chooser belongs to it, so the desktop keeps it above the panel.
    void theChooserStandsOverThePanel()
    {
        StoreFixture fixture;
        QuickSendCoordinator coordinator(fixture.make());
        coordinator.showPanel();
        QPointer<QDialog> chooser = coordinator.chooseFiles();
        QVERIFY(chooser && chooser->isVisible());
        QCOMPARE(chooser->windowHandle()->transientParent(), coordinator.panel()->windowHandle());
        chooser->reject();
        QTRY_VERIFY(!chooser);
    }
};

QTEST_MAIN(TestQuickSend)
#include "test_quick_send.moc"
