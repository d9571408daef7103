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
    // Says, under the event, why pressing the reveal button showed nothing; until the next event.
    void showRevealProblem(const QString &text);

    QLabel *symbolLabel() const { return m_symbolLabel; }
    TintedProgressBar *progressBar() const { return m_progressBar; }
    QPushButton *revealButton() const { return m_revealButton; }
    QLabel *revealProblemLabel() const { return m_revealProblemLabel; }

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
    QLabel *m_revealProblemLabel = nullptr;
    QPushButton *m_revealButton = nullptr;
    std::optional<TransferEvent> m_event;
};
