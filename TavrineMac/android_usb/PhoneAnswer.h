#pragma once

#include "ADBClientError.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>

// What adb and the phone printed for a command, read as adb and Android's activity and package managers write it.
// Every byte comes from a child process and may be anything.
namespace PhoneAnswer {

// What an answer must hold for the command to count as done, besides no line reporting a failure.
enum class Needs
{
    nothing,
    successLine,     // "Success", as the package manager writes it
    startedActivity, // "Status: ok", as the activity manager writes it after "am start -W"
};

// `text` trimmed, without the lines adb writes about its own server ("* daemon not running; starting now at
// tcp:45037", "* daemon started successfully", a version mismatch that restarts the server).
QString withoutServerNotices(const QString &text);

// Both streams, without adb's server notices: Android before 7 sends everything on one stream, which adb writes to
// standard output.
QString combined(const QString &standardOutput, const QString &standardError);

// Whether a line of `answer`, trimmed, passes `test`.
bool hasLine(const QString &answer, const std::function<bool(QStringView)> &test);

// The failure reported by the answer of a command that adb ended with `status` 0: a line of the package or activity
// manager that reports one, or the lack of what `needs` asks for. Android before 7 passes no exit status through
// adb, and the activity manager ends with 0 when the activity does not exist. Nothing when the command did its work.
std::optional<ADBClientError> failure(const QString &standardOutput, const QString &standardError,
                                      const QStringList &arguments, int status, Needs needs);

} // namespace PhoneAnswer
