#include "PhoneOutput.h"

#include <QJsonDocument>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace PhoneOutput {

namespace {

qint64 jsonCount(uint64_t count)
{
    return static_cast<qint64>(std::min<uint64_t>(count, std::numeric_limits<qint64>::max()));
}

void writeAndFlush(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

QString eventKindName(TransferEventKind kind)
{
    switch (kind) {
    case TransferEventKind::queued:
        return QStringLiteral("queued");
    case TransferEventKind::connecting:
        return QStringLiteral("connecting");
    case TransferEventKind::awaitingConfirmation:
        return QStringLiteral("awaitingConfirmation");
    case TransferEventKind::paired:
        return QStringLiteral("paired");
    case TransferEventKind::sending:
        return QStringLiteral("sending");
    case TransferEventKind::receiving:
        return QStringLiteral("receiving");
    case TransferEventKind::waitingForConnection:
        return QStringLiteral("waitingForConnection");
    case TransferEventKind::completed:
        return QStringLiteral("completed");
    case TransferEventKind::paused:
        return QStringLiteral("paused");
    case TransferEventKind::cancelled:
        return QStringLiteral("cancelled");
    case TransferEventKind::failed:
        return QStringLiteral("failed");
    case TransferEventKind::disconnected:
        return QStringLiteral("disconnected");
    }
    return QString::number(static_cast<int32_t>(kind));
}

QString directionName(TransferDirection direction)
{
    switch (direction) {
    case TransferDirection::none:
        return QStringLiteral("none");
    case TransferDirection::sending:
        return QStringLiteral("sending");
    case TransferDirection::receiving:
        return QStringLiteral("receiving");
    }
    return QString::number(static_cast<int32_t>(direction));
}

QJsonObject eventLine(const TransferEvent &event)
{
    return QJsonObject{
        {QStringLiteral("event"), eventKindName(event.kind)},
        {QStringLiteral("direction"), directionName(event.direction)},
        {QStringLiteral("transferId"), event.transferId},
        {QStringLiteral("fileName"), event.fileName},
        {QStringLiteral("transferredBytes"), jsonCount(event.transferredBytes)},
        {QStringLiteral("totalBytes"), jsonCount(event.totalBytes)},
        {QStringLiteral("peerName"), event.peerName},
        {QStringLiteral("peerId"), event.peerId},
        {QStringLiteral("message"), event.message},
    };
}

QJsonObject requestLine(const ManagementRequest &request, const ManagementAnswer &answer)
{
    return QJsonObject{
        {QStringLiteral("request"), request.action},
        {QStringLiteral("requestId"), request.requestId},
        {QStringLiteral("success"), answer.success},
        {QStringLiteral("message"), answer.message},
    };
}

QString confirmationCodeLine(const QString &code)
{
    // Split after the third character as a reader sees it, so digits of any script are grouped alike.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, code);
    qsizetype middle = 0;
    for (int count = 0; count < 3 && middle >= 0; ++count) {
        middle = finder.toNextBoundary();
    }
    const QString grouped =
        middle > 0 && middle < code.size() ? code.left(middle) + QStringLiteral("  ") + code.mid(middle) : code;
    return QStringLiteral("Confirmation code: %1").arg(grouped);
}

void writeLine(const QJsonObject &line)
{
    writeAndFlush(stdout, QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
}

void writeLine(const QString &line)
{
    writeAndFlush(stdout, line.toUtf8() + '\n');
}

void writeError(const QString &message)
{
    writeAndFlush(stderr, QStringLiteral("tavrine-phone: %1\n").arg(message).toUtf8());
}

} // namespace PhoneOutput
