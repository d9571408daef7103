#pragma once

#include <QPointer>
#include <QWidget>

class ElidedLabel;
class QLabel;
class QPushButton;
class QToolButton;
class QuickSendCoordinator;
class QuickSendDropZone;
class TintedProgressBar;
class TransferStore;

// The floating quick-send panel: the current phone and its state, a drop zone with a file chooser, the
// first unfinished transfer (or a note on privacy) and the hot-key hint. A frameless tool window of a
// fixed size that stays above other windows; closing or Escape only hides it. It redraws on every change
// the coordinator or the transfer store publishes.
class QuickSendPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 440;
    static constexpr int panelHeight = 350;

    QuickSendPanel(QuickSendCoordinator *coordinator, TransferStore *transferStore, QWidget *parent = nullptr);

    // Whether files are being dragged over the drop zone.
    bool isTargeted() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void refreshHeader();
    void refreshDropZone();
    void refreshStatusRow();
    void refreshFooter();

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
};
