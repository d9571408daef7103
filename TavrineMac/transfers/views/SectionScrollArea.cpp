#include "SectionScrollArea.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QFocusEvent>
#include <QPointer>
#include <QShowEvent>

#include <algorithm>

namespace {

QAccessibleInterface *sectionAccessible(const QString &, QObject *object)
{
    auto *area = qobject_cast<SectionScrollArea *>(object);
    return area ? new QAccessibleWidget(area, QAccessible::Section) : nullptr;
}

// Brings the control the keyboard goes to into view on each page it is on. The scroll area does so itself only for
// Tab from one of its own controls to the next; the keyboard also comes from outside the page (the sidebar, the bars
// under it) and with the program's moves, as a section opened from the keyboard hands it on. A click, the wheel and a
// window or menu giving the keyboard back leave each page where the person has scrolled it.
class KeyboardFollower : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::FocusIn || !watched->isWidgetType()) {
            return false;
        }
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason && reason != Qt::ShortcutFocusReason &&
            reason != Qt::OtherFocusReason) {
            return false;
        }
        auto *control = static_cast<QWidget *>(watched);
        for (QWidget *ancestor = control->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
            if (auto *area = qobject_cast<SectionScrollArea *>(ancestor)) {
                // Once the page is laid out: a control shown just now has no place on it yet.
                QMetaObject::invokeMethod(
                    area,
                    [area, control = QPointer<QWidget>(control)] {
                        if (control && control->hasFocus()) {
                            area->ensureWidgetVisible(control);
                        }
                    },
                    Qt::QueuedConnection);
            }
        }
        return false;
    }
};

} // namespace

SectionScrollArea::SectionScrollArea(const QString &name, QWidget *parent) : QScrollArea(parent)
{
    static const bool accessibleInstalled = (QAccessible::installFactory(sectionAccessible), true);
    Q_UNUSED(accessibleInstalled)
    static const bool followerInstalled = (qApp->installEventFilter(new KeyboardFollower(qApp)), true);
    Q_UNUSED(followerInstalled)
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
