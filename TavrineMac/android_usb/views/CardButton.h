#pragma once

#include "FlatButton.h"

#include <QColor>

// A button of the USB cards: prominent (filled with its tint), bordered, or borderless (its title in the tint, flat,
// with the focus mark while the keyboard is on it), in the regular or the large control size. Its title keeps some
// room to both sides under every widget style.
class CardButton : public FlatButton
{
    Q_OBJECT

public:
    enum class Kind
    {
        prominent,
        bordered,
        borderless
    };

    enum class Size
    {
        regular,
        large
    };

    CardButton(Kind kind, Size size, const QColor &tint, const QString &title = {}, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    Kind m_kind;
    Size m_size;
};
