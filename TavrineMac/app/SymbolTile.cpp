#include "SymbolTile.h"

#include "CardStyle.h"
#include "SectionScrollArea.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>

Symbol symbolNamed(const QString &name, Symbol fallback)
{
    if (const std::optional<Symbol> symbol = SymbolIcon::named(name))
        return *symbol;
    return fallback;
}

SymbolTile::SymbolTile(Style style, QWidget *parent) : QWidget(parent), m_style(std::move(style))
{
    setFixedSize(m_style.side, m_style.side);
}

Symbol SymbolTile::drawnSymbol() const
{
    return symbolNamed(m_style.symbolName, m_style.fallback);
}

void SymbolTile::paintEvent(QPaintEvent *)
{
    const qreal ratio = devicePixelRatioF();
    if (m_drawn.isNull() || m_drawn.size() != size() * ratio || m_drawn.devicePixelRatio() != ratio) {
        m_drawn = QPixmap(size() * ratio);
        m_drawn.setDevicePixelRatio(ratio);
        m_drawn.fill(Qt::transparent);
        QPainter painter(&m_drawn);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        if (m_style.cornerRadius < 0)
            shape.addEllipse(QRectF(rect()));
        else
            shape.addRoundedRect(QRectF(rect()), m_style.cornerRadius, m_style.cornerRadius);
        painter.fillPath(shape, m_style.fill);
        const QPixmap symbol = SymbolIcon::pixmap(drawnSymbol(), m_style.symbolColor, m_style.symbolPixels, ratio);
        const QSizeF symbolSize = QSizeF(symbol.size()) / symbol.devicePixelRatio();
        painter.drawPixmap(QPointF((width() - symbolSize.width()) / 2, (height() - symbolSize.height()) / 2), symbol);
    }
    QPainter(this).drawPixmap(0, 0, m_drawn);
}

RoundedPanel::RoundedPanel(const QColor &fill, qreal cornerRadius, std::optional<QColor> outline, QWidget *parent)
    : QWidget(parent), m_fill(fill), m_cornerRadius(cornerRadius), m_outline(std::move(outline))
{
}

void RoundedPanel::paintEvent(QPaintEvent *)
{
    CardStyle::paintPanel(this, m_cornerRadius < 0 ? height() / 2.0 : m_cornerRadius, m_fill, m_outline);
}

QLayout *centredUpToMaximumWidth(QWidget *widget)
{
    // Only the widget stretches; the margins get what lies past its maximum width.
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addStretch(0);
    row->addWidget(widget, 1);
    row->addStretch(0);
    return row;
}

QWidget *scrolledScreenContent(QWidget *screen, const QString &name)
{
    auto *scrollArea = new SectionScrollArea(name, screen);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setWidgetResizable(true);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->viewport()->setAutoFillBackground(false);
    auto *outer = new QVBoxLayout(screen);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scrollArea);

    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    scrollArea->setWidget(content);
    return content;
}
