#pragma once

#include "TransferEvent.h"

#include <QString>

// What the core library says of a transfer or of the link, in the words the interface uses. The core writes English,
// as the phone side reads the same texts in its answers; this side shows them in Chinese.
namespace CoreMessageText {

// The text to show for `message` of an event of `direction`. A text the core sends has its Chinese words, with the
// system's reason after the colon in Chinese where it is a common one; a failure of the receiving side that reaches a
// file this computer sends names the phone, whose disk or folder it was. Any other text stays as it is.
QString describe(const QString &message, TransferDirection direction);

} // namespace CoreMessageText
