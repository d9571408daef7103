#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

// The places where adb is looked for, in order: TAVRINE_ADB_PATH (when set and not empty, taken literally), the
// copy beside the application (`bundleCandidate`), the user's SDK under `homeDirectory`, the system's SDK and
// /usr/local/bin, then every folder of PATH (empty pieces dropped). Not de-duplicated.
QStringList adbCandidatePaths(const QProcessEnvironment &environment, const QString &homeDirectory,
                              const std::optional<QString> &bundleCandidate);

// The absolute path of the first candidate that is an executable file, or nothing.
std::optional<QString> locateADBExecutable(const QProcessEnvironment &environment, const QString &homeDirectory,
                                           const std::optional<QString> &bundleCandidate);

// "Helpers/adb" beside the application's executable; whether it exists is not tested here.
QString appBundleADBURL();
