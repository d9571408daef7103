#include "SectionScrollArea.h"

#include <QAccessibleWidget>

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
