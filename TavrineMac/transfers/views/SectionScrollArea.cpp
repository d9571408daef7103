#include "SectionScrollArea.h"

#include <QAccessibleWidget>
#include <QShowEvent>

#include <algorithm>

namespace {

QAccessibleInterface *sectionAccessible(const QString &, QObject *object)
{
    auto *area = qobject_cast<SectionScrollArea *>(object);
    return area ? new QAccessibleWidget(area, QAccessible::Section) : nullptr;
}

} // namespace

SectionScrollArea::SectionScrollArea(const QString &name, QWidget *parent) : QScrollArea(parent)
{
    static const bool accessibleInstalled = (QAccessible::installFactory(sectionAccessible), true);
    Q_UNUSED(accessibleInstalled)
    setAccessibleName(name);
}

void SectionScrollArea::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    const bool holdsStop = widget() && std::ranges::any_of(widget()->findChildren<QWidget *>(), [this](QWidget *child) {
                               return (child->focusPolicy() & Qt::TabFocus) && child->isVisibleTo(this);
                           });
    setFocusPolicy(holdsStop ? Qt::NoFocus : Qt::StrongFocus);
}
