#include "PlainLabel.h"

#include <QEvent>
#include <QTextDocument>

PlainLabel::PlainLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

PlainLabel::PlainLabel(const QString &text, QWidget *parent) : PlainLabel(parent)
{
    setText(text);
}

bool PlainLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTipChange) {
        QString description = toolTip();
        if (Qt::mightBeRichText(description)) {
            QTextDocument document;
            document.setHtml(description);
            description = document.toPlainText();
        }
        setAccessibleDescription(description);
    }
    return QLabel::event(event);
}

QString plainToolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text)) {
        return text;
    }
    // Escaped inside a rich paragraph that keeps its spaces and line breaks, it reads as the text itself.
    return QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>").arg(text.toHtmlEscaped());
}
