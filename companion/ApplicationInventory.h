#pragma once

#include "ManagedContentModel.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The applications this stand-in phone pretends to have, kept in <storage>/.tavrine/applications.json as a
// JSON array of ManagedApplication objects. No file means no applications. The file is read as strictly as the
// computer reads "apps.list": one entry that is not a complete, well-typed application with a valid package
// name, or a package name that appears twice, and the whole file is refused, so that a mistake in it shows
// rather than hides an entry.
class ApplicationInventory
{
public:
    static constexpr qint64 maximumFileBytes = qint64(8) << 20;

    explicit ApplicationInventory(const QString &storageDirectory);

    QString filePath() const { return m_filePath; }

    // The applications of the file's bytes; nothing, with the reason in `errorMessage`, when they are refused.
    static std::optional<QList<ManagedApplication>> parse(const QByteArray &bytes, QString *errorMessage = nullptr);

    // An Android package name: two or more dot-separated parts, each a letter followed by letters, digits
    // or underscores.
    static bool isPackageName(const QString &text);

    // The applications of the file, in its order.
    std::optional<QList<ManagedApplication>> load(QString *errorMessage) const;

    // Replaces the file at once.
    bool save(const QList<ManagedApplication> &applications, QString *errorMessage) const;

private:
    QString m_filePath;
};
