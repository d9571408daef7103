#include "AppOperationBanner.h"

#include "CardStyle.h"
#include "PlainLabel.h"
#include "SpinningIndicator.h"
#include "ViewColors.h"

#include <QHBoxLayout>

namespace {

constexpr qreal bannerRadius = 12;
constexpr int symbolPixels = 16;

} // namespace

AppOperationBanner::AppOperationBanner(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("appOperationBanner"));
    m_spinner = new SpinningIndicator(symbolPixels, this);
    m_symbolLabel = new PlainLabel(this);
    m_symbolLabel->setFixedSize(symbolPixels, symbolPixels);
    m_textLabel = new PlainLabel(this);
    m_textLabel->setWordWrap(true);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(m_spinner, 0, Qt::AlignVCenter);
    layout->addWidget(m_symbolLabel, 0, Qt::AlignVCenter);
    layout->addWidget(m_textLabel, 1);

    setState(DeviceStore::AppOperationState::idle());
}

void AppOperationBanner::setState(const DeviceStore::AppOperationState &state)
{
    using Kind = DeviceStore::AppOperationState::Kind;
    m_state = state;
    setVisible(state.kind != Kind::idle);
    if (state.kind == Kind::idle) {
        return;
    }
    const bool running = state.kind == Kind::running;
    m_tint = running ? ViewColors::blue() : state.kind == Kind::succeeded ? ViewColors::green() : ViewColors::orange();
    m_spinner->setVisible(running);
    m_spinner->setColor(m_tint);
    m_symbolLabel->setVisible(!running);
    if (!running) {
        const Symbol symbol =
            state.kind == Kind::succeeded ? Symbol::checkmarkCircleFill : Symbol::exclamationmarkTriangleFill;
        CardStyle::setSymbol(m_symbolLabel, symbol, m_tint, symbolPixels);
    }
    // The outcome takes the state's colour; a running message keeps the ordinary text colour.
    if (running) {
        m_textLabel->setPalette(QPalette());
    } else {
        CardStyle::setTextColor(m_textLabel, m_tint);
    }
    m_textLabel->setText(state.text);
    update();
}

void AppOperationBanner::paintEvent(QPaintEvent *)
{
    CardStyle::paintPanel(this, bannerRadius, CardStyle::withOpacity(m_tint, 0.08));
}
