#pragma once

#include <QWidget>

#include <functional>
#include <optional>

class AdaptiveGridLayout;
class QLabel;
class QPushButton;

// One way of connecting on the first-run screen: an icon tile, a title with an optional badge, a description
// and a full-width button.
class FirstRunMethodCard : public QWidget
{
    Q_OBJECT

public:
    FirstRunMethodCard(const QString &icon, const QString &title, const std::optional<QString> &badge,
                       const QString &detail, const QString &actionTitle, bool isProminent,
                       std::function<void()> action, QWidget *parent = nullptr);

    QPushButton *button() const { return m_button; }
    // None without a badge.
    QLabel *badge() const { return m_badge; }
    bool isProminent() const { return m_isProminent; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPushButton *m_button = nullptr;
    QLabel *m_badge = nullptr;
    bool m_isProminent = false;
};

// The screen of the detail pane while no phone is connected: the invitation to connect by QR code (recommended)
// or USB, and the device store's set-up message when there is one. It reads no store: the main window gives
// the message and the two actions, and builds it anew (or calls setMessage) when the message changes.
class FirstRunConnectionView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int minimumContentHeight = 560;
    static constexpr int maximumGridWidth = 680;

    // `message`: the device store's set-up message (an empty text is shown too); `connect` begins a new pairing
    // and opens the pairing sheet; `refreshUSB` runs the device store's refresh.
    FirstRunConnectionView(std::optional<QString> message, std::function<void()> connect,
                           std::function<void()> refreshUSB, QWidget *parent = nullptr);

    void setMessage(const std::optional<QString> &message);

    FirstRunMethodCard *qrCard() const { return m_qrCard; }
    FirstRunMethodCard *usbCard() const { return m_usbCard; }
    QWidget *cardGrid() const { return m_grid; }
    // The red warning with the message; hidden without one.
    QWidget *messageBanner() const { return m_messageBanner; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    FirstRunMethodCard *m_qrCard = nullptr;
    FirstRunMethodCard *m_usbCard = nullptr;
    QWidget *m_grid = nullptr;
    QWidget *m_messageBanner = nullptr;
    QLabel *m_messageText = nullptr;
};
