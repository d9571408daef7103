#include "OverviewInfoRow.h"

#include "CardStyle.h"
#include "PlainLabel.h"

#include <QHBoxLayout>

OverviewInfoRow::OverviewInfoRow(const QString &label, const QString &value, QWidget *parent) : QWidget(parent)
{
    m_labelLabel = new PlainLabel(label, this);
    m_labelLabel->setObjectName(QStringLiteral("overviewInfoLabel"));
    m_labelLabel->setFixedWidth(labelColumnWidth);
    m_labelLabel->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    CardStyle::setSecondary(m_labelLabel);

    m_valueLabel = new PlainLabel(value, this);
    m_valueLabel->setObjectName(QStringLiteral("overviewInfoValue"));
    m_valueLabel->setWordWrap(true);
    m_valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_valueLabel->setAlignment(Qt::AlignLeading | Qt::AlignTop);

    // Both texts share the font and start at the top, so their first lines sit on one baseline.
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_labelLabel, 0, Qt::AlignTop);
    layout->addWidget(m_valueLabel, 1, Qt::AlignTop);
}

QString OverviewInfoRow::label() const
{
    return m_labelLabel->text();
}

QString OverviewInfoRow::value() const
{
    return m_valueLabel->text();
}

void OverviewInfoRow::setValue(const QString &value)
{
    m_valueLabel->setText(value);
}
