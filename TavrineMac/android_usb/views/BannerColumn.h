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
    BannerColumn(const QMargins &margins, int spacing, QWidget *parent = nullptr);

    // The column follows the banner's own showing and hiding from now on.
    void addBanner(QWidget *banner);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void followBanners();

    QVBoxLayout *m_layout = nullptr;
    QList<QPointer<QWidget>> m_banners;
};
