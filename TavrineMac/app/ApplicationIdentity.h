#pragma once

#include <QString>

// The names the running application goes by, and the language it speaks.
namespace ApplicationIdentity {

// Names the process (its settings and data folders keep the names they always had, its windows show the main window's
// title as its one name, its desktop entry describes it) and makes its interface Chinese whatever the desktop's
// language: Qt's own texts, and the numbers, sizes, dates and file types that Qt's dialogs write.
void apply(const QString &desktopFileName);

} // namespace ApplicationIdentity
