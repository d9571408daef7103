#include "ElidedLabel.h"

#include "PaintedTextLine.h"

#include <QPainter>
#include <QStyle>
#include <QtMath>

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget *parent) : PlainLabel(parent), m_mode(mode)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString &text)
{
    if (text == QLabel::text()) {
        return;
    }
    QLabel::setText(text);
    setToolTip(plainToolTip(text));
}

QSize ElidedLabel::sizeHint() const
{
    const QSize hint = QLabel::sizeHint();
    return QSize(hint.width(), std::max(hint.height(), lineHeight()));
}

QSize ElidedLabel::minimumSizeHint() const
{
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("…")) * 3,
                 std::max(QLabel::minimumSizeHint().height(), lineHeight()));
}

int ElidedLabel::lineHeight() const
{
    // The smoothed edge of what reaches down to the line's bottom, such as an underscore, takes a pixel more.
    const QMargins margins = contentsMargins();
    return qCeil(PaintedTextLine::height(font(), text())) + 1 + margins.top() + margins.bottom() + 2 * margin();
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), m_mode, area.width());
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    PaintedTextLine::draw(painter, area, alignment(), shown);
}
