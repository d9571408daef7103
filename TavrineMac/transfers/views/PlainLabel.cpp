#include "PlainLabel.h"

#include <QTextDocument>

PlainLabel::PlainLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

PlainLabel::PlainLabel(const QString &text, QWidget *parent) : PlainLabel(parent)
{
    setText(text);
}

QString plainToolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text)) {
        return text;
    }
    // Escaped inside a rich paragraph that keeps its spaces and line breaks, it reads as the text itself.
    return QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>").arg(text.toHtmlEscaped());
}
