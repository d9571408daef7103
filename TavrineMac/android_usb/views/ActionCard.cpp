#include "ActionCard.h"

#include "CardStyle.h"
#include "PlainLabel.h"
#include "ViewFonts.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QVBoxLayout>

namespace {

constexpr int iconTileSize = 44;
constexpr qreal iconTileRadius = 13;
constexpr qreal cardRadius = 20;

// The card's symbol centred on its tint, faint.
class IconTile : public QWidget
{
public:
    IconTile(Symbol symbol, const QColor &tint, QWidget *parent) : QWidget(parent), m_symbol(symbol), m_tint(tint)
    {
        setObjectName(QStringLiteral("iconTile"));
        setFixedSize(iconTileSize, iconTileSize);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        CardStyle::paintPanel(this, iconTileRadius, CardStyle::withOpacity(m_tint, 0.12));
        QPainter painter(this);
        const int pixels = CardStyle::title2SymbolPixels;
        painter.drawPixmap((width() - pixels) / 2, (height() - pixels) / 2,
                           SymbolIcon::pixmap(m_symbol, m_tint, pixels, devicePixelRatioF()));
    }

private:
    Symbol m_symbol;
    QColor m_tint;
};

} // namespace

ActionCard::ActionCard(const DeviceDashboardPresentation::ActionCardStyle &style, QWidget *parent)
    : QWidget(parent), m_icon(style.icon)
{
    setMinimumHeight(minimumCardHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    auto *tile = new IconTile(style.icon, DeviceDashboardPresentation::color(style.tint), this);

    m_titleLabel = new PlainLabel(style.title, this);
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    m_titleLabel->setFont(ViewFonts::title3());

    m_subtitleLabel = new PlainLabel(this);
    m_subtitleLabel->setObjectName(QStringLiteral("subtitleLabel"));
    m_subtitleLabel->setWordWrap(true);
    CardStyle::setSecondary(m_subtitleLabel);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(5);
    titles->addWidget(m_titleLabel);
    titles->addWidget(m_subtitleLabel);

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(20, 20, 20, 20);
    m_layout->setSpacing(14);
    m_layout->addWidget(tile);
    m_layout->addLayout(titles);
    // Keeps the controls at the bottom of a card made taller by its neighbours.
    m_layout->addSpacerItem(new QSpacerItem(0, 2, QSizePolicy::Minimum, QSizePolicy::Expanding));

    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, qRound(0.045 * 255)));
    shadow->setBlurRadius(12);
    shadow->setOffset(0, 5);
    setGraphicsEffect(shadow);
}

QString ActionCard::title() const
{
    return m_titleLabel->text();
}

QString ActionCard::subtitle() const
{
    return m_subtitleLabel->text();
}

void ActionCard::setSubtitle(const QString &subtitle)
{
    m_subtitleLabel->setText(subtitle);
}

void ActionCard::setControls(QLayout *controls)
{
    m_layout->addLayout(controls);
}

void ActionCard::paintEvent(QPaintEvent *)
{
    CardStyle::paintPanel(this, cardRadius, CardStyle::windowBackground(this));
}
