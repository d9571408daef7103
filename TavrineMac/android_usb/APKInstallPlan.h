#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>

// A checked request to install one APK, or a split set installed together as one application.
struct APKInstallPlan
{
    enum class Kind
    {
        single,
        split,
    };

    Kind kind = Kind::single;
    QStringList files; // absolute paths in install order; the base file first for a split set
    qint64 totalBytes = 0;
    QString signatureSummary;

    bool operator==(const APKInstallPlan &) const = default;

    // The file's name for a single file; "Split APK（3 个文件）" for a set of three.
    QString displayName() const
    {
        if (kind == Kind::single)
            return files.isEmpty() ? QString() : QFileInfo(files.first()).fileName();
        return QStringLiteral("Split APK（%1 个文件）").arg(files.size());
    }
};
