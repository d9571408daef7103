#include "FileBrowserPreferences.h"
#include "ManagedFileSort.h"
#include "TestSupport.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// "name/" is a folder; "name:size:modified" a file, "-" standing for an unknown size.
QList<ManagedFileEntry> entries(const QStringList &specs)
{
    QList<ManagedFileEntry> list;
    for (const QString &spec : specs) {
        const QStringList parts = spec.split(u':');
        ManagedFileEntry entry;
        entry.directory = parts[0].endsWith(u'/');
        entry.name = entry.directory ? parts[0].chopped(1) : parts[0];
        entry.id = entry.name;
        if (parts.size() > 1 && parts[1] != u"-") {
            entry.size = parts[1].toLongLong();
        }
        entry.modifiedAtMillis = parts.size() > 2 ? parts[2].toLongLong() : 0;
        list.append(entry);
    }
    return list;
}

QStringList names(const QList<ManagedFileEntry> &list)
{
    QStringList result;
    for (const ManagedFileEntry &entry : list) {
        result.append(entry.name);
    }
    return result;
}

} // namespace

using SortRows = TestTable<FileBrowserSortField, bool, QStringList, QStringList>;
using FilterRows = TestTable<ManagedContentCategory, QStringList, QStringList>;
using NameRows = TestTable<QString, QString, QString>;

class FileBrowserPreferencesTest : public QObject
{
    Q_OBJECT

private slots:
    void sortOrder_data()
    {
        using enum FileBrowserSortField;
        const SortRows rows;
        rows("folders first ascending", name, true, {"alpha", "zeta/"}, {"zeta", "alpha"});
        rows("folders first descending", name, false, {"zeta/", "alpha", "beta"}, {"zeta", "beta", "alpha"});
        rows("digits by value", name, true, {"file10", "file2", "File1"}, {"File1", "file2", "file10"});
        rows("unknown size below zero", size, true, {"b:5", "a:0", "c:-", "d/"}, {"d", "c", "a", "b"});
        rows("unknown size last descending", size, false, {"c:-", "a:0", "b:5", "d/"}, {"d", "b", "a", "c"});
        rows("same time by name ascending", modifiedAt, false, {"b::100", "c::200", "a::100"}, {"c", "a", "b"});
        rows("kind keys", kind, true, {"b.PNG", "z.doc", "a.png", "README", ".hidden"},
             {".hidden", "README", "z.doc", "a.png", "b.PNG"});
        rows("empty page", kind, false, {}, {});
    }

    void sortOrder()
    {
        const auto [field, ascending, page, expected] = SortRows::fetch();
        QList<ManagedFileEntry> list = entries(page);
        sortManagedFileEntries(list, field, ascending);
        QCOMPARE(names(list), expected);
    }

    void sortIsStableForIdenticalNames()
    {
        QList<ManagedFileEntry> list = entries({"same:1", "same:1", "same:1"});
        for (qsizetype index = 0; index < list.size(); ++index) {
            list[index].id = QString::number(index);
        }
        sortManagedFileEntries(list, FileBrowserSortField::size, false);
        QCOMPARE(list[0].id + list[1].id + list[2].id, "012");
    }

    void categoryFilter_data()
    {
        using enum ManagedContentCategory;
        const QStringList page{"Report.PDF", "read.me.md", "notes", "archive.zip", "Old/", "gif", "clip.MOV"};
        const FilterRows rows;
        rows("documents", documents, page, {"Report.PDF", "read.me.md", "Old"});
        rows("photos take a bare gif", photos, page, {"Old", "gif"});
        rows("videos", videos, page, {"Old", "clip.MOV"});
        rows("downloads keep everything", downloads, page,
             {"Report.PDF", "read.me.md", "notes", "archive.zip", "Old", "gif", "clip.MOV"});
        rows("nothing in the category", photos, {"a.txt", "b.mp4"}, {});
    }

    void categoryFilter()
    {
        const auto [category, page, expected] = FilterRows::fetch();
        QCOMPARE(names(categoryFilteredEntries(entries(page), category)), expected);
    }

    void extensionAndKindKey_data()
    {
        const NameRows rows;
        rows("plain", "photo.JPG", "jpg", "jpg");
        rows("no dot", "gif", "gif", "");
        rows("leading dot", ".hidden", "hidden", "");
        rows("trailing dot", "draft.", "draft", "");
        rows("dots only", "...", "", "");
        rows("empty", "", "", "");
    }

    void extensionAndKindKey()
    {
        const auto [name, extension, kindKey] = NameRows::fetch();
        QCOMPARE(managedFileExtension(name), extension);
        QCOMPARE(managedFileKindKey(name), kindKey);
    }

    void preferencesAreKeptUnderTheirKeys()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("settings.ini");
        {
            QSettings settings(path, QSettings::IniFormat);
            FileBrowserPreferences preferences(&settings);
            QCOMPARE(preferences.mediaLayoutStyleRawValue(), "original");
            QCOMPARE(preferences.fileViewStyleRawValue(), "list");
            QCOMPARE(preferences.fileSortFieldRawValue(), "name");
            QVERIFY(preferences.fileSortAscending());

            QSignalSpy changed(&preferences, &FileBrowserPreferences::changed);
            preferences.setFileViewStyle(FileBrowserViewStyle::grid);
            preferences.setFileViewStyle(FileBrowserViewStyle::grid);
            preferences.setMediaLayoutStyle(MediaGalleryLayoutStyle::compact);
            preferences.setFileSortField(FileBrowserSortField::modifiedAt);
            preferences.setFileSortAscending(false);
            QCOMPARE(changed.count(), 4);
        }
        QSettings settings(path, QSettings::IniFormat);
        QCOMPARE(settings.value("content.fileViewStyle").toString(), "grid");
        QCOMPARE(settings.value("content.mediaLayoutStyle").toString(), "compact");
        QCOMPARE(settings.value("content.fileSortField").toString(), "modifiedAt");
        const FileBrowserPreferences preferences(&settings);
        QCOMPARE(preferences.fileSortField(), FileBrowserSortField::modifiedAt);
        QVERIFY(!preferences.fileSortAscending());
    }

    void unknownStoredTextsReadAsFirstCase()
    {
        QTemporaryDir folder;
        QSettings settings(folder.filePath("settings.ini"), QSettings::IniFormat);
        settings.setValue("content.fileSortField", "date");
        settings.setValue("content.fileViewStyle", "Grid");
        settings.setValue("content.mediaLayoutStyle", "");
        settings.setValue("content.fileSortAscending", false);
        const FileBrowserPreferences preferences(&settings);
        QCOMPARE(preferences.fileSortFieldRawValue(), "date");
        QCOMPARE(preferences.fileViewStyle(), FileBrowserViewStyle::list);
        QCOMPARE(preferences.mediaLayoutStyle(), MediaGalleryLayoutStyle::original);
        // An unknown field sorts by name, still in the stored direction, after the category filter.
        const QList<ManagedFileEntry> shown = sortedManagedEntries(entries({"b.txt:1", "a.md:9", "c.zip", "d/"}),
                                                                   ManagedContentCategory::documents, preferences);
        QCOMPARE(names(shown), QStringList({"d", "b.txt", "a.md"}));
    }
};

QTEST_GUILESS_MAIN(FileBrowserPreferencesTest)
#include "test_file_browser_preferences.moc"
