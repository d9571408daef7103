#include "FilesPaneToolbar.h"
#include "ManagedFileBrowser.h"
#include "ManagedFilesPane.h"
#include "ManagedTrashList.h"
#include "ManagementStoreFixture.h"
#include "QuickLookWindow.h"
#include "TestSupport.h"

#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;

namespace {

bool matches(const QString &name, const Request &request)
{
    return name.contains(request.object().value(u"query"_s).toString(), Qt::CaseInsensitive);
}

// Two videos, and two items in the trash.
Reply filteringMediaAndTrash(const Request &request)
{
    QJsonArray listed;
    for (const QString &name : {u"clip.mp4"_s, u"holiday.mp4"_s}) {
        if (!matches(name, request)) {
            continue;
        }
        listed.append(request.action == u"media.list"_s
                          ? encodeManaged(ManagedMediaItem{name, name, ManagedMediaKind::video, 1, 2, u"video/mp4"_s, 4,
                                                           3, std::nullopt, u"DCIM/"_s + name, 1000})
                          : encodeManaged(ManagedTrashEntry{name, name, u"d"_s, u"/d"_s, u"root"_s, false, 1, 5}));
    }
    return Reply::json({{u"version"_s, 1}, {request.action == u"media.list"_s ? u"items"_s : u"entries"_s, listed}});
}

// A phone with one storage root holding the download and documents folders; every listing keeps only the
// entries whose name contains the "query" of its payload, as the phone does.
Reply filteringPhone(const Request &request)
{
    if (request.action == u"files.roots"_s) {
        return Reply::json(encodeManaged(ManagedStorageRoots{1, {{u"root"_s, u"内部存储"_s, false, 1, 2}}}));
    }
    if (request.action == u"media.list"_s || request.action == u"files.trash.list"_s) {
        return filteringMediaAndTrash(request);
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

// A shown files pane of `category` over the filtering phone, its preferences in a file of its own.
struct FilteringPane
{
    ManagementStoreFixture fixture;
    QSettings settings{fixture.folder.filePath(u"settings.ini"_s), QSettings::IniFormat};
    ManagedFilesPane pane;

    explicit FilteringPane(ManagedContentCategory category)
        : pane(u"Pixel"_s, fixture.store.get(), category, true, false, {}, &settings)
    {
        // The first listing is answered on the next turn of the event loop, after this.
        fixture.channel->answer = filteringPhone;
        pane.show();
    }
};

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
using Clearings = TestTable<ManagedContentCategory, qsizetype, QString>;

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
        FilteringPane shown(category);
        ManagementStoreFixture &fixture = shown.fixture;
        ManagedFilesPane &pane = shown.pane;
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

    void clearingTheSearchListsAgain_data()
    {
        // The category, how many items it shows unsearched, and its title for a search that matches nothing.
        const Clearings rows;
        rows("folder", ManagedContentCategory::allFiles, 4, u"没有匹配的文件"_s);
        rows("videos", ManagedContentCategory::videos, 2, u"没有匹配的内容"_s);
        rows("trash", ManagedContentCategory::trash, 2, u"没有匹配的项目"_s);
    }

    // Emptying the search field with its clear button lists what is shown again without the search; until the new
    // list arrives, the empty list keeps the title of the search that produced it.
    void clearingTheSearchListsAgain()
    {
        const auto [category, everything, noMatch] = Clearings::fetch();
        FilteringPane shown(category);
        ManagementStoreFixture &fixture = shown.fixture;
        ManagedFilesPane &pane = shown.pane;
        const ManagedContentGroup kind = group(category);
        const auto shownCount = [&] {
            switch (kind) {
            case ManagedContentGroup::files:
                return shownNames(pane).size();
            case ManagedContentGroup::media:
                return fixture.store->mediaItems().size();
            case ManagedContentGroup::trash:
                break;
            }
            return fixture.store->trashEntries().size();
        };
        const auto emptyTitle = [&]() -> QString {
            switch (kind) {
            case ManagedContentGroup::files:
                return static_cast<ManagedFileBrowser *>(pane.fileBrowserPage())->emptyOverlay()->text();
            case ManagedContentGroup::media:
                return pane.stateContent().title;
            case ManagedContentGroup::trash:
                break;
            }
            return pane.findChild<ManagedTrashList *>()->emptyOverlay()->text();
        };
        QTRY_COMPARE(shownCount(), everything);

        QLineEdit *field = pane.toolbar()->searchField();
        QTest::keyClicks(field, u"zzz"_s);
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_COMPARE(shownCount(), 0);
        QTRY_COMPARE(emptyTitle(), noMatch);

        fixture.channel->hold = true;
        const qsizetype sent = fixture.channel->requests.size();
        auto *clear = field->findChild<QToolButton *>(); // the field's clear button
        QVERIFY(clear && clear->isVisible());
        QTest::mouseClick(clear, Qt::LeftButton); // the field clears itself on the next turn of the event loop
        QTRY_COMPARE(field->text(), QString());
        QCOMPARE(fixture.channel->requests.size(), sent + 1);
        QCOMPARE(fixture.channel->requests.last().object().value(u"query"_s).toString(), QString());
        QCOMPARE(emptyTitle(), noMatch);
        fixture.channel->hold = false;
        fixture.channel->release();
        QTRY_COMPARE(shownCount(), everything);
    }

    void previewIsTitledWithThePhoneFileName_data()
    {
        QTest::addColumn<bool>("fromBrowser");
        QTest::newRow("opened by the pane") << false;
        QTest::newRow("quick look of the browser") << true;
    }

    // The local copy lies in the cache under a name of its own; the window shows the name the file has on the phone.
    void previewIsTitledWithThePhoneFileName()
    {
        QFETCH(bool, fromBrowser);
        FilteringPane shown(ManagedContentCategory::allFiles);
        ManagedFilesPane &pane = shown.pane;
        const QString copy = shown.fixture.folder.filePath(u"8314cad8a5144e.txt"_s);
        QVERIFY(writeFile(copy, "周报\n"));
        shown.fixture.channel->deliveredPath = [copy](const QString &) { return copy; };
        QTRY_VERIFY(shownNames(pane).contains(u"notes.txt"_s));
        const ManagedFileEntry notes = fileEntry(u"root-n"_s, u"notes.txt"_s);
        if (fromBrowser) {
            auto *browser = static_cast<ManagedFileBrowser *>(pane.fileBrowserPage());
            browser->setSelection({{notes.id}, notes.id});
            QVERIFY(browser->previewSelectedFile());
        } else {
            pane.preview(notes);
        }
        QTRY_COMPARE(shownQuickLooks(pane).size(), 1);
        QCOMPARE(shownQuickLooks(pane).first()->windowTitle(), u"notes.txt"_s);
        QCOMPARE(pane.previewedFileURL(), copy);
    }

    void anotherProgramGetsThePhoneName_data()
    {
        QTest::addColumn<bool>("opens");
        QTest::newRow("a program opens it") << true;
        QTest::newRow("no program opens it") << false;
    }

    // A file that is neither a picture nor text goes to another program under its name on the phone, not under the
    // name of its copy in the cache; when no program takes it, the pane says so.
    void anotherProgramGetsThePhoneName()
    {
        QFETCH(bool, opens);
        FilteringPane shown(ManagedContentCategory::allFiles);
        ManagedFilesPane &pane = shown.pane;
        const QString copy = shown.fixture.folder.filePath(QString(64, u'c') + u".pdf"_s);
        QVERIFY(writeFile(copy, "%PDF-1.7\n"));
        shown.fixture.channel->deliveredPath = [copy](const QString &) {
            return copy;
        };
        QStringList handedOn;
        pane.setExternalOpener([&handedOn, opens](const QString &path) {
            handedOn.append(path);
            return opens;
        });
        QTRY_VERIFY(shownNames(pane).contains(u"Report.pdf"_s));
        QListView *view = static_cast<ManagedFileBrowser *>(pane.fileBrowserPage())->view();
        const QPoint row =
            view->visualRect(view->model()->index(int(shownNames(pane).indexOf(u"Report.pdf"_s)), 0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, row);
        QTRY_COMPARE(handedOn.size(), 1);
        QCOMPARE(handedOn.first(), copy + u".named/Report.pdf"_s);
        QCOMPARE(contentsOf(handedOn.first()), QByteArray("%PDF-1.7\n"));
        QCOMPARE(shown.fixture.store->errorMessage(),
                 opens ? std::nullopt : std::optional(u"没有可以打开“Report.pdf”的程序。"_s));
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
        pane.setExternalOpener([&external](const QString &path) {
            external.append(path);
            return true;
        });

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
