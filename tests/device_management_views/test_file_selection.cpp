#include "FileSelectionRules.h"
#include "TestSupport.h"
#include "ViewDates.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Ids = QSet<QString>;
using Anchor = std::optional<QString>;

namespace {

ManagedFileEntry file(const QString &id, std::optional<qint64> size = 10)
{
    return {id, u"file "_s + id, false, size, 1'700'000'000'000, false, true};
}

ManagedFileEntry folder(const QString &id)
{
    return {id, u"folder "_s + id, true, std::nullopt, 1'700'000'000'000, false, true};
}

// Six shown tiles, ids "1" to "6".
const QList<ManagedFileEntry> shown{file(u"1"_s), file(u"2"_s), folder(u"3"_s),
                                    file(u"4"_s), file(u"5"_s), file(u"6"_s)};

QStringList titles(const QList<FileCommandItem> &items)
{
    QStringList result;
    for (const FileCommandItem &item : items) {
        result.append((item.dividerBefore ? u"| "_s : QString()) + item.title);
    }
    return result;
}

} // namespace

using Clicks = TestTable<Ids, Anchor, QString, Qt::KeyboardModifiers, Ids, Anchor>;
using Targets = TestTable<Ids, QString, QStringList, QStringList>;

class FileSelectionTest : public QObject
{
    Q_OBJECT

private slots:
    void click_data()
    {
        // Selected before, anchor, clicked id, modifiers, selected after, anchor after.
        const Clicks rows;
        const Qt::KeyboardModifiers none, shift(Qt::ShiftModifier), control(Qt::ControlModifier),
            both(Qt::ShiftModifier | Qt::ControlModifier);
        rows("plain click selects alone", {u"1"_s, u"2"_s}, u"1"_s, u"4"_s, none, {u"4"_s}, u"4"_s);
        rows("shift without anchor is a plain click", {u"2"_s}, {}, u"5"_s, shift, {u"5"_s}, u"5"_s);
        rows("shift adds the range and keeps the anchor", {u"3"_s}, u"3"_s, u"6"_s, shift,
             {u"3"_s, u"4"_s, u"5"_s, u"6"_s}, u"3"_s);
        rows("a second shift range adds to the first", {u"3"_s, u"4"_s, u"5"_s, u"6"_s}, u"3"_s, u"1"_s, shift,
             {u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s}, u"3"_s);
        rows("shift with an anchor not shown is a plain click", {u"2"_s}, u"gone"_s, u"4"_s, shift, {u"4"_s},
             u"4"_s);
        rows("shift and control with an anchor not shown toggles", {u"2"_s}, u"gone"_s, u"4"_s, both,
             {u"2"_s, u"4"_s}, u"4"_s);
        rows("shift and control with an anchor extends", {u"2"_s}, u"2"_s, u"4"_s, both, {u"2"_s, u"3"_s, u"4"_s},
             u"2"_s);
        rows("control adds and anchors", {u"1"_s}, u"1"_s, u"5"_s, control, {u"1"_s, u"5"_s}, u"5"_s);
        rows("control on a selected tile removes it and still anchors", {u"1"_s, u"5"_s}, u"1"_s, u"5"_s, control,
             {u"1"_s}, u"5"_s);
    }

    // Grid clicks: Shift ranges from the anchor first, then Control toggles, else the tile alone.
    void click()
    {
        const auto [before, anchor, clicked, modifiers, after, anchorAfter] = Clicks::fetch();
        FileSelection selection{before, anchor};
        const ManagedFileEntry entry = clicked == u"3"_s ? folder(clicked) : file(clicked);
        handleFileClick(selection, entry, shown, modifiers);
        QCOMPARE(selection.selectedFileIDs, after);
        QCOMPARE(selection.selectionAnchorID, anchorAfter);
    }

    // What a selection holds and what the keys and the bar make of it; ids of entries not shown count nowhere.
    void selectedEntriesAndKeys()
    {
        const QList<ManagedFileEntry> entries{file(u"a"_s, 1000), folder(u"b"_s), file(u"c"_s, std::nullopt),
                                              file(u"d"_s, 24)};
        const QList<ManagedFileEntry> selected = selectedEntries(entries, {u"d"_s, u"b"_s, u"a"_s, u"gone"_s});
        QCOMPARE(selected, (QList{entries[0], entries[1], entries[3]}));
        QCOMPARE(selectedTotalBytes(selected), 1024);
        QCOMPARE(selectionCountText(selected.size()), u"已选择 3 项"_s);
        QVERIFY(selectionBytesText(1024).has_value());
        QCOMPARE(selectionBytesText(selectedTotalBytes({folder(u"b"_s), file(u"c"_s, std::nullopt)})), std::nullopt);
        QCOMPARE(selectedTotalBytes({file(u"x"_s, std::numeric_limits<qint64>::max()), file(u"y"_s, 5)}),
                 std::numeric_limits<qint64>::max());

        QCOMPARE(returnKeyAction({folder(u"b"_s)}), FileOpenAction::openFolder);
        QCOMPARE(returnKeyAction({file(u"a"_s)}), FileOpenAction::quickLook);
        QCOMPARE(returnKeyAction({file(u"a"_s), file(u"d"_s)}), FileOpenAction::none);
        QCOMPARE(returnKeyAction({}), FileOpenAction::none);
        QCOMPARE(spaceKeyAction({file(u"a"_s)}), FileOpenAction::quickLook);
        QCOMPARE(spaceKeyAction({folder(u"b"_s)}), FileOpenAction::none);
        QCOMPARE(spaceKeyAction({file(u"a"_s), file(u"d"_s)}), FileOpenAction::none);

        FileSelection selection{{u"a"_s, u"gone"_s}, u"gone"_s};
        pruneFileSelection(selection, entries);
        QCOMPARE(selection, (FileSelection{{u"a"_s}, std::nullopt}));
    }

    void contextMenu_data()
    {
        // Selected ids, right-clicked id, target ids, menu items ("| " marks a divider before).
        const Targets rows;
        const QStringList many{u"下载到…"_s, u"| 复制 3 项"_s, u"移动 3 项"_s, u"| 移到回收站"_s};
        rows("one of three selected acts on all three", {u"1"_s, u"2"_s, u"4"_s}, u"2"_s,
             {u"1"_s, u"2"_s, u"4"_s}, many);
        rows("outside the selection acts on the entry alone", {u"1"_s, u"2"_s, u"4"_s}, u"5"_s, {u"5"_s},
             {u"快速查看"_s, u"下载到…"_s, u"| 复制 1 项"_s, u"移动 1 项"_s, u"重命名"_s, u"| 移到回收站"_s});
        rows("the only selected folder", {u"3"_s}, u"3"_s, {u"3"_s},
             {u"打开"_s, u"下载到…"_s, u"| 复制 1 项"_s, u"移动 1 项"_s, u"重命名"_s, u"| 移到回收站"_s});
        rows("selected ids not shown are not targets", {u"2"_s, u"gone"_s}, u"2"_s, {u"2"_s},
             {u"快速查看"_s, u"下载到…"_s, u"| 复制 1 项"_s, u"移动 1 项"_s, u"重命名"_s, u"| 移到回收站"_s});
    }

    // A menu acts on the selection only when opened on one of at least two selected ids.
    void contextMenu()
    {
        const auto [selectedIDs, clicked, targetIDs, items] = Targets::fetch();
        const ManagedFileEntry entry = shown.at(clicked.toInt() - 1);
        const QList<ManagedFileEntry> targets =
            contextMenuTargets(entry, selectedIDs, selectedEntries(shown, selectedIDs));
        QStringList ids;
        for (const ManagedFileEntry &target : targets) {
            ids.append(target.id);
        }
        QCOMPARE(ids, targetIDs);
        QCOMPARE(titles(entryContextMenuItems(entry, targets.size())), items);
    }

    void texts()
    {
        QCOMPARE(titles(selectionBarItems()), (QStringList{u"下载到…"_s, u"复制"_s, u"移动"_s, u"| 移到回收站"_s}));
        QCOMPARE(emptyFolderTitle(false, {}), u"文件夹为空"_s);
        QCOMPARE(emptyFolderTitle(false, u"x"_s), u"没有匹配的文件"_s);
        QCOMPARE(emptyFolderTitle(true, {}), std::nullopt);
        QCOMPARE(fileRowSubtitle(folder(u"f"_s)), u"文件夹"_s);
        QCOMPARE(fileRowSizeText(file(u"f"_s, std::nullopt)), std::nullopt);
        QCOMPARE(fileTileSubtitle(file(u"f"_s, std::nullopt)), u"—"_s);
        QCOMPARE(fileHoverHint(folder(u"f"_s)), u"双击打开"_s);
        QCOMPARE(fileHoverHint(file(u"f"_s)), u"双击快速查看"_s);
        QCOMPARE(fileEntrySymbolName(folder(u"f.jpg"_s)), u"folder.fill"_s);
        // Dates read the same in every view and every desktop language; a time no clock shows reads as the epoch.
        const QDateTime evening(QDate(2023, 11, 14), QTime(22, 13, 20));
        ManagedFileEntry modified = file(u"f"_s);
        modified.modifiedAtMillis = evening.toMSecsSinceEpoch();
        QCOMPARE(fileRowSubtitle(modified), u"2023年11月14日 22:13"_s);
        QCOMPARE(ViewDates::dateTimeText(std::numeric_limits<qint64>::max()), ViewDates::dateTimeText(0));
    }
};

QTEST_GUILESS_MAIN(FileSelectionTest)
#include "test_file_selection.moc"
