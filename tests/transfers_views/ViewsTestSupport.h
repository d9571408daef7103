#pragma once

#include "../transfers/StoreTestSupport.h"
#include "SymbolIcon.h"
#include "TransferCredentialStore.h"
#include "TransferTaskRepository.h"
#include "TrustedDeviceRegistryStore.h"
#include "ViewColors.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

using Status = TransferTaskRecord::Status;
using Direction = TransferTaskRecord::Direction;
Q_DECLARE_METATYPE(Status)
Q_DECLARE_METATYPE(Symbol)

// Records and stores for the view tests: tasks written into the fixture's task file before the store
// is made, trusted phones put into its keychain; and what a person reads off the views.
namespace ViewsTestSupport {

inline TransferTaskRecord task(const QString &id, Status status, Direction direction = Direction::sending,
                               qint64 transferredBytes = 0, qint64 totalBytes = 0, const QString &message = {})
{
    TransferTaskRecord record;
    record.id = id;
    record.direction = direction;
    record.fileName = id + QStringLiteral(".jpg");
    record.transferredBytes = transferredBytes;
    record.totalBytes = totalBytes;
    record.status = status;
    record.message = message;
    record.createdAt = record.updatedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    return record;
}

// A store whose task list is `tasks` (sending and receiving tasks come back as waiting, as after a relaunch).
inline TransferStore &storeWithTasks(StoreFixture &fixture, const QList<TransferTaskRecord> &tasks)
{
    TransferTaskRepository(fixture.taskFile()).save(tasks);
    return fixture.make();
}

inline TransferStore &storeWithStatuses(StoreFixture &fixture, const QList<Status> &statuses)
{
    QList<TransferTaskRecord> tasks;
    for (qsizetype index = 0; index < statuses.size(); ++index)
        tasks.append(task(QStringLiteral("task-%1").arg(index), statuses[index], Direction::sending, 50, 100));
    return storeWithTasks(fixture, tasks);
}

// The core's report of a file on its way in, or out for TransferEventKind::sending.
inline TransferEvent progress(TransferEventKind kind, const QString &id, const QString &fileName, qint64 transferred,
                              qint64 total)
{
    const auto direction =
        kind == TransferEventKind::sending ? TransferDirection::sending : TransferDirection::receiving;
    return {kind, direction, id, fileName, uint64_t(transferred), uint64_t(total), {}, {}, {}};
}

inline TrustedDeviceRecord phone(const QString &name, int number, qint64 lastSeenSecondsAgo = 3600)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return {QStringLiteral("00000000-0000-4000-8000-%1").arg(number, 12, 10, QLatin1Char('0')),
            name,
            QStringLiteral("0123456789abcdef0123456789abcdef") + QString::number(number),
            {},
            {},
            now.addDays(-30),
            now.addSecs(-lastSeenSecondsAgo)};
}

inline TrustedDeviceRegistryStore registryStore(StoreFixture &fixture)
{
    return TrustedDeviceRegistryStore(
        TransferCredentialStore(QStringLiteral("com.drovan.tavrine.transfer"), fixture.keychain));
}

// A started store whose registry holds `devices`, the first one selected.
inline TransferStore &storeWithPhones(StoreFixture &fixture, const QList<TrustedDeviceRecord> &devices)
{
    registryStore(fixture).save({1, devices.isEmpty() ? std::nullopt : std::optional(devices.first().id), devices});
    TransferStore &store = fixture.make();
    awaitTask(store.startUp());
    return store;
}

// What a person reads off `root`, in the order the views hold it: texts, [buttons] by their text, tooltip
// or accessible name ("✗" when disabled), ⟦fields⟧, ━ for a progress bar and the rows of a list. On
// screen, a text cut short is marked "…", and a widget not wholly inside `area` "↓".
inline QString transcript(const QWidget *root, const QWidget *area = nullptr)
{
    QStringList seen;
    for (const QWidget *widget : root->findChildren<QWidget *>()) {
        const auto *label = qobject_cast<const QLabel *>(widget);
        const auto *button = qobject_cast<const QAbstractButton *>(widget);
        const auto *field = qobject_cast<const QLineEdit *>(widget);
        QString text = label ? label->text() : field ? field->text() : QString();
        // A field keeps a few pixels of margin inside its frame.
        if (root->isVisible() &&
            widget->fontMetrics().horizontalAdvance(text) > widget->contentsRect().width() - (field ? 6 : 0)) {
            text += QStringLiteral("…");
        }
        if (button) {
            const QString name = button->text().isEmpty() ? button->toolTip() : button->text();
            text = QStringLiteral("[%1]").arg(name.isEmpty() ? button->accessibleName() : name) +
                   QString::fromUtf8(button->isEnabled() ? "" : "✗");
        } else if (field) {
            text = QStringLiteral("⟦%1⟧").arg(text);
        } else if (qobject_cast<const QProgressBar *>(widget)) {
            text = QStringLiteral("━");
        } else if (const auto *list = qobject_cast<const QListWidget *>(widget)) {
            for (int row = 0; row < list->count(); ++row)
                text += (row ? QStringLiteral(" | ") : QString()) + list->item(row)->text();
        }
        if (widget->isVisibleTo(root) && !text.isEmpty()) {
            const QRect frame(area ? widget->mapTo(area, QPoint()) : QPoint(), widget->size());
            seen.append(text + QString::fromUtf8(area && !area->rect().contains(frame) ? "↓" : ""));
        }
    }
    return seen.join(QStringLiteral(" | "));
}

// The controls under `root` that Tab stops on, in the order the eye reads them: from the top down, and side by side
// from the leading edge.
inline QList<QWidget *> tabStopsAsRead(const QWidget *root)
{
    QList<QWidget *> stops;
    for (QWidget *control : root->findChildren<QWidget *>())
        if (control->isVisible() && (control->focusPolicy() & Qt::TabFocus))
            stops.append(control);
    const auto onScreen = [](const QWidget *control) {
        return QRect(control->mapToGlobal(QPoint(0, 0)), control->size());
    };
    std::stable_sort(stops.begin(), stops.end(), [&](const QWidget *first, const QWidget *second) {
        const QRect a = onScreen(first), b = onScreen(second);
        if (a.bottom() < b.top() || b.bottom() < a.top())
            return a.top() < b.top();
        return a.left() < b.left();
    });
    return stops;
}

// The controls that have the keyboard while Tab is pressed `count - 1` times from `first`, which comes first.
inline QList<QWidget *> tabbedFrom(QWidget *first, qsizetype count)
{
    first->setFocus(Qt::TabFocusReason);
    QList<QWidget *> tabbed{QApplication::focusWidget()};
    while (tabbed.size() < count && tabbed.last()) {
        QTest::keyClick(tabbed.last(), Qt::Key_Tab);
        tabbed.append(QApplication::focusWidget());
    }
    return tabbed;
}

// How a screen reader names each of `controls`; a field by the text in it.
inline QString accessibleNames(const QList<QWidget *> &controls)
{
    QStringList names;
    for (QWidget *control : controls) {
        const auto *field = qobject_cast<const QLineEdit *>(control);
        QAccessibleInterface *accessible = control ? QAccessible::queryAccessibleInterface(control) : nullptr;
        names.append(field        ? QStringLiteral("⟦%1⟧").arg(field->text())
                     : accessible ? accessible->text(QAccessible::Name)
                                  : QStringLiteral("(none)"));
    }
    return names.join(QStringLiteral(" → "));
}

// Whether `drawn` is `symbol` in `color`, pixel for pixel.
inline bool showsSymbol(const QPixmap &drawn, Symbol symbol, const QColor &color)
{
    const qreal ratio = drawn.devicePixelRatio();
    const QPixmap expected = SymbolIcon::pixmap(symbol, color, qRound(drawn.width() / ratio), ratio);
    return drawn.toImage().convertToFormat(QImage::Format_ARGB32) ==
           expected.toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace ViewsTestSupport
