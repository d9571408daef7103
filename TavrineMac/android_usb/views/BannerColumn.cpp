#include "BannerColumn.h"

#include <QEvent>
#include <QVBoxLayout>

#include <algorithm>

BannerColumn::BannerColumn(const QMargins &margins, int spacing, QWidget *parent, Arrival arrival)
    : QWidget(parent), m_arrival(arrival)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(margins);
    m_layout->setSpacing(spacing);
    hide();
}

void BannerColumn::addBanner(QWidget *banner)
{
    // A widget given another parent is hidden: one shown or hidden on purpose comes back as it was.
    const bool setOnPurpose = banner->testAttribute(Qt::WA_WState_ExplicitShowHide);
    const bool shown = !banner->isHidden();
    m_layout->addWidget(banner);
    if (setOnPurpose) {
        banner->setVisible(shown);
    }
    m_banners.append(banner);
    banner->installEventFilter(this);
    followBanners();
}

void BannerColumn::moveBanners(BannerColumn *from, BannerColumn *to, const QList<QWidget *> &banners)
{
    QList<QWidget *> moving;
    for (int index = 0; index < from->m_layout->count(); ++index) {
        if (QWidget *banner = from->m_layout->itemAt(index)->widget(); banners.contains(banner)) {
            moving.append(banner);
        }
    }
    for (QWidget *banner : std::as_const(moving)) {
        banner->removeEventFilter(from);
        from->m_banners.removeAll(banner);
        from->m_layout->removeWidget(banner);
        to->addBanner(banner);
    }
    from->followBanners();
}

bool BannerColumn::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShowToParent && m_arrival == Arrival::comesNextToContent) {
        auto *banner = static_cast<QWidget *>(watched);
        m_layout->removeWidget(banner);
        m_layout->insertWidget(0, banner);
    }
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
