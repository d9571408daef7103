#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <exception>

// Why local items cannot be sent to the phone as chosen.
class LocalManagedUploadPlanError : public std::exception
{
public:
    enum class Case
    {
        missingItem,
        unsupportedItem,
        symbolicLink,
        tooManyItems,
        tooDeep,
        tooLarge,
        invalidName,
    };

    static LocalManagedUploadPlanError missingItem(const QString &name) { return {Case::missingItem, name, 0}; }
    static LocalManagedUploadPlanError unsupportedItem(const QString &path) { return {Case::unsupportedItem, path, 0}; }
    static LocalManagedUploadPlanError symbolicLink(const QString &path) { return {Case::symbolicLink, path, 0}; }
    static LocalManagedUploadPlanError tooManyItems(qint64 limit) { return {Case::tooManyItems, {}, limit}; }
    static LocalManagedUploadPlanError tooDeep(qint64 limit) { return {Case::tooDeep, {}, limit}; }
    static LocalManagedUploadPlanError tooLarge(qint64 limit) { return {Case::tooLarge, {}, limit}; }
    static LocalManagedUploadPlanError invalidName(const QString &name) { return {Case::invalidName, name, 0}; }

    Case errorCase() const { return m_case; }
    const QString &text() const { return m_text; }
    qint64 limit() const { return m_limit; }
    QString errorDescription() const;
    const char *what() const noexcept override;

    friend bool operator==(const LocalManagedUploadPlanError &left, const LocalManagedUploadPlanError &right)
    {
        return left.m_case == right.m_case && left.m_text == right.m_text && left.m_limit == right.m_limit;
    }

private:
    LocalManagedUploadPlanError(Case errorCase, const QString &text, qint64 limit);

    Case m_case;
    QString m_text;
    qint64 m_limit;
    QByteArray m_what;
};

// Local files and folders chosen to be sent into a phone folder, walked and checked before anything is sent:
// one root per chosen item, a folder with every folder and file below it, paths relative to the root.
struct LocalManagedUploadPlan
{
    struct Directory
    {
        QString relativePath;

        bool operator==(const Directory &) const = default;
    };

    struct File
    {
        QString sourcePath;
        QString relativePath;
        qint64 size = 0;

        bool operator==(const File &) const = default;
    };

    struct Root
    {
        QString sourcePath;
        QString name;
        bool directory = false;
        QList<Directory> directories; // parents before their contents
        QList<File> files;

        bool operator==(const Root &) const = default;
    };

    QList<Root> roots;

    bool operator==(const LocalManagedUploadPlan &) const = default;

    // Walks `paths` (absolute local paths, or file URLs as text) reading metadata only; throws
    // LocalManagedUploadPlanError, or FileOperationError when a folder cannot be listed.
    static LocalManagedUploadPlan build(const QStringList &paths, qint64 maximumItemCount, int maximumDepth,
                                        qint64 maximumBytes);
};
