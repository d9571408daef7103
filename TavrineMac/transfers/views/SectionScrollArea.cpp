#include "SectionScrollArea.h"

#include <QAccessibleWidget>
#include <QShowEvent>

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
    bool holdsStop = false;
    if (widget()) {
        for (const QWidget *child : widget()->findChildren<QWidget *>()) {
            holdsStop = holdsStop || ((child->focusPolicy() & Qt::TabFocus) && child->isVisibleTo(this));
        }
    }
    setFocusPolicy(holdsStop ? Qt::NoFocus : Qt::StrongFocus);
}
