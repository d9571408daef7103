#include "QuickSendRules.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

QuickSendSelection QuickSendSelection::fromURLs(const QList<QUrl> &urls)
{
    QuickSendSelection selection;
    QSet<QString> seenPaths;
    const QDir current = QDir::current();
    for (const QUrl &url : urls) {
        if (!url.isLocalFile()) {
            ++selection.rejectedCount;
            continue;
        }
        const QString localPath = url.toLocalFile();
        const QString path =
            localPath.isEmpty() ? QString() : QDir::cleanPath(current.absoluteFilePath(localPath));
        // Recorded before the checks, so that a repeat of a rejected input is not counted twice.
        if (seenPaths.contains(path)) {
            continue;
        }
        seenPaths.insert(path);
        const QFileInfo file(path);
        if (path.isEmpty() || file.isSymLink() || !file.exists() || !file.isFile()) {
            ++selection.rejectedCount;
            continue;
        }
        selection.files.append(QUrl::fromLocalFile(path));
    }
    return selection;
}

QStringList QuickSendSelection::filePaths() const
{
    QStringList paths;
    paths.reserve(files.size());
    for (const QUrl &file : files) {
        paths.append(file.toLocalFile());
    }
    return paths;
}

namespace QuickSendRules {

QString emptySelectionMessage(int rejectedCount)
{
    return rejectedCount > 0 ? QStringLiteral("这里只支持普通文件；文件夹请在 Tavrine 主窗口中发送")
                             : QStringLiteral("没有找到可发送的文件");
}

QString handOverMessage(TransferStore::Phase::Kind phase, int fileCount, int rejectedCount)
{
    QString message;
    if (phase == TransferStore::Phase::Kind::connected) {
        message = fileCount == 1 ? QStringLiteral("已开始发送") : QStringLiteral("已开始发送 %1 个文件").arg(fileCount);
    } else {
        message = fileCount == 1 ? QStringLiteral("已加入队列，手机连接后自动发送")
                                 : QStringLiteral("%1 个文件已加入队列，手机连接后自动发送").arg(fileCount);
    }
    if (rejectedCount >= 1) {
        message += QStringLiteral("；已跳过 %1 项").arg(rejectedCount);
    }
    return message;
}

QString statusText(const std::optional<QString> &peerName, TransferStore::Phase::Kind phase)
{
    if (!peerName) {
        return QStringLiteral("尚未添加手机");
    }
    switch (phase) {
    case TransferStore::Phase::Kind::connected:
        return QStringLiteral("发送到 ") + *peerName;
    case TransferStore::Phase::Kind::reconnecting:
        return *peerName + QStringLiteral(" · 未连接");
    case TransferStore::Phase::Kind::awaitingConfirmation:
        return *peerName + QStringLiteral(" · 等待手机确认");
    case TransferStore::Phase::Kind::failed:
        return *peerName + QStringLiteral(" · 需要处理");
    case TransferStore::Phase::Kind::idle:
        return *peerName;
    case TransferStore::Phase::Kind::pairing:
        return QStringLiteral("正在添加手机");
    }
    return *peerName;
}

QPoint panelOrigin(const QRect &available, const QSize &size)
{
    // Screen coordinates grow downwards here, so "above the centre" subtracts.
    const QPointF centre = QRectF(available).center();
    return QPointF(centre.x() - size.width() / 2.0, centre.y() - size.height() / 2.0 - 28).toPoint();
}

DropZoneStyle dropZoneStyle(bool isTargeted)
{
    return isTargeted ? DropZoneStyle{Symbol::arrowDownCircleFill, true, 0.11, 2.0}
                      : DropZoneStyle{Symbol::docOnDoc, false, 0.035, 1.0};
}

} // namespace QuickSendRules
