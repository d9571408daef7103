#include "DisclosureGroup.h"

#include <QToolButton>
#include <QVBoxLayout>

DisclosureGroup::DisclosureGroup(const QString &title, int contentTopPadding, QWidget *parent) : QWidget(parent)
{
    m_toggle = new QToolButton(this);
    m_toggle->setObjectName(QStringLiteral("disclosureToggle"));
    m_toggle->setText(title);
    m_toggle->setAutoRaise(true);
    m_toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toggle->setArrowType(Qt::RightArrow);
    m_toggle->setCursor(Qt::PointingHandCursor);

    m_content = new QWidget(this);
    m_content->setObjectName(QStringLiteral("disclosureContent"));
    m_contentLayout = new QVBoxLayout(m_content);
    m_contentLayout->setContentsMargins(0, contentTopPadding, 0, 0);
    m_content->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toggle, 0, Qt::AlignLeft);
    layout->addWidget(m_content);

    connect(m_toggle, &QToolButton::clicked, this, [this] { setExpanded(!isExpanded()); });
}

void DisclosureGroup::setTitle(const QString &title)
{
    m_toggle->setText(title);
}

QString DisclosureGroup::title() const
{
    return m_toggle->text();
}

bool DisclosureGroup::isExpanded() const
{
    return !m_content->isHidden();
}

void DisclosureGroup::setExpanded(bool expanded)
{
    m_toggle->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    m_content->setVisible(expanded);
}
