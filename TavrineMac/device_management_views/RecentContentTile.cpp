#include "RecentContentTile.h"

#include "CardStyle.h"
#include "ElidedLabel.h"
#include "FileTypeSymbol.h"
#include "PlainLabel.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QLabel>
#include <QLocale>
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
    auto *icon = new IconBox(this);
    icon->setObjectName(QStringLiteral("recentIcon"));
    icon->setAlignment(Qt::AlignCenter);
    icon->setMinimumHeight(iconBoxMinimumHeight);
    icon->setPixmap(SymbolIcon::pixmap(SymbolIcon::named(iconName()).value_or(Symbol::doc), ViewColors::blue(),
                                       iconPixels, devicePixelRatioF()));

    auto *name = new ElidedLabel(Qt::ElideMiddle, this);
    name->setFont(ViewFonts::callout(QFont::Medium));
    name->setText(task.fileName);

    auto *time = new PlainLabel(timeText(task.updatedAt), this);
    time->setFont(ViewFonts::caption());
    CardStyle::setSecondary(time);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(10);
    column->addWidget(icon);
    column->addWidget(name);
    column->addWidget(time);
}

QString RecentContentTile::iconName() const
{
    return fileTypeSymbolName(m_task.fileName);
}

QString RecentContentTile::timeText(const QDateTime &updatedAt)
{
    return QLocale().toString(updatedAt.toLocalTime().time(), QLocale::ShortFormat);
}

void RecentContentTile::paintEvent(QPaintEvent *)
{
    CardStyle::paintPanel(this, 13, CardStyle::withOpacity(CardStyle::controlBackground(this), 0.35));
}
