#include "RecentContentTile.h"

#include "CardStyle.h"
#include "ElidedLabel.h"
#include "FileTypeSymbol.h"
#include "PlainLabel.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewDates.h"
#include "ViewFonts.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

constexpr int iconPixels = 28;
constexpr int iconBoxMinimumHeight = 62;

// The icon box: the symbol centred on a light blue tint.
class IconBox : public PlainLabel
{
public:
    using PlainLabel::PlainLabel;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            QPainterPath shape;
            shape.addRoundedRect(QRectF(rect()), 10, 10);
            painter.fillPath(shape, CardStyle::withOpacity(ViewColors::blue(), 0.06));
        }
        QLabel::paintEvent(event);
    }
};

} // namespace

RecentContentTile::RecentContentTile(const TransferTaskRecord &task, QWidget *parent) : QWidget(parent), m_task(task)
{
    m_icon = new IconBox(this);
    m_icon->setObjectName(QStringLiteral("recentIcon"));
    m_icon->setAlignment(Qt::AlignCenter);
    m_icon->setMinimumHeight(iconBoxMinimumHeight);
    showIcon();

    m_name = new ElidedLabel(Qt::ElideMiddle, this);
    m_name->setFont(ViewFonts::callout(QFont::Medium));
    m_name->setText(task.fileName);

    m_time = new PlainLabel(timeText(task.updatedAt), this);
    m_time->setFont(ViewFonts::caption());
    CardStyle::setSecondary(m_time);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(10);
    column->addWidget(m_icon);
    column->addWidget(m_name);
    column->addWidget(m_time);
}

void RecentContentTile::setTask(const TransferTaskRecord &task)
{
    const QString shownIcon = iconName();
    m_task = task;
    if (iconName() != shownIcon) {
        showIcon();
    }
    // Labels given the text they show change nothing.
    m_name->setText(task.fileName);
    m_time->setText(timeText(task.updatedAt));
}

void RecentContentTile::showIcon()
{
    m_icon->setPixmap(SymbolIcon::pixmap(SymbolIcon::named(iconName()).value_or(Symbol::doc), ViewColors::blue(),
                                         iconPixels, devicePixelRatioF()));
}

QString RecentContentTile::iconName() const
{
    return fileTypeSymbolName(m_task.fileName);
}

QString RecentContentTile::timeText(const QDateTime &updatedAt)
{
    return ViewDates::timeText(updatedAt);
}

void RecentContentTile::paintEvent(QPaintEvent *)
{
    CardStyle::paintPanel(this, 13, CardStyle::withOpacity(CardStyle::controlBackground(this), 0.35));
}
