#pragma once

#include <QDir>
#include <QString>

namespace FileNameRules {

// A single name that stays inside the folder it is joined to: not empty, neither "." nor "..", no "/",
// backslash or NUL, and under 256 bytes in UTF-8.
bool isSafeFileName(const QString &name);

// `name` when nothing exists under it in `folder`, else the first free "base (n).extension" for n = 1, 2, …
// The extension is what follows the last dot, unless that dot leads or ends the name.
QString freeFileName(const QDir &folder, const QString &name);

} // namespace FileNameRules
