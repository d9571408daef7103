#pragma once

#include "PlainLabel.h"

// A one-line label that shortens its text with an ellipsis when it is narrower than the text, instead
// of growing the window. The full text stays available through text() and the tooltip, both as it stands.
class ElidedLabel : public PlainLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideRight, QWidget *parent = nullptr);

    void setText(const QString &text);
    // As tall as the text as laid out, the fallback fonts that draw some of its characters included.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int lineHeight() const;

    Qt::TextElideMode m_mode;
};
