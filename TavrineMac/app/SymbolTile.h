#pragma once

#include "SymbolIcon.h"

#include <QColor>
#include <QPixmap>
#include <QWidget>

#include <optional>

// A fixed square (or circle) filled with a colour, a symbol drawn centred on it. Symbols are given by their
// system name; a name the symbol table does not draw falls back to `fallback`.
class SymbolTile : public QWidget
{
    Q_OBJECT

public:
    struct Style
    {
        QString symbolName;
        Symbol fallback = Symbol::circle;
        QColor symbolColor;
        int symbolPixels = 16;
        QColor fill;
        int side = 30;
        qreal cornerRadius = 0; // a circle when negative
    };

    explicit SymbolTile(Style style, QWidget *parent = nullptr);

    const Style &style() const { return m_style; }
    // The symbol drawn: the named one, or the fallback.
    Symbol drawnSymbol() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Style m_style;
    // The tile as last drawn: a repaint of the screen around it draws it again without redrawing its shape.
    QPixmap m_drawn;
};

// A plain panel: its rectangle rounded and filled, outlined 1 pixel wide when an outline is given; a capsule
// when the radius is negative.
class RoundedPanel : public QWidget
{
    Q_OBJECT

public:
    RoundedPanel(const QColor &fill, qreal cornerRadius, std::optional<QColor> outline = std::nullopt,
                 QWidget *parent = nullptr);

    QColor fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    qreal m_cornerRadius;
    std::optional<QColor> m_outline;
};

// A row that centres `widget` and lets it grow up to its maximum width, for a column of centred parts.
QLayout *centredUpToMaximumWidth(QWidget *widget);

// The whole-pane screens' content: a frameless, vertically scrolling area filling `screen`, whose widget is
// returned for the caller to lay out (with `screenMargin` around it). The keyboard scrolls it too, where it is the
// section named `name`.
QWidget *scrolledScreenContent(QWidget *screen, const QString &name);
inline constexpr int screenMargin = 32;

// The symbol of `name` when the symbol table draws it, else `fallback`.
Symbol symbolNamed(const QString &name, Symbol fallback);
