#include "FileNameRules.h"
#include "ReceivedFileDelivery.h"
#include "StorageTree.h"
#include "TestSupport.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Every entry below folder, so that a test sees anything made, moved or removed.
QStringList entriesBelow(const QString &folder)
{
    QStringList entries;
    QDirIterator iterator(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
    while (iterator.hasNext())
        entries.append(iterator.next());
    entries.sort();
    return entries;
}

} // namespace

// Received files move from the inbox into the storage under a safe name that takes no existing entry.
class ReceivedFileDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        QVERIFY(makeEntries(m_root->path(), {u"storage/inbox/"_s, u"outside.txt=secret"_s}));
        m_storage = m_root->filePath(u"storage"_s);
        m_inbox = m_root->filePath(u"storage/inbox"_s);
    }

    // fileName: a name that came from the network; entries: what the storage holds before, "inbox/…" in the
    // inbox (a row that delivers has its file in the inbox besides); stored: the name it is delivered under,
    // null when it is refused. Nothing outside the inbox and the storage folder may be touched.
    void delivers_data()
    {
        const TestTable<QString, QStringList, QString> rows;

        rows("free", u"photo.jpg"_s, {u"other.jpg"_s}, u"photo.jpg"_s);
        rows("taken once", u"photo.jpg"_s, {u"photo.jpg"_s}, u"photo (1).jpg"_s);
        rows("taken twice", u"photo.jpg"_s, {u"photo.jpg"_s, u"photo (1).jpg"_s}, u"photo (2).jpg"_s);
        rows("gap is reused", u"photo.jpg"_s, {u"photo.jpg"_s, u"photo (2).jpg"_s}, u"photo (1).jpg"_s);
        rows("no extension", u"README"_s, {u"README"_s}, u"README (1)"_s);
        rows("hidden file", u".profile"_s, {u".profile"_s}, u".profile (1)"_s);
        rows("hidden file with extension", u".config.json"_s, {u".config.json"_s}, u".config (1).json"_s);
        rows("trailing dot", u"notes."_s, {u"notes."_s}, u"notes. (1)"_s);
        rows("last extension only", u"backup.tar.gz"_s, {u"backup.tar.gz"_s}, u"backup.tar (1).gz"_s);
        rows("placeholders in the name", u"%1 %2.txt"_s, {u"%1 %2.txt"_s}, u"%1 %2 (1).txt"_s);
        rows("folder of that name", u"album"_s, {u"album/"_s}, u"album (1)"_s);
        rows("dangling link of that name", u"link.txt"_s, {u"link.txt -> missing-target"_s}, u"link (1).txt"_s);

        rows("up to the file outside", u"../../outside.txt"_s, {}, QString());
        rows("through a sub-folder", u"sub/../../../outside.txt"_s, {u"inbox/sub/"_s}, QString());
        rows("absolute path of the file outside", u"<root>/outside.txt"_s, {}, QString());
        rows("dot dot", u".."_s, {}, QString());
        rows("empty", QString(), {}, QString());
        rows("nothing", u"item"_s, {}, QString());
        rows("folder", u"item"_s, {u"inbox/item/"_s}, QString());
        rows("link to a file outside", u"item"_s, {u"inbox/item -> ../../outside.txt"_s}, QString());
    }

    void delivers()
    {
        auto [fileName, entries, stored] = TestTable<QString, QStringList, QString>::fetch();
        if (!stored.isNull())
            entries.append(u"inbox/"_s + fileName + u"=new"_s);
        QVERIFY(makeEntries(m_storage, entries));
        fileName.replace(u"<root>"_s, m_root->path());
        QStringList expected = entriesBelow(m_root->path());
        if (!stored.isNull()) {
            expected.removeOne(m_inbox + u'/' + fileName);
            expected.append(m_storage + u'/' + stored);
            expected.sort();
        }

        QString error;
        QCOMPARE(ReceivedFileDelivery(m_inbox).deliver(fileName, m_storage, &error),
                 stored.isNull() ? std::nullopt : std::optional(stored));
        QCOMPARE(error.isEmpty(), !stored.isNull());
        QCOMPARE(entriesBelow(m_root->path()), expected);
        QCOMPARE(readFile(m_root->filePath(u"outside.txt"_s)), "secret"_ba);
        if (!stored.isNull())
            QCOMPARE(readFile(m_storage + u'/' + stored), "new"_ba);
    }

    void safeFileNames_data()
    {
        const TestTable<QString, bool> rows; // the name, and whether it is safe

        rows("plain", u"photo.jpg"_s, true);
        rows("hidden", u".profile"_s, true);
        rows("three dots", u"..."_s, true);
        rows("spaces and CJK", u"照片 1.jpg"_s, true);
        rows("255 bytes", QString(255, u'a'), true);
        rows("empty", QString(), false);
        rows("dot", u"."_s, false);
        rows("dot dot", u".."_s, false);
        rows("parent path", u"../escape.txt"_s, false);
        rows("absolute path", u"/etc/passwd"_s, false);
        rows("sub-folder", u"a/b"_s, false);
        rows("backslash", u"..\\escape.txt"_s, false);
        rows("NUL", u"a\0b"_s, false);
        rows("256 bytes", QString(256, u'a'), false);
        rows("86 CJK characters are 258 bytes", QString(86, QChar(0x7167)), false);
    }

    void safeFileNames()
    {
        const auto [name, safe] = TestTable<QString, bool>::fetch();
        QCOMPARE(FileNameRules::isSafeFileName(name), safe);
    }

private:
    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    QString m_inbox;
};

QTEST_GUILESS_MAIN(ReceivedFileDeliveryTest)
#include "test_received_file_delivery.moc"
