#pragma once

#include "GlobalHotKey.h"
#include "QuickSendPanel.h"
#include "QuickSendRules.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <qcorotask.h>

#include <functional>

class QDialog;
class QWidget;
class TransferStore;

// Quick send: files from the desktop (opened with the application, handed over by the session bus's
// SendFiles, or dropped on or chosen in the floating panel) go to the selected phone without the main
// window. Owns the floating panel and the global hot key, readies the transfer store once (again after it
// failed to start), and holds back hand-overs until it is ready. One per process; lives on the GUI thread and
// needs the store to outlive it.
class QuickSendCoordinator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool hotKeyAvailable READ hotKeyAvailable WRITE setHotKeyAvailable NOTIFY hotKeyAvailableChanged)

public:
    // Where a hand-over came from.
    enum class Source
    {
        dock,          // files opened with the application
        finderService, // the SendFiles entry of the session bus
        quickPanel     // the panel's drop zone or file chooser
    };

    struct PendingSend
    {
        QuickSendSelection selection;
        Source source;

        bool operator==(const PendingSend &) const = default;
    };

    explicit QuickSendCoordinator(TransferStore &transferStore, QObject *parent = nullptr);
    ~QuickSendCoordinator() override;

    const QString &message() const { return m_message; }
    bool hotKeyAvailable() const { return m_hotKeyAvailable; }
    void setHotKeyAvailable(bool available);
    TransferStore &transferStore() const { return m_transferStore; }
    GlobalHotKeyRegistrar &hotKeyRegistrar() { return m_hotKeyRegistrar; }
    // The panel, once it has been made.
    QuickSendPanel *panel() const { return m_panel; }
    const QList<PendingSend> &pendingSends() const { return m_pendingSends; }
    bool isTransferStoreReady() const { return m_isTransferStoreReady; }
    bool isBootstrapping() const { return m_isBootstrapping; }
    // Set by the application's start of quick send, cleared by stop().
    bool didStart() const { return m_didStart; }
    void setDidStart(bool started) { m_didStart = started; }
    // Opens a new main window when showMainWindow() finds none.
    void setMainWindowOpener(std::function<void()> opener) { m_mainWindowOpener = std::move(opener); }

    void handle(const QList<QUrl> &urls, Source source);
    void showPanel();
    // Hides the panel and brings a main window (a QMainWindow, preferably one on the screen) forward.
    void showMainWindow();
    // Opens the file chooser without blocking and returns it; confirmed files are handed over from the panel.
    QDialog *chooseFiles();
    void bootstrap();
    void stop();
    QuickSendPanel *preparedPanel();
    // Centres `panel` a little above the middle of the screen under the mouse.
    static void positionPanel(QWidget *panel);
    void send(const QuickSendSelection &selection, Source source);

signals:
    void messageChanged();
    void hotKeyAvailableChanged();

private:
    void setMessage(const QString &message);
    void presentPanel();
    // The store failed to start and runs no host: nothing would go out until it is started up again.
    bool storeFailedToStart() const;
    QCoro::Task<void> runBootstrap(quint64 generation);

    QString m_message = QuickSendRules::readyMessage;
    bool m_hotKeyAvailable = false;
    TransferStore &m_transferStore;
    GlobalHotKeyRegistrar m_hotKeyRegistrar;
    QPointer<QuickSendPanel> m_panel;
    bool m_isBootstrapping = false;
    // Tells a bootstrap that stop() cancelled it when the store answers.
    quint64 m_bootstrapGeneration = 0;
    QList<PendingSend> m_pendingSends;
    bool m_isTransferStoreReady = false;
    bool m_didStart = false;
    std::function<void()> m_mainWindowOpener;
};
