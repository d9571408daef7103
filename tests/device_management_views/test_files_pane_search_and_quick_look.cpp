#include "FilesPaneToolbar.h"
#include "ManagedFileBrowser.h"
#include "ManagedFilesPane.h"
#include "ManagementStoreFixture.h"
#include "QuickLookWindow.h"
#include "TestSupport.h"

#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTest>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;

namespace {

// A phone with one storage root holding the download and documents folders; every listing keeps only the
// entries whose name contains the "query" of its payload, as the phone does.
Reply filteringPhone(const Request &request)
{
    if (request.action == u"files.roots"_s) {
        return Reply::json(encodeManaged(ManagedStorageRoots{1, {{u"root"_s, u"内部存储"_s, false, 1, 2}}}));
    }
    if (request.action != u"files.list"_s) {
        return Reply{};
    }
    const QJsonObject payload = request.object();
    const QString parent = payload.value(u"parentId"_s).toString();
    QList<ManagedFileEntry> entries{fileEntry(parent + u"-n"_s, u"notes.txt"_s),
                                    fileEntry(parent + u"-r"_s, u"Report.pdf"_s)};
    if (parent == u"root"_s) {
        entries.prepend(folderEntry(u"doc"_s, u"Documents"_s));
        entries.prepend(folderEntry(u"dl"_s, u"Download"_s));
    }
    QList<ManagedFileEntry> matching;
    for (const ManagedFileEntry &entry : std::as_const(entries)) {
        if (entry.name.contains(payload.value(u"query"_s).toString(), Qt::CaseInsensitive)) {
            matching.append(entry);
        }
    }
    return Reply::json(filePageJson(parent, matching));
}

QStringList shownNames(const ManagedFilesPane &pane)
{
    QStringList names;
    for (const ManagedFileEntry &entry : static_cast<ManagedFileBrowser *>(pane.fileBrowserPage())->entries()) {
        names.append(entry.name);
    }
    return names;
}

QList<QuickLookWindow *> shownQuickLooks(const ManagedFilesPane &pane)
{
    QList<QuickLookWindow *> shown;
    for (QuickLookWindow *window : pane.findChildren<QuickLookWindow *>()) {
        if (window->isVisible()) {
            shown.append(window);
        }
    }
    return shown;
}

enum class Closing
{
    category,
    phone,
    user,
    otherProgram,
};

} // namespace

using Searches = TestTable<ManagedContentCategory, QString, QStringList>;
using Closings = TestTable<Closing>;

class FilesPaneSearchAndQuickLookTest : public QObject
{
    Q_OBJECT

private slots:
    // The folder categories search the open folder on the phone: typing keeps the text and clears the selection,
    // Return lists the same folder with it, and a search that finds nothing says so.
    void folderSearch_data()
    {
        const Searches rows;
        rows("downloads", ManagedContentCategory::downloads, u"dl"_s, {u"notes.txt"_s, u"Report.pdf"_s});
        rows("documents", ManagedContentCategory::documents, u"doc"_s, {u"notes.txt"_s, u"Report.pdf"_s});
        rows("all files", ManagedContentCategory::allFiles, u"root"_s,
             {u"Documents"_s, u"Download"_s, u"notes.txt"_s, u"Report.pdf"_s});
    }

    void folderSearch()
    {
        const auto [category, folder, everything] = Searches::fetch();
        ManagementStoreFixture fixture;
        fixture.channel->answer = filteringPhone;
        QSettings settings(fixture.folder.filePath(u"settings.ini"_s), QSettings::IniFormat);
        ManagedFilesPane pane(u"Pixel"_s, fixture.store.get(), category, true, false, {}, &settings);
        pane.show();
        QTRY_COMPARE(shownNames(pane), everything);
        pane.setFileSelection({{folder + u"-n"_s}, folder + u"-n"_s});

        QLineEdit *field = pane.toolbar()->searchField();
        QCOMPARE(field->placeholderText(), u"搜索手机内容"_s);
        QTest::keyClicks(field, u"rep"_s);
        QCOMPARE(fixture.store->fileQuery(), u"rep"_s);
        QCOMPARE(field->text(), u"rep"_s);
        QVERIFY(pane.selectedFileIDs().isEmpty());
        QCOMPARE(shownNames(pane), everything); // typing alone lists nothing

        QTest::keyClick(field, Qt::Key_Return);
        QTRY_COMPARE(shownNames(pane), QStringList{u"Report.pdf"_s});
        const QJsonObject listed = fixture.channel->requests.last().object();
        QCOMPARE(listed.value(u"parentId"_s).toString(), folder);
        QCOMPARE(listed.value(u"query"_s).toString(), u"rep"_s);
        QCOMPARE(field->text(), u"rep"_s);

        QTest::keyClicks(field, u"x"_s);
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY(shownNames(pane).isEmpty());
        const QLabel *overlay = static_cast<ManagedFileBrowser *>(pane.fileBrowserPage())->emptyOverlay();
        QVERIFY(!overlay->isHidden());
        QCOMPARE(overlay->text(), u"没有匹配的文件"_s);
        QCOMPARE(fixture.store->currentPage()->parentId, folder);
    }

    // One quick-look window at a time: a new file replaces what it shows, and it goes when the previewed file
    // does, whatever takes it away.
    void oneQuickLookWindow_data()
    {
        const Closings rows;
        rows("another category", Closing::category);
        rows("another phone", Closing::phone);
        rows("closed by the user", Closing::user);
        rows("a file for another program", Closing::otherProgram);
    }

    void oneQuickLookWindow()
    {
        const auto [closing] = Closings::fetch();
        ManagementStoreFixture fixture;
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString picture = fixture.folder.filePath(u"p.png"_s), text = fixture.folder.filePath(u"t.txt"_s),
                      pdf = fixture.folder.filePath(u"d.pdf"_s);
        QVERIFY(image.save(picture));
        QVERIFY(writeFile(text, "你好\n"));
        QVERIFY(writeFile(pdf, "%PDF-1.7\n"));
        QSettings settings(fixture.folder.filePath(u"settings.ini"_s), QSettings::IniFormat);
        ManagedFilesPane pane(u"Pixel"_s, fixture.store.get(), ManagedContentCategory::allFiles, false, false, {},
                              &settings);
        QStringList external;
        pane.setExternalOpener([&external](const QString &path) { external.append(path); });

        pane.setPreviewedFileURL(picture);
        QCOMPARE(shownQuickLooks(pane).size(), 1);
        pane.setPreviewedFileURL(text);
        QCOMPARE(shownQuickLooks(pane).size(), 1);
        QuickLookWindow *window = shownQuickLooks(pane).first();
        QCOMPARE(window->findChild<QPlainTextEdit *>(u"quickLookText"_s)->toPlainText(), u"你好\n"_s);
        QVERIFY(!window->findChild<QLabel *>(u"quickLookImage"_s));
        QCOMPARE(window->windowTitle(), u"t.txt"_s);

        switch (closing) {
        case Closing::category:
            pane.setSelection(ManagedContentCategory::downloads);
            break;
        case Closing::phone:
            fixture.store->setActivePeer(u"peer-2"_s);
            break;
        case Closing::user:
            window->close();
            break;
        case Closing::otherProgram:
            pane.setPreviewedFileURL(pdf);
            QCOMPARE(external, QStringList{pdf});
            break;
        }
        QVERIFY(shownQuickLooks(pane).isEmpty());
        QVERIFY(!pane.previewedFileURL());

        pane.setPreviewedFileURL(picture); // a later preview opens a window again
        QCOMPARE(shownQuickLooks(pane).size(), 1);
        QCOMPARE(shownQuickLooks(pane).first()->findChild<QLabel *>(u"quickLookImage"_s)->pixmap().size(),
                 QSize(40, 30));
    }
};

QTEST_MAIN(FilesPaneSearchAndQuickLookTest)
#include "test_files_pane_search_and_quick_look.moc"
