#include "BottomBarColumn.h"

#include <QVBoxLayout>

BottomBarColumn::BottomBarColumn(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("bottomBars"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    hide();
}

void BottomBarColumn::addBar(QWidget *bar)
{
    // A widget given another parent is hidden; it comes back as it was.
    const bool shown = !bar->isHidden();
    bar->setParent(this);
    m_layout->addWidget(bar);
    bar->setVisible(shown);
    renderColumn();
}

void BottomBarColumn::setBarShown(QWidget *bar, bool shown)
{
    if (m_layout->indexOf(bar) < 0) {
        return;
    }
    if (shown && bar->isHidden()) {
        m_layout->removeWidget(bar);
        m_layout->insertWidget(0, bar);
    }
    bar->setVisible(shown);
    renderColumn();
}

QList<QWidget *> BottomBarColumn::bars() const
{
    QList<QWidget *> held;
    for (int index = 0; index < m_layout->count(); ++index) {
        held.append(m_layout->itemAt(index)->widget());
    }
    return held;
}

bool BottomBarColumn::isBarShown(const QWidget *bar) const
{
    return m_layout->indexOf(bar) >= 0 && !bar->isHidden();
}

void BottomBarColumn::moveBars(BottomBarColumn *from, BottomBarColumn *to, const QList<QWidget *> &bars)
{
    for (QWidget *bar : from->bars()) {
        if (bars.contains(bar)) {
            from->m_layout->removeWidget(bar);
            to->addBar(bar);
        }
    }
    from->renderColumn();
}

void BottomBarColumn::renderColumn()
{
    bool anyShown = false;
    for (const QWidget *bar : bars()) {
        anyShown = anyShown || !bar->isHidden();
    }
    setVisible(anyShown);
}
