#pragma once

#include "LocalNames.h"
#include "SymbolIcon.h"
#include "TransferTaskRecord.h"

#include "ViewColors.h"

#include <QColor>
#include <QList>
#include <QString>

#include <optional>

// What the task center shows of the task list: status symbols, labels, the controls offered, byte
// counts and the summary of the dock. No widgets, so it is tested without a display.
namespace TransferTaskPresentation {

using Tint = ViewColors::Tint;
using ViewColors::color;

struct StatusStyle
{
    Symbol symbol;
    QString label;
    Tint tint;

    bool operator==(const StatusStyle &) const = default;
};

// A task control, in the order the row shows them.
enum class Control
{
    pause,
    resume,
    retry,
    cancel
};

StatusStyle statusStyle(const TransferTaskRecord &task);

QList<Control> controls(const TransferTaskRecord &task);
QString controlLabel(Control control);
Symbol controlSymbol(Control control);

// Whether the row shows the task's progress bar: only for a task with a known size that is not finished.
bool showsProgress(const TransferTaskRecord &task);
// "transferred / total" for a task with a known size.
std::optional<QString> byteCountText(const TransferTaskRecord &task);
// The batch name, with the path inside the batch when that tells more than the file and batch names.
std::optional<QString> batchLine(const TransferTaskRecord &task);

using ::fileByteCount;

int completedTaskCount(const QList<TransferTaskRecord> &tasks);
bool hasFinishedTask(const QList<TransferTaskRecord> &tasks);

// The dock's text (also its accessible value), from the unfinished tasks (the store's active ones, also those paused,
// failed or waiting for the phone) and those completed.
QString dockSummary(int activeCount, int completedCount);
// The task center's line under its title, from the unfinished tasks; none while there are none.
std::optional<QString> activeTasksSubtitle(int activeCount);
// Height of the task list in the popover, in pixels: it grows with the list up to a limit, then scrolls.
int popoverListHeight(qsizetype taskCount);
inline constexpr int popoverWidth = 460;

} // namespace TransferTaskPresentation
