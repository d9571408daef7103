#pragma once

#include <QColor>
#include <QPalette>

// The tints of the transfer views, close to the system colours a user knows from status symbols.
namespace ViewColors {

inline QColor blue()
{
    return QColor(0x0a, 0x84, 0xff);
}
inline QColor green()
{
    return QColor(0x30, 0xb0, 0x50);
}
inline QColor orange()
{
    return QColor(0xff, 0x95, 0x00);
}
inline QColor red()
{
    return QColor(0xff, 0x3b, 0x30);
}
inline QColor secondary()
{
    return QColor(0x8a, 0x8a, 0x8e);
}
inline QColor tertiary()
{
    return QColor(0xae, 0xae, 0xb2);
}

// The tints the presentations name; the views turn them into colours with color().
enum class Tint
{
    primary,
    secondary,
    blue,
    green,
    orange,
    red
};

// Primary follows the text colour of `palette`.
inline QColor color(Tint tint, const QPalette &palette = {})
{
    switch (tint) {
    case Tint::primary:
        return palette.color(QPalette::WindowText);
    case Tint::secondary:
        return secondary();
    case Tint::blue:
        return blue();
    case Tint::green:
        return green();
    case Tint::orange:
        return orange();
    case Tint::red:
        break;
    }
    return red();
}

} // namespace ViewColors
