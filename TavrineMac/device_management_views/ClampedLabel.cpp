#include "ClampedLabel.h"

#include "ManagementMessageBar.h"

#include <QEvent>

ClampedLabel::ClampedLabel(int maximumLines, QWidget *parent) : PlainLabel(parent), m_maximumLines(maximumLines)
{
    // The label takes the width it is given and is as tall as the lines it shows.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ClampedLabel::setText(const QString &text)
{
    if (text == m_fullText) {
        return;
    }
    m_fullText = text;
    setToolTip(plainToolTip(text));
    setAccessibleName(text);
    showLines();
}

void ClampedLabel::resizeEvent(QResizeEvent *event)
{
    PlainLabel::resizeEvent(event);
    showLines();
}

void ClampedLabel::changeEvent(QEvent *event)
{
    PlainLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        showLines();
    }
}

void ClampedLabel::showLines()
{
    const QString shown = ManagementMessageBar::elidedLines(m_fullText, font(), contentsRect().width(), m_maximumLines);
    if (shown != text()) {
        QLabel::setText(shown);
    }
}
