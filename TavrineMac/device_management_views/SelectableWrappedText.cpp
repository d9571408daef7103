#include "SelectableWrappedText.h"

#include <QAbstractTextDocumentLayout>
#include <QtMath>

SelectableWrappedText::SelectableWrappedText(QWidget *parent) : QTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    // As a selectable label: focused by a click, so that the selection can be copied, and left out of the Tab chain.
    setFocusPolicy(Qt::ClickFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &SelectableWrappedText::fitHeight);
    fitHeight();
}

void SelectableWrappedText::setText(const QString &text)
{
    if (text != toPlainText()) {
        setPlainText(text);
    }
}

void SelectableWrappedText::fitHeight()
{
    const int height = qCeil(document()->size().height()) + 2 * frameWidth();
    if (height != this->height() || minimumHeight() != height) {
        setFixedHeight(height);
    }
}
