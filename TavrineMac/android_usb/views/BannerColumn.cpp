#include "BannerColumn.h"

#include <QEvent>
#include <QVBoxLayout>

#include <algorithm>

BannerColumn::BannerColumn(const QMargins &margins, int spacing, QWidget *parent) : QWidget(parent)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(margins);
    m_layout->setSpacing(spacing);
    hide();
}

void BannerColumn::addBanner(QWidget *banner)
{
    m_layout->addWidget(banner);
    m_banners.append(banner);
    banner->installEventFilter(this);
    followBanners();
}

bool BannerColumn::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) {
        followBanners();
    }
    return QWidget::eventFilter(watched, event);
}

void BannerColumn::followBanners()
{
    setVisible(
        std::ranges::any_of(m_banners, [](const QPointer<QWidget> &banner) { return banner && !banner->isHidden(); }));
}
