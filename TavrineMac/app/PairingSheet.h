#pragma once

#include <QDialog>
#include <QPointer>

#include <functional>

class DeviceStore;
class PairingQRCodeView;
class QLabel;
class QPushButton;
class QStackedWidget;
class TransferStore;

// The window-modal sheet in which the computer pairs with a new phone: the pairing QR code, the confirmation
// code both sides show, the USB-assisted set-up's status and the footer. It starts a new pairing each time it
// is shown (a pairing already under way is kept) and redraws whenever either store publishes. It keeps no state
// of its own.
class PairingSheet : public QDialog
{
    Q_OBJECT

public:
    static constexpr int sheetWidth = 620;
    static constexpr int sheetHeight = 600;
    static constexpr int codeSide = 300;

    // `continueAction`: the main window's "选择文件" (hides the sheet and, once connected, opens the send
    // importer). The parent is the main window; show the sheet with open().
    PairingSheet(TransferStore *store, DeviceStore *deviceStore, std::function<void()> continueAction,
                 QWidget *parent = nullptr);

    // "取消" and Escape: closes the sheet. Closing it before a pairing completed withdraws the code it showed: the
    // pairing host stops (showing the sheet again starts a fresh one, with a new code) and the selected trusted
    // phone, if any, gets its link back.
    void cancel();
    // "重新尝试": a fresh pairing host under a new pending device id, whatever the phase.
    void retryPairing();

    PairingQRCodeView *codeView() const { return m_codeView; }
    QPushButton *footerButton() const { return m_footerButton; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void render();
    void endUnfinishedPairing();

    QPointer<TransferStore> m_store;
    QPointer<DeviceStore> m_deviceStore;
    std::function<void()> m_continueAction;

    QLabel *m_title = nullptr;
    QLabel *m_subtitle = nullptr;
    QStackedWidget *m_codeArea = nullptr;
    QWidget *m_codeCard = nullptr;
    PairingQRCodeView *m_codeView = nullptr;
    QWidget *m_failure = nullptr;
    QLabel *m_failureMessage = nullptr;
    QWidget *m_preparing = nullptr;
    QWidget *m_confirmation = nullptr;
    QLabel *m_code = nullptr;
    QWidget *m_companionStatus = nullptr;
    QWidget *m_companionSpinner = nullptr;
    QLabel *m_companionSymbol = nullptr;
    QLabel *m_companionText = nullptr;
    QPushButton *m_footerButton = nullptr;
};
