#include "QuickSendCoordinator.h"

#include "NativeOpenPanel.h"
#include "QuickSendPanel.h"
#include "TransferStore.h"

#include <QApplication>
#include <QCursor>
#include <QMainWindow>
#include <QScreen>

QuickSendCoordinator::QuickSendCoordinator(TransferStore &transferStore, QObject *parent)
    : QObject(parent), m_transferStore(transferStore)
{}

QuickSendCoordinator::~QuickSendCoordinator()
{
    delete m_panel;
}

void QuickSendCoordinator::setHotKeyAvailable(bool available)
{
    if (m_hotKeyAvailable != available) {
        m_hotKeyAvailable = available;
        emit hotKeyAvailableChanged();
    }
}

void QuickSendCoordinator::setMessage(const QString &message)
{
    if (m_message != message) {
        m_message = message;
        emit messageChanged();
    }
}

void QuickSendCoordinator::handle(const QList<QUrl> &urls, Source source)
{
    const QuickSendSelection selection = QuickSendSelection::fromURLs(urls);
    if (selection.files.isEmpty()) {
        setMessage(QuickSendRules::emptySelectionMessage(selection.rejectedCount));
        presentPanel();
        return;
    }
    if (m_isTransferStoreReady && storeFailedToStart()) {
        m_isTransferStoreReady = false; // the next bootstrap starts the store up again
    }
    if (m_isTransferStoreReady) {
        send(selection, source);
        return;
    }
    m_pendingSends.append({selection, source});
    setMessage(QuickSendRules::preparingMessage);
    presentPanel();
    bootstrap();
}

void QuickSendCoordinator::send(const QuickSendSelection &selection, Source source)
{
    if (!m_transferStore.selectedTrustedDeviceID() && !m_transferStore.isKeepingTrust()) {
        // Nothing is kept for later: the user first adds a phone in the main window. A phone that has just paired,
        // whose trust is on its way to the keychain, takes the files once it is kept.
        setMessage(QuickSendRules::noTrustedPhoneMessage);
        presentPanel();
        return;
    }
    // Also when the store could not start: the files wait as tasks until the phone is back. A file gone since it was
    // chosen is not counted as sent.
    const qsizetype taken = m_transferStore.sendFiles(selection.filePaths());
    const int skipped = selection.rejectedCount + int(selection.files.size() - taken);
    setMessage(taken > 0 ? QuickSendRules::handOverMessage(m_transferStore.phase().kind, int(taken), skipped)
                         : m_transferStore.sendRefusal().value_or(QuickSendRules::emptySelectionMessage(skipped)));
    if (source != Source::quickPanel) {
        presentPanel();
    }
}

bool QuickSendCoordinator::storeFailedToStart() const
{
    return m_transferStore.phase().kind == TransferStore::Phase::Kind::failed && !m_transferStore.hasHost();
}

void QuickSendCoordinator::bootstrap()
{
    if (m_isTransferStoreReady || m_isBootstrapping) {
        return;
    }
    m_isBootstrapping = true;
    runBootstrap(++m_bootstrapGeneration);
}

QCoro::Task<void> QuickSendCoordinator::runBootstrap(quint64 generation)
{
    const QPointer<QuickSendCoordinator> self(this);
    TransferStore &store = m_transferStore;
    co_await store.startUp();
    if (!self || m_bootstrapGeneration != generation || !m_isBootstrapping) {
        co_return;
    }
    // A failed start leaves the store unready, so the next hand-over tries again.
    m_isTransferStoreReady = !storeFailedToStart();
    m_isBootstrapping = false;
    // Each send sets the message, so the last hand-over's outcome stays visible.
    const QList<PendingSend> pending = std::exchange(m_pendingSends, {});
    for (const PendingSend &waiting : pending) {
        send(waiting.selection, waiting.source);
        if (!self) {
            co_return;
        }
    }
}

void QuickSendCoordinator::stop()
{
    m_hotKeyRegistrar.unregister();
    setHotKeyAvailable(false);
    if (m_isBootstrapping) {
        m_isBootstrapping = false;
        ++m_bootstrapGeneration;
    }
    m_pendingSends.clear();
    if (m_panel) {
        m_panel->hide();
    }
    m_didStart = false;
}

void QuickSendCoordinator::showPanel()
{
    presentPanel();
}

void QuickSendCoordinator::presentPanel()
{
    QuickSendPanel *panel = preparedPanel();
    // A panel on the screen keeps its place.
    if (!panel->isVisible()) {
        positionPanel(panel);
    }
    panel->show();
    panel->raise();
    panel->activateWindow();
}

QuickSendPanel *QuickSendCoordinator::preparedPanel()
{
    if (!m_panel) {
        m_panel = new QuickSendPanel(this, &m_transferStore);
    }
    return m_panel;
}

void QuickSendCoordinator::positionPanel(QWidget *panel)
{
    const QPoint mouse = QCursor::pos();
    QScreen *screen = QGuiApplication::screenAt(mouse);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (!screen) {
        return; // no screen to place it on: the window system decides
    }
    panel->move(QuickSendRules::panelOrigin(screen->availableGeometry(), panel->size()));
}

void QuickSendCoordinator::showMainWindow()
{
    if (m_panel) {
        m_panel->hide();
    }
    // A main window on the screen comes first, else one that was closed and kept.
    QMainWindow *mainWindow = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        auto *candidate = qobject_cast<QMainWindow *>(window);
        if (candidate && (!mainWindow || (candidate->isVisible() && !mainWindow->isVisible()))) {
            mainWindow = candidate;
        }
    }
    if (!mainWindow) {
        if (m_mainWindowOpener) {
            m_mainWindowOpener();
        }
        return;
    }
    if (mainWindow->isMinimized()) {
        mainWindow->showNormal();
    }
    mainWindow->show();
    mainWindow->raise();
    mainWindow->activateWindow();
}

QDialog *QuickSendCoordinator::chooseFiles()
{
    // Over the panel, which floats above other windows: a chooser of its own would open beneath it.
    auto *chooser = new NativeOpenPanel({QStringLiteral("发送到手机"), QString(), QStringLiteral("发送"), true, false},
                                        m_panel.data());
    const QPointer<QuickSendCoordinator> self(this);
    connect(chooser, &QDialog::finished, chooser, [self, chooser](int result) {
        const QList<QUrl> urls = chooser->selectedUrls();
        chooser->deleteLater();
        if (result == QDialog::Accepted && self) {
            self->handle(urls, Source::quickPanel);
        }
    });
    chooser->show();
    return chooser;
}
