#pragma once

#include "SymbolIcon.h"
#include "TransferStore.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>

#include <optional>

// The files of one quick-send hand-over: regular files only, each once, in the order they were given.
struct QuickSendSelection
{
    QList<QUrl> files;     // cleaned absolute file URLs
    int rejectedCount = 0; // inputs that were not regular files; repeats are not counted

    // Reads each local path without following a final symbolic link: links, folders, devices and paths
    // that cannot be read are rejected.
    static QuickSendSelection fromURLs(const QList<QUrl> &urls);
    QStringList filePaths() const;

    bool operator==(const QuickSendSelection &) const = default;
};

// The texts and placement of quick send. No widgets, so they are tested without a display.
namespace QuickSendRules {

inline const QString readyMessage = QStringLiteral("拖入文件，立即发送到手机");
inline const QString preparingMessage = QStringLiteral("正在准备手机连接…");
inline const QString noTrustedPhoneMessage = QStringLiteral("先在 Tavrine 中添加一台手机，之后无需重复配对");
inline const QString privacyNote = QStringLiteral("文件只在这台电脑和所选手机之间传输");
inline const QString droppingMessage = QStringLiteral("松开发送");
inline const QString hotKeyHint = QStringLiteral("快捷键 Ctrl+Alt+Space");

// The message of a hand-over without a single file to send.
QString emptySelectionMessage(int rejectedCount);
// The message after `fileCount` files went to the store in `phase`, with the skipped count appended.
QString handOverMessage(TransferStore::Phase::Kind phase, int fileCount, int rejectedCount);
// The panel header's second line.
QString statusText(const std::optional<QString> &peerName, TransferStore::Phase::Kind phase);

// Where a panel of `size` goes on a screen whose usable area is `available`: centred, 28 pixels above.
QPoint panelOrigin(const QRect &available, const QSize &size);

// The drop zone's look, while files are dragged over it or not.
struct DropZoneStyle
{
    Symbol symbol;
    bool accent;      // accent tint, else the secondary colour
    double fillAlpha; // of the accent (accent) or of the text colour
    double borderWidth;
};
DropZoneStyle dropZoneStyle(bool isTargeted);

} // namespace QuickSendRules
