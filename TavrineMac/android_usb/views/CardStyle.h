#pragma once

#include "SymbolIcon.h"

#include <QColor>

#include <optional>

class QLabel;
class QWidget;

// The drawing habits the USB views share: rounded panels, tinted texts and symbols.
namespace CardStyle {

QColor withOpacity(QColor color, qreal opacity);
// The standard window background and the separator line of the widget's palette.
QColor windowBackground(const QWidget *widget);
QColor controlBackground(const QWidget *widget);
QColor separator(const QWidget *widget);

// Fills the widget's rectangle rounded by `radius` and strokes its outline 1 pixel wide when given.
void paintPanel(QWidget *widget, qreal radius, const QColor &fill, const std::optional<QColor> &outline = {});
// Fills the widget's rectangle with its window background washed with the control background at `opacity`: one
// opaque fill of the colour that the two layers give, which costs a repaint of a whole screen much less.
void paintScreenBackground(QWidget *widget, qreal opacity);

void setTextColor(QWidget *widget, const QColor &color);
void setSecondary(QWidget *widget);

// A label showing `symbol` in `color`, `pixels` wide and high.
QLabel *symbolLabel(Symbol symbol, const QColor &color, int pixels, QWidget *parent);
void setSymbol(QLabel *label, Symbol symbol, const QColor &color, int pixels);

// Symbol sizes that match the text styles they stand beside.
inline constexpr int title2SymbolPixels = 26;
inline constexpr int title3SymbolPixels = 22;

} // namespace CardStyle
