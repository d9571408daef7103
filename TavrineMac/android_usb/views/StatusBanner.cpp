#include "StatusBanner.h"

#include "CardStyle.h"
#include "PlainLabel.h"
#include "SpinningIndicator.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

using namespace DeviceDashboardPresentation;

namespace {

constexpr qreal bannerRadius = 16;
constexpr int spinnerPixels = 16;

} // namespace

StatusBanner::StatusBanner(QWidget *parent) : QWidget(parent)
{
    m_spinner = new SpinningIndicator(spinnerPixels, this);
    m_symbolLabel = new PlainLabel(this);
    m_symbolLabel->setFixedSize(CardStyle::title3SymbolPixels, CardStyle::title3SymbolPixels);

    m_titleLabel = new PlainLabel(this);
    m_titleLabel->setFont(ViewFonts::body(QFont::DemiBold));
    m_textLabel = new PlainLabel(this);
    m_textLabel->setWordWrap(true);
    m_textLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    CardStyle::setSecondary(m_textLabel);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(m_titleLabel);
    texts->addWidget(m_textLabel);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(14);
    layout->addWidget(m_spinner, 0, Qt::AlignVCenter);
    layout->addWidget(m_symbolLabel, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);

    setStyle(std::nullopt);
}

void StatusBanner::setStyle(const std::optional<BannerStyle> &style)
{
    setVisible(style.has_value());
    if (!style) {
        return;
    }
    m_tint = color(style->tint);
    m_spinner->setVisible(!style->symbol);
    m_spinner->setColor(m_tint);
    m_symbolLabel->setVisible(style->symbol.has_value());
    if (style->symbol) {
        CardStyle::setSymbol(m_symbolLabel, *style->symbol, m_tint, CardStyle::title3SymbolPixels);
    }
    m_titleLabel->setText(style->title);
    m_textLabel->setText(style->text);
    update();
}

void StatusBanner::paintEvent(QPaintEvent *)
{
    CardStyle::paintPanel(this, bannerRadius, CardStyle::withOpacity(m_tint, 0.09));
}
