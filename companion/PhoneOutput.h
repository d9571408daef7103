#pragma once

#include "ManagementHandlers.h"
#include "ManagementMessages.h"
#include "TransferEvent.h"

#include <QJsonObject>
#include <QString>

// The lines that tavrine-phone writes: one compact JSON object a line on standard output, so that a
// test can follow the phone, besides the confirmation code for people; plain text on standard error for people.
namespace PhoneOutput {

QString eventKindName(TransferEventKind kind);
QString directionName(TransferDirection direction);

// {"event": kind, "direction": …} with every field of the event.
QJsonObject eventLine(const TransferEvent &event);
// {"request": action, "requestId": …, "success": …, "message": …}
QJsonObject requestLine(const ManagementRequest &request, const ManagementAnswer &answer);

// "Confirmation code: 123  456", the six digits grouped as the computer shows them.
QString confirmationCodeLine(const QString &code);

// Writes and flushes at once, so that a reader sees each line as it happens.
void writeLine(const QJsonObject &line);
void writeLine(const QString &line);
void writeError(const QString &message);

} // namespace PhoneOutput
