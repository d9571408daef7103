#pragma once

#include "TransferEvent.h"

#include <QString>

#include <optional>

// What the core library says of a transfer or of the link, in the words the interface uses. The core writes English,
// as the phone side reads the same texts in its answers; this side shows them in Chinese.
namespace CoreMessageText {

// The text to show for `message` of an event of `direction`. A text the core sends has its Chinese words, with the
// system's reason after the colon in Chinese where it is a common one; a failure of the receiving side that reaches a
// file this computer sends names the phone, whose disk or folder it was. Any other text stays as it is.
QString describe(const QString &message, TransferDirection direction);

// What to show when the host could not start, from the details the core gives: a port that another program holds
// (named when it can be found) and an address that cannot be listened on are said in the interface's words; nothing
// for any other details.
std::optional<QString> describeServiceStart(const QString &details);

// The port the details of a failed host start say another program holds; nothing for any other failure.
std::optional<quint16> takenPort(const QString &details);

} // namespace CoreMessageText
