#include "TransferTaskPresentation.h"

#include "ViewColors.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace TransferTaskPresentation {

namespace {

using Status = TransferTaskRecord::Status;

Symbol directionSymbol(const TransferTaskRecord &task)
{
    return task.direction == TransferTaskRecord::Direction::sending ? Symbol::arrowUpCircleFill
                                                                    : Symbol::arrowDownCircleFill;
}

} // namespace

StatusStyle statusStyle(const TransferTaskRecord &task)
{
    switch (task.status) {
    case Status::queued:
        return {directionSymbol(task),
                task.direction == TransferTaskRecord::Direction::sending ? QStringLiteral("等待发送")
                                                                         : QStringLiteral("等待下载"),
                Tint::blue};
    case Status::waitingForConnection:
        return {directionSymbol(task), QStringLiteral("等待连接"), Tint::blue};
    case Status::sending:
        return {directionSymbol(task), QStringLiteral("正在发送"), Tint::blue};
    case Status::receiving:
        return {directionSymbol(task), QStringLiteral("正在接收"), Tint::blue};
    case Status::paused:
        return {Symbol::pauseCircleFill, QStringLiteral("已暂停"), Tint::blue};
    case Status::completed:
        return {Symbol::checkmarkCircleFill, QStringLiteral("已完成"), Tint::green};
    case Status::failed:
        return {Symbol::exclamationmarkTriangleFill, QStringLiteral("失败"), Tint::orange};
    case Status::needsAttention:
        return {Symbol::exclamationmarkTriangleFill, QStringLiteral("需要处理"), Tint::orange};
    case Status::cancelled:
        return {Symbol::xmarkCircleFill, QStringLiteral("已取消"), Tint::secondary};
    }
    Q_UNREACHABLE();
}

QList<Control> controls(const TransferTaskRecord &task)
{
    QList<Control> offered;
    if (task.canPause()) {
        offered.append(Control::pause);
    }
    if (task.canResume()) {
        offered.append(Control::resume);
    }
    if (task.canRetry()) {
        offered.append(Control::retry);
    }
    if (task.canCancel()) {
        offered.append(Control::cancel);
    }
    return offered;
}

QString controlLabel(Control control)
{
    switch (control) {
    case Control::pause:
        return QStringLiteral("暂停");
    case Control::resume:
        return QStringLiteral("继续");
    case Control::retry:
        return QStringLiteral("重试");
    case Control::cancel:
        return QStringLiteral("取消");
    }
    Q_UNREACHABLE();
}

Symbol controlSymbol(Control control)
{
    switch (control) {
    case Control::pause:
        return Symbol::pauseFill;
    case Control::resume:
        return Symbol::playFill;
    case Control::retry:
        return Symbol::arrowClockwise;
    case Control::cancel:
        return Symbol::xmark;
    }
    Q_UNREACHABLE();
}

bool showsProgress(const TransferTaskRecord &task)
{
    return task.totalBytes >= 1 && !TransferTaskRecord::isFinished(task.status);
}

std::optional<QString> byteCountText(const TransferTaskRecord &task)
{
    if (task.totalBytes < 1) {
        return std::nullopt;
    }
    return fileByteCount(task.transferredBytes) + QStringLiteral(" / ") + fileByteCount(task.totalBytes);
}

std::optional<QString> batchLine(const TransferTaskRecord &task)
{
    if (!task.batchName) {
        return std::nullopt;
    }
    // A preview's path is only the name of its copy in the cache, which tells the user nothing.
    const bool isPreview = task.deliveryPurpose == TransferTaskRecord::DeliveryPurpose::preview;
    if (task.relativePath && !isPreview && *task.relativePath != task.fileName &&
        *task.relativePath != *task.batchName) {
        return *task.batchName + QStringLiteral(" / ") + *task.relativePath;
    }
    return *task.batchName;
}

int completedTaskCount(const QList<TransferTaskRecord> &tasks)
{
    return int(std::count_if(tasks.begin(), tasks.end(),
                             [](const TransferTaskRecord &task) { return task.status == Status::completed; }));
}

bool hasFinishedTask(const QList<TransferTaskRecord> &tasks)
{
    return std::any_of(tasks.begin(), tasks.end(),
                       [](const TransferTaskRecord &task) { return TransferTaskRecord::isFinished(task.status); });
}

QString dockSummary(int activeCount, int completedCount)
{
    if (activeCount > 0) {
        return QString::number(activeCount) + QStringLiteral(" 项传输进行中");
    }
    if (completedCount == 0) {
        return QStringLiteral("传输活动");
    }
    return QStringLiteral("最近完成 ") + QString::number(completedCount) + QStringLiteral(" 项");
}

std::optional<QString> activeTasksSubtitle(int activeCount)
{
    if (activeCount <= 0) {
        return std::nullopt;
    }
    return QString::number(activeCount) + QStringLiteral(" 个任务进行中或等待中");
}

int popoverListHeight(qsizetype taskCount)
{
    constexpr int smallListHeight = 220;
    constexpr int rowHeight = 82;
    constexpr int visibleRowLimit = 8;
    constexpr int maximumHeight = 520;
    if (taskCount <= 2) {
        return smallListHeight;
    }
    return std::min(int(std::min<qsizetype>(taskCount, visibleRowLimit)) * rowHeight, maximumHeight);
}

} // namespace TransferTaskPresentation
