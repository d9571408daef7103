#pragma once

#include <QString>

// Why a system call failed, in the words the interface uses: the reasons a user meets most often are Chinese, like
// every other text; the rest keep the system's own words, which say more than a guess would.
namespace SystemErrorText {

// The reason for the error number `errnoValue`.
QString describe(int errnoValue);
// The same for a reason the system has already written out, as Qt's file classes report it (their errorString()):
// a text that is, or ends with, the system's words for a common reason has them in Chinese.
QString describe(const QString &systemText);

} // namespace SystemErrorText
