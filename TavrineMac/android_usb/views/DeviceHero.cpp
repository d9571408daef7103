#include "DeviceHero.h"

#include "CardStyle.h"
#include "DeviceDashboardPresentation.h"
#include "ElidedLabel.h"
#include "PlainLabel.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

constexpr qreal heroRadius = 20;
constexpr qreal tileRadius = 18;
constexpr int phoneSymbolPixels = 44;

// The phone's symbol on the control background, outlined.
class DeviceTile : public QWidget
{
public:
    explicit DeviceTile(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("deviceTile"));
        setFixedSize(68, 80);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        CardStyle::paintPanel(this, tileRadius, CardStyle::controlBackground(this),
                              CardStyle::withOpacity(CardStyle::separator(this), 0.4));
        QPainter painter(this);
        painter.drawPixmap((width() - phoneSymbolPixels) / 2, (height() - phoneSymbolPixels) / 2,
                           SymbolIcon::pixmap(Symbol::smartphone, palette().color(QPalette::WindowText),
                                              phoneSymbolPixels, devicePixelRatioF()));
    }
};

} // namespace

// A filled circle of the status colour: green for a phone that takes commands, orange otherwise.
class DeviceHero::StatusDot : public QWidget
{
public:
    explicit StatusDot(QWidget *parent) : QWidget(parent) { setFixedSize(8, 8); }

    DeviceDashboardPresentation::Tint tint = DeviceDashboardPresentation::Tint::green;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(DeviceDashboardPresentation::color(tint));
        painter.drawEllipse(QRectF(rect()));
    }
};

namespace {

// Green text on a faint green capsule.
class Badge : public PlainLabel
{
public:
    Badge(const QString &text, QWidget *parent) : PlainLabel(text, parent)
    {
        setObjectName(QStringLiteral("secureBadge"));
        setFont(ViewFonts::caption(QFont::DemiBold));
        setContentsMargins(12, 7, 12, 7);
        CardStyle::setTextColor(this, DeviceDashboardPresentation::color(DeviceDashboardPresentation::Tint::green));
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        CardStyle::paintPanel(
            this, height() / 2.0,
            CardStyle::withOpacity(DeviceDashboardPresentation::color(DeviceDashboardPresentation::Tint::green), 0.09));
        QLabel::paintEvent(event);
    }
};

} // namespace

DeviceHero::DeviceHero(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("deviceHero"));

    auto *tile = new DeviceTile(this);

    m_nameLabel = new ElidedLabel(Qt::ElideRight, this);
    m_nameLabel->setObjectName(QStringLiteral("deviceNameLabel"));
    m_nameLabel->setFont(ViewFonts::title());

    m_dot = new StatusDot(this);
    m_statusLabel = new PlainLabel(QStringLiteral("已连接"), this);
    m_statusLabel->setObjectName(QStringLiteral("connectionStatusLabel"));
    m_separatorLabel = new PlainLabel(QStringLiteral("·"), this);
    m_versionLabel = new PlainLabel(this);
    m_versionLabel->setObjectName(QStringLiteral("androidVersionLabel"));
    auto *status = new QHBoxLayout;
    status->setSpacing(10);
    status->addWidget(m_dot, 0, Qt::AlignVCenter);
    for (QLabel *label : {m_statusLabel, m_separatorLabel, m_versionLabel}) {
        label->setFont(ViewFonts::body());
        CardStyle::setSecondary(label);
        status->addWidget(label, 0, Qt::AlignVCenter);
    }
    status->addStretch(1);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(7);
    texts->addWidget(m_nameLabel);
    texts->addLayout(status);

    m_badge = new Badge(QStringLiteral("安全连接"), this);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(20);
    layout->addWidget(tile, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);
    layout->addWidget(m_badge, 0, Qt::AlignVCenter);
}

void DeviceHero::setDevice(const AndroidDevice &device)
{
    m_nameLabel->setText(device.displayName());
    // Only a phone that takes commands is connected, and securely: any other says its state instead.
    const bool connected = device.state == AndroidDevice::State::authorized;
    m_statusLabel->setText(connected ? QStringLiteral("已连接")
                                     : DeviceDashboardPresentation::deviceStateText(device.state));
    m_dot->tint = connected ? DeviceDashboardPresentation::Tint::green : DeviceDashboardPresentation::Tint::orange;
    m_dot->update();
    m_badge->setVisible(connected);
    const std::optional<QString> version = device.androidVersionLabel();
    m_versionLabel->setText(version.value_or(QString()));
    m_separatorLabel->setVisible(version.has_value());
    m_versionLabel->setVisible(version.has_value());
}

void DeviceHero::paintEvent(QPaintEvent *)
{
    CardStyle::paintPanel(this, heroRadius, CardStyle::windowBackground(this),
                          CardStyle::withOpacity(CardStyle::separator(this), 0.45));
}
