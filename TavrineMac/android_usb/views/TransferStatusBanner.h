#pragma once

#include "TransferEvent.h"

#include <QWidget>

#include <functional>
#include <optional>

class ElidedLabel;
class QLabel;
class QPushButton;
class TintedProgressBar;

// The latest transfer event: what happens to which file, its progress or message, and for a file received the
// button that shows it in the receive folder. Nothing without an event of a transfer.
class TransferStatusBanner : public QWidget
{
    Q_OBJECT

public:
    explicit TransferStatusBanner(std::function<void()> revealInbox, QWidget *parent = nullptr);

    void setEvent(const std::optional<TransferEvent> &event);

    QLabel *symbolLabel() const { return m_symbolLabel; }
    TintedProgressBar *progressBar() const { return m_progressBar; }
    QPushButton *revealButton() const { return m_revealButton; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::function<void()> m_revealInbox;
    QColor m_tint;
    QLabel *m_symbolLabel = nullptr;
    QLabel *m_titleLabel = nullptr;
    ElidedLabel *m_fileNameLabel = nullptr;
    TintedProgressBar *m_progressBar = nullptr;
    QLabel *m_messageLabel = nullptr;
    QPushButton *m_revealButton = nullptr;
};
