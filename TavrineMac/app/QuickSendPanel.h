#pragma once

#include "X11Desktop.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class ElidedLabel;
class QLabel;
class QPushButton;
class QTimer;
class QToolButton;
class QuickSendCoordinator;
class QuickSendDropZone;
class TintedProgressBar;
class TransferStore;

// The floating quick-send panel: the current phone and its state, a drop zone with a file chooser, the
// first unfinished transfer (or a note on privacy) and the hot-key hint. A frameless tool window of a
// fixed size that stays above other windows; closing or Escape only hides it, and so does turning to another
// application, except while the press that turned there may still drag files onto it. It redraws on every
// change the coordinator or the transfer store publishes.
class QuickSendPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 440;
    static constexpr int panelHeight = 350;

    QuickSendPanel(QuickSendCoordinator *coordinator, TransferStore *transferStore, QWidget *parent = nullptr);

    // Whether files are being dragged over the drop zone.
    bool isTargeted() const;

    // Whether a mouse button is held anywhere on the desktop, looked at every 100 ms while the application is
    // inactive and the panel waits for a drop; replaceable for tests.
    std::function<bool()> isPointerButtonHeld = isPointerButtonHeldOnDesktop;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void refreshHeader();
    void refreshDropZone();
    void refreshStatusRow();
    void refreshFooter();
    void applicationStateChanged(Qt::ApplicationState state);
    void followHeldButton();

    QPointer<QuickSendCoordinator> m_coordinator;
    QPointer<TransferStore> m_transferStore;

    ElidedLabel *m_statusLabel = nullptr;
    QToolButton *m_closeButton = nullptr;
    QuickSendDropZone *m_dropZone = nullptr;
    QWidget *m_taskRow = nullptr;
    QLabel *m_taskIcon = nullptr;
    ElidedLabel *m_taskNameLabel = nullptr;
    QLabel *m_taskMessageLabel = nullptr;
    TintedProgressBar *m_taskProgress = nullptr;
    QWidget *m_privacyRow = nullptr;
    QLabel *m_hotKeyHint = nullptr;
    QPushButton *m_openMainWindowButton = nullptr;
    QTimer *m_heldButtonWatch = nullptr;
    bool m_isApplicationActive = true;
    bool m_droppedWhileInactive = false;
};
