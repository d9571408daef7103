#pragma once

#include <QPointer>
#include <QWidget>

class QVBoxLayout;

// Banners that come and go on their own, one above the other, in a column that is shown while one of them is and takes
// no room while none is. Placed under a page's content, a banner coming or going moves nothing of the page: the page
// gives up, or takes back, its lowest room.
class BannerColumn : public QWidget
{
    Q_OBJECT

public:
    // Where a banner that comes stands: in the order the banners were added, or on top of those already shown, next to
    // the content, so that none of them moves either.
    enum class Arrival
    {
        keepsItsPlace,
        comesNextToContent
    };

    BannerColumn(const QMargins &margins, int spacing, QWidget *parent = nullptr,
                 Arrival arrival = Arrival::keepsItsPlace);

    // The column follows the banner's own showing and hiding from now on. A banner taken from another widget stays
    // shown or hidden as it was.
    void addBanner(QWidget *banner);
    // Moves the banners of `from` that are among `banners` under those of `to`, in their order.
    static void moveBanners(BannerColumn *from, BannerColumn *to, const QList<QWidget *> &banners);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void followBanners();

    Arrival m_arrival;
    QVBoxLayout *m_layout = nullptr;
    QList<QPointer<QWidget>> m_banners;
};
