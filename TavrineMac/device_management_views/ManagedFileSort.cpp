#include "ManagedFileSort.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

namespace {

// The order a file manager gives names for the user's locale: case is ignored and digit runs compare by value.
// Names the order finds equal but that are not the same text are still put in a fixed order, case-sensitively
// first, so that a listing sorts the same way every time.
class LocalizedStandardOrder
{
public:
    LocalizedStandardOrder()
    {
        // Collation in the C locale is by code point, which would put file10 before file2; names keep the
        // common order there.
        QLocale locale;
        if (locale.language() == QLocale::C) {
            locale = QLocale(QLocale::English, QLocale::UnitedStates);
        }
        m_loose.setLocale(locale);
        m_loose.setCaseSensitivity(Qt::CaseInsensitive);
        m_loose.setNumericMode(true);
        m_strict.setLocale(locale);
        m_strict.setCaseSensitivity(Qt::CaseSensitive);
        m_strict.setNumericMode(true);
    }

    int compare(const QString &a, const QString &b) const
    {
        if (const int loose = m_loose.compare(a, b); loose != 0) {
            return sign(loose);
        }
        if (const int strict = m_strict.compare(a, b); strict != 0) {
            return sign(strict);
        }
        return sign(a.compare(b));
    }

private:
    static int sign(int value) { return (value > 0) - (value < 0); }

    QCollator m_loose;
    QCollator m_strict;
};

int compareIntegers(qint64 a, qint64 b)
{
    return (a > b) - (a < b);
}

int compareByField(const LocalizedStandardOrder &order, FileBrowserSortField field, const ManagedFileEntry &a,
                   const ManagedFileEntry &b)
{
    switch (field) {
    case FileBrowserSortField::name:
        return order.compare(a.name, b.name);
    case FileBrowserSortField::modifiedAt:
        return compareIntegers(a.modifiedAtMillis, b.modifiedAtMillis);
    case FileBrowserSortField::size:
        // An unknown size sorts below every known one, 0 bytes included.
        return compareIntegers(a.size.value_or(-1), b.size.value_or(-1));
    case FileBrowserSortField::kind:
        return order.compare(managedFileKindKey(a.name), managedFileKindKey(b.name));
    }
    return 0;
}

// The extension after the last dot of the last path component; none for a leading or trailing dot.
QStringView pathExtension(QStringView name)
{
    while (name.endsWith(u'/')) {
        name.chop(1);
    }
    name = name.mid(name.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1) {
        return {};
    }
    return name.mid(dot + 1);
}

} // namespace

int compareManagedFiles(FileBrowserSortField field, const ManagedFileEntry &a, const ManagedFileEntry &b)
{
    return compareByField(LocalizedStandardOrder(), field, a, b);
}

QString managedFileKindKey(const QString &name)
{
    const QStringView extension = pathExtension(name);
    return extension.isEmpty() ? QString() : QLocale().toLower(extension.toString());
}

void sortManagedFileEntries(QList<ManagedFileEntry> &entries, FileBrowserSortField field, bool ascending)
{
    const LocalizedStandardOrder order;
    std::stable_sort(entries.begin(), entries.end(), [&](const ManagedFileEntry &a, const ManagedFileEntry &b) {
        if (a.directory != b.directory) {
            return a.directory;
        }
        const int comparison = compareByField(order, field, a, b);
        if (comparison == 0) {
            return order.compare(a.name, b.name) < 0;
        }
        return ascending ? comparison < 0 : comparison > 0;
    });
}

QString managedFileExtension(const QString &name)
{
    const QList<QStringView> pieces = QStringView(name).split(u'.', Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.last().toString().toLower();
}

QStringList managedCategoryExtensions(ManagedContentCategory category)
{
    switch (category) {
    case ManagedContentCategory::photos:
        return {QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("png"),
                QStringLiteral("heic"), QStringLiteral("webp"), QStringLiteral("gif")};
    case ManagedContentCategory::videos:
        return {QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("mkv"), QStringLiteral("webm"),
                QStringLiteral("avi")};
    case ManagedContentCategory::documents:
        return {QStringLiteral("pdf"),  QStringLiteral("doc"),  QStringLiteral("docx"),
                QStringLiteral("xls"),  QStringLiteral("xlsx"), QStringLiteral("ppt"),
                QStringLiteral("pptx"), QStringLiteral("txt"),  QStringLiteral("md")};
    case ManagedContentCategory::downloads:
    case ManagedContentCategory::allFiles:
    case ManagedContentCategory::trash:
        break;
    }
    return {};
}

QList<ManagedFileEntry> categoryFilteredEntries(const QList<ManagedFileEntry> &entries, ManagedContentCategory category)
{
    const QStringList extensions = managedCategoryExtensions(category);
    if (extensions.isEmpty()) {
        return entries;
    }
    QList<ManagedFileEntry> kept;
    for (const ManagedFileEntry &entry : entries) {
        if (entry.directory || extensions.contains(managedFileExtension(entry.name))) {
            kept.append(entry);
        }
    }
    return kept;
}

QList<ManagedFileEntry> sortedManagedEntries(const QList<ManagedFileEntry> &pageEntries,
                                             ManagedContentCategory category, const FileBrowserPreferences &preferences)
{
    QList<ManagedFileEntry> entries = categoryFilteredEntries(pageEntries, category);
    sortManagedFileEntries(entries, preferences.fileSortField(), preferences.fileSortAscending());
    return entries;
}
