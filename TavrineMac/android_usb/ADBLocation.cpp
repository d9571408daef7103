#include "ADBLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QStringList adbCandidatePaths(const QProcessEnvironment &environment, const QString &homeDirectory,
                              const std::optional<QString> &bundleCandidate)
{
    QStringList candidates;
    const QString configured = environment.value(QStringLiteral("TAVRINE_ADB_PATH"));
    if (!configured.isEmpty()) {
        candidates.append(configured);
    }
    if (bundleCandidate) {
        candidates.append(*bundleCandidate);
    }
    candidates.append(QDir(homeDirectory).filePath(QStringLiteral("Android/Sdk/platform-tools/adb")));
    candidates.append(QStringLiteral("/usr/lib/android-sdk/platform-tools/adb"));
    candidates.append(QStringLiteral("/usr/local/bin/adb"));
    if (environment.contains(QStringLiteral("PATH"))) {
        const QStringList folders =
            environment.value(QStringLiteral("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
        for (const QString &folder : folders) {
            // A relative entry names a folder below wherever the application was started: never looked in.
            if (QDir::isAbsolutePath(folder)) {
                candidates.append(QDir(folder).filePath(QStringLiteral("adb")));
            }
        }
    }
    return candidates;
}

std::optional<QString> locateADBExecutable(const QProcessEnvironment &environment, const QString &homeDirectory,
                                           const std::optional<QString> &bundleCandidate)
{
    for (const QString &candidate : adbCandidatePaths(environment, homeDirectory, bundleCandidate)) {
        // A relative candidate resolves against the current folder, and the absolute path is what is used later.
        const QFileInfo file(candidate);
        if (file.isFile() && file.isExecutable()) {
            return file.absoluteFilePath();
        }
    }
    return std::nullopt;
}

QString appBundleADBURL()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Helpers/adb");
}
