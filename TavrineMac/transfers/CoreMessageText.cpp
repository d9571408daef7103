#include "CoreMessageText.h"

#include "ListeningProgram.h"
#include "SystemErrorText.h"

#include <QList>
#include <QRegularExpression>

namespace CoreMessageText {

namespace {

// Where a text comes from. The receiver of a file tells its sender why it gave up, in the same words it uses for
// itself, so on a file this computer sends these failures are the phone's.
enum class Side
{
    either,
    receiver,
};

struct KnownMessage
{
    // {path} stands for a folder the core names, {reason} for the system's reason (or the core's detail).
    const char16_t *core;
    const char16_t *shown;
    Side side;
};

constexpr KnownMessage knownMessages[] = {
    {u"the inbox folder {path} cannot be used: {reason}", u"无法使用接收文件夹“{path}”：{reason}", Side::receiver},
    {u"the inbox folder {path} cannot be written: {reason}", u"无法写入接收文件夹“{path}”：{reason}", Side::receiver},
    {u"the file could not be written: {reason}", u"无法写入文件：{reason}", Side::receiver},
    {u"the file could not be placed in the inbox: {reason}", u"无法将文件放入接收文件夹：{reason}", Side::receiver},
    {u"more data arrived than the file holds", u"收到的数据多于文件的大小", Side::receiver},
    {u"the file ended early", u"收到的文件不完整", Side::receiver},
    {u"the file arrived damaged", u"收到的文件已损坏", Side::receiver},
    {u"too many transfers at once", u"同时接收的文件过多", Side::receiver},
    {u"the file could not be read", u"无法读取文件", Side::either},
    {u"the file changed while it was being sent", u"文件在发送过程中发生了变化", Side::either},
    {u"the connection was lost", u"连接中断，恢复后将继续", Side::either},
    {u"the connection failed", u"连接失败", Side::either},
    {u"the peer stopped answering", u"手机没有响应", Side::either},
    {u"the peer does not read what it is sent", u"手机没有接收发给它的数据", Side::either},
    {u"the peer closed the link", u"手机断开了连接", Side::either},
    {u"the peer sent a malformed frame: {reason}", u"手机发来的数据格式有误：{reason}", Side::either},
    {u"unexpected frame", u"手机发来了意外的数据", Side::either},
    {u"the phone connected again", u"手机已重新连接", Side::either},
    {u"the host stopped", u"连接服务已停止", Side::either},
};

const QString pathMark = QStringLiteral("{path}");
const QString reasonMark = QStringLiteral("{reason}");

struct Pattern
{
    QRegularExpression core;
    QString shown;
    Side side;
};

QList<Pattern> compiledPatterns()
{
    QList<Pattern> patterns;
    for (const KnownMessage &message : knownMessages) {
        QString expression = QRegularExpression::escape(QString::fromUtf16(message.core));
        // A folder's name may hold anything, the reason never holds the words after the folder: the folder takes all
        // it can.
        expression.replace(QRegularExpression::escape(pathMark), QStringLiteral("(?<path>.*)"));
        expression.replace(QRegularExpression::escape(reasonMark), QStringLiteral("(?<reason>.*)"));
        patterns.append({QRegularExpression(QRegularExpression::anchoredPattern(expression),
                                            QRegularExpression::DotMatchesEverythingOption),
                         QString::fromUtf16(message.shown), message.side});
    }
    return patterns;
}

// `shown` with the parts of `match` in place of its marks, in one pass: a folder's name may look like a mark.
QString filledIn(const QString &shown, const QRegularExpressionMatch &match)
{
    static const QRegularExpression marks(QStringLiteral("\\{(path|reason)\\}"));
    QString text;
    qsizetype copied = 0;
    for (QRegularExpressionMatchIterator found = marks.globalMatch(shown); found.hasNext();) {
        const QRegularExpressionMatch mark = found.next();
        text += shown.mid(copied, mark.capturedStart() - copied);
        const QString part = match.captured(mark.captured(1));
        text += mark.captured(1) == u"reason" ? SystemErrorText::describe(part) : part;
        copied = mark.capturedEnd();
    }
    return text + shown.mid(copied);
}

} // namespace

QString describe(const QString &message, TransferDirection direction)
{
    static const QList<Pattern> patterns = compiledPatterns();
    for (const Pattern &pattern : patterns) {
        const QRegularExpressionMatch match = pattern.core.match(message);
        if (!match.hasMatch()) {
            continue;
        }
        QString shown = filledIn(pattern.shown, match);
        if (pattern.side == Side::receiver && direction == TransferDirection::sending) {
            shown.prepend(QStringLiteral("手机"));
        }
        return shown;
    }
    return message;
}

std::optional<quint16> takenPort(const QString &details)
{
    // The phone comes back to the port it paired with, so the host takes that port or none.
    static const QRegularExpression portTaken(QStringLiteral("^port (\\d{1,5}) on \\S+ is taken by another program"));
    const QRegularExpressionMatch match = portTaken.match(details);
    const uint port = match.captured(1).toUInt();
    return match.hasMatch() && port <= 0xFFFF ? std::optional(quint16(port)) : std::nullopt;
}

std::optional<QString> describeServiceStart(const QString &details)
{
    static const QRegularExpression cannotListen(QStringLiteral("^cannot listen on (\\S+): (.*)$"),
                                                 QRegularExpression::DotMatchesEverythingOption);
    if (const std::optional<quint16> port = takenPort(details)) {
        const QString advice = QStringLiteral("手机只会在这个端口寻找这台电脑，请关闭该程序后重试。");
        const std::optional<ListeningProgram> holder = findListeningProgram(*port);
        if (holder && !holder->name.isEmpty()) {
            return QStringLiteral("端口 %1 已被程序“%2”（进程号 %3）占用。")
                       .arg(QString::number(*port), holder->name, QString::number(holder->processID)) +
                   advice;
        }
        return QStringLiteral("端口 %1 已被另一个程序占用。").arg(*port) + advice;
    }
    if (const QRegularExpressionMatch match = cannotListen.match(details); match.hasMatch()) {
        return QStringLiteral("无法在 %1 上等待手机连接：%2")
            .arg(match.captured(1), SystemErrorText::describe(match.captured(2)));
    }
    return std::nullopt;
}

} // namespace CoreMessageText
