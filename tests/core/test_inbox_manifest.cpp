#include "InboxManifest.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace tavrine::core;
using namespace Qt::StringLiterals;

namespace {

// "photo.jpg" and "id" in the journal's hexadecimal.
const std::string photo = "70686f746f2e6a7067";
const std::string id = "6964";

} // namespace

class InboxManifestTest : public QObject
{
    Q_OBJECT

private slots:
    void journalLinesParse_data()
    {
        // A journal line, and what it gives for "id": nothing, or whether it is acknowledged and the size it knows
        // (0: none, as in journals written before files were told apart).
        const TestTable<std::string, bool, bool, uint64_t> rows;
        rows("older line, received", "R " + id + ' ' + photo, true, false, 0);
        rows("older line, acknowledged", "A " + id + ' ' + photo, true, true, 0);
        rows("line with the file's identity", "R " + id + ' ' + photo + " 300000 1234 -5", true, false, 300000);
        rows("identity cut short", "R " + id + ' ' + photo + " 300000 1234", false, false, 0);
        rows("identity not a number", "R " + id + ' ' + photo + " 300000 12x4 5", false, false, 0);
        rows("size past 64 bits", "R " + id + ' ' + photo + " 18446744073709551616 1 1", false, false, 0);
        rows("one field too many", "R " + id + ' ' + photo + " 1 2 3 4", false, false, 0);
        rows("two blanks in a row", "R " + id + "  " + photo, false, false, 0);
    }

    void journalLinesParse()
    {
        const auto [text, known, acknowledged, size] = TestTable<std::string, bool, bool, uint64_t>::fetch();
        const auto entries = InboxManifest::parse(text + '\n');
        QCOMPARE(entries.count("id"), size_t(known));
        if (!known) {
            return;
        }
        const InboxManifest::Entry &entry = entries.at("id");
        QCOMPARE(entry.fileName, std::string("photo.jpg"));
        QCOMPARE(entry.acknowledged, acknowledged);
        QCOMPARE(entry.identity ? entry.identity->size : 0, size);
        // Written back, the line reads as itself.
        const auto again = InboxManifest::parse(InboxManifest::line("id", entry));
        QVERIFY(again.at("id").identity == entry.identity && again.at("id").acknowledged == acknowledged);
    }

    // A file recorded by an older journal, which knew its name alone, is still removed when it is acknowledged.
    void olderJournalEntriesAreStillAcknowledged()
    {
        QTemporaryDir inbox;
        QVERIFY(writeFile(inbox.filePath(u".tavrine-received"_s), QByteArray::fromStdString("R " + id + ' ' + photo)));
        QVERIFY(writeFile(inbox.filePath(u"photo.jpg"_s), "received"));
        const int folder = ::open(QFile::encodeName(inbox.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(folder >= 0);
        {
            InboxManifest manifest(folder);
            std::string waiting;
            QCOMPARE(manifest.receivedBefore("id", 8, waiting), InboxManifest::Receipt::toTake);
            QVERIFY(manifest.acknowledge("id"));
        }
        ::close(folder);
        QVERIFY(!QFile::exists(inbox.filePath(u"photo.jpg"_s)));
    }
};

QTEST_GUILESS_MAIN(InboxManifestTest)
#include "test_inbox_manifest.moc"
