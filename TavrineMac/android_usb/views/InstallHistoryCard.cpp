#include "InstallHistoryCard.h"

#include "CardStyle.h"
#include "DeviceDashboardPresentation.h"
#include "DisclosureGroup.h"
#include "ElidedLabel.h"
#include "PlainLabel.h"
#include "ViewDates.h"
#include "ViewFonts.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>

using namespace DeviceDashboardPresentation;

namespace {

constexpr int historySymbolPixels = 18;

QWidget *recordRow(const InstallHistoryRecord &record, QWidget *parent)
{
    auto *row = new QWidget(parent);
    row->setObjectName(QStringLiteral("historyRow"));

    const StatusSymbol status = historySymbol(record);
    auto *symbol = CardStyle::symbolLabel(status.symbol, color(status.tint), historySymbolPixels, row);
    symbol->setObjectName(QStringLiteral("historySymbol"));

    auto *files = new ElidedLabel(Qt::ElideMiddle, row);
    files->setObjectName(QStringLiteral("historyFilesLabel"));
    files->setText(historyFileLine(record));

    auto *time = new PlainLabel(ViewDates::dateTimeText(record.installedAt), row);
    time->setObjectName(QStringLiteral("historyTimeLabel"));
    time->setFont(ViewFonts::caption());
    CardStyle::setSecondary(time);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(files);
    texts->addWidget(time);

    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 9, 0, 9);
    layout->setSpacing(12);
    layout->addWidget(symbol, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);
    return row;
}

} // namespace

InstallHistoryCard::InstallHistoryCard(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("installHistoryCard"));
    m_group = new DisclosureGroup(historyTitle, 8, this);
    m_group->contentLayout()->setSpacing(0);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_group);
    setVisible(false);
}

void InstallHistoryCard::setRecords(const QList<InstallHistoryRecord> &records)
{
    const QList<InstallHistoryRecord> shown = shownHistory(records);
    setVisible(!shown.isEmpty());
    if (shown == m_shown) {
        return;
    }
    m_shown = shown;
    QLayoutItem *item = nullptr;
    while ((item = m_group->contentLayout()->takeAt(0))) {
        delete item->widget();
        delete item;
    }
    for (const InstallHistoryRecord &record : shown) {
        m_group->contentLayout()->addWidget(recordRow(record, m_group->content()));
        // A line between rows, none under the last one.
        if (record.id != shown.last().id) {
            auto *divider = new QFrame(m_group->content());
            divider->setObjectName(QStringLiteral("historyDivider"));
            divider->setFrameShape(QFrame::HLine);
            divider->setFrameShadow(QFrame::Plain);
            CardStyle::setTextColor(divider, CardStyle::separator(divider));
            m_group->contentLayout()->addWidget(divider);
        }
    }
}
