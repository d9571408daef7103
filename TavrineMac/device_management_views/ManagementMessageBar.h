#pragma once

#include "SymbolIcon.h"

#include <QFont>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QToolButton;

// The strip under the content of the dashboard's section with the management store's current error (red,
// warning triangle) or success note (green, check mark), at most two lines, and a close button that calls
// `dismiss`. It calls no store.
class ManagementMessageBar : public QWidget
{
    Q_OBJECT

public:
    static constexpr int maximumLineCount = 2;

    struct Content
    {
        QString text;
        bool isError = false;

        bool operator==(const Content &) const = default;
    };

    // What the dashboard shows: the error when one is set, else the message, else no bar.
    static std::optional<Content> contentFor(const std::optional<QString> &errorMessage,
                                             const std::optional<QString> &message);
    static Symbol symbol(bool isError);
    static QColor tint(bool isError);
    // `text` cut to `maximumLines` lines of `width` pixels in `font`, the last kept line ending in an ellipsis
    // when text was cut; lines are joined by "\n".
    static QString elidedLines(const QString &text, const QFont &font, int width, int maximumLines);

    ManagementMessageBar(const QString &text, bool isError, std::function<void()> dismiss, QWidget *parent = nullptr);

    void setMessage(const QString &text, bool isError);
    void setDismiss(std::function<void()> dismiss) { m_dismiss = std::move(dismiss); }

    QString text() const { return m_text; }
    bool isError() const { return m_isError; }
    QLabel *symbolLabel() const { return m_symbolLabel; }
    QLabel *textLabel() const { return m_textLabel; }
    QToolButton *closeButton() const { return m_closeButton; }

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateShownText();
    // As high as the longest message it shows, whatever it shows now: a new message never moves what lies around it.
    void keepHeightOfLongestMessage();

    QString m_text;
    bool m_isError = false;
    std::function<void()> m_dismiss;
    QLabel *m_symbolLabel = nullptr;
    QLabel *m_textLabel = nullptr;
    QToolButton *m_closeButton = nullptr;
};
