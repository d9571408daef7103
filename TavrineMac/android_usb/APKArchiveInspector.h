#pragma once

#include "APKInstallPlan.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <exception>

// Why a selection of files cannot be installed as an Android package.
class APKValidationError : public std::exception
{
public:
    enum class Case
    {
        notAPK,
        unsupportedBundle,
        missing,
        directory,
        empty,
        corruptArchive,
        missingManifest,
        splitSetNeedsBase,
        duplicateFileName,
    };

    explicit APKValidationError(Case errorCase);

    Case errorCase() const { return m_case; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const APKValidationError &left, const APKValidationError &right)
    {
        return left.m_case == right.m_case;
    }

private:
    Case m_case;
    QByteArray m_what;
};

// Checks APK files before they reach adb: each must be a well-formed ZIP archive without ZIP64 whose central
// directory lists "AndroidManifest.xml" at its root; the signing is only classified, never verified.
// Stateless and synchronous: safe on any thread.
class APKArchiveInspector
{
public:
    APKArchiveInspector() = delete;

    // Turns the chosen files (absolute paths) into a plan: one file, or a split set with its base file first.
    // Throws APKValidationError.
    static APKInstallPlan plan(const QStringList &files);

    // The entry names of the ZIP central directory in `archive` (a whole file), in directory order.
    // Throws APKValidationError::Case::corruptArchive.
    static QStringList centralDirectoryEntryNames(QByteArrayView archive);
    // The same for the regular file open at `fileDescriptor`, read with bounded reads: a file that ends before what
    // its directory names, also one cut short meanwhile, is a corrupt archive.
    static QStringList centralDirectoryEntryNames(int fileDescriptor);
};
