#include "InboxManifest.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tavrine::core;
using namespace Qt::StringLiterals;

namespace {

// "photo.jpg" and "id" in the journal's hexadecimal.
const std::string photo = "70686f746f2e6a7067";
const std::string id = "6964";

// Where the file being placed for "id" stands when the program starts again after stopping before it was recorded.
enum class Placed
{
    underWantedName,
    underNumberedName,    // the wanted name was taken: "photo (1).jpg"
    underPartialName,     // it was not placed yet
    usersFileTookTheName, // it was removed and the user's own file of the same size stands there
};

std::string identityText(const QString &path)
{
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        return {};
    }
    const FileIdentity identity = FileIdentity::of(status);
    return std::to_string(identity.size) + ' ' + std::to_string(identity.inode) + ' ' +
           std::to_string(identity.modifiedNanoseconds);
}

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

    void placingLinesParse_data()
    {
        // A journal, and for "id" the file it knows as received (empty: none) and the one being placed (empty: none).
        const TestTable<std::string, std::string, std::string> rows;
        const std::string placing = "P " + id + ' ' + photo + " 300000 1234 5\n";
        const std::string received = "R " + id + ' ' + "6f6c642e6a7067" + " 300000 99 5\n"; // "old.jpg"
        rows("placing alone", placing, "", "photo.jpg");
        rows("placing, then received", placing + "R " + id + ' ' + photo + " 300000 1234 5\n", "photo.jpg", "");
        rows("received before, then placing again", received + placing, "old.jpg", "photo.jpg");
        rows("placing without the file's identity", "P " + id + ' ' + photo + '\n', "", "");
    }

    // A placing line stands beside what the journal knows of the transfer, until the file it announces is recorded.
    void placingLinesParse()
    {
        const auto [journal, receivedName, placingName] = TestTable<std::string, std::string, std::string>::fetch();
        std::map<std::string, InboxManifest::Entry> placing;
        const auto entries = InboxManifest::parse(journal, &placing);
        QCOMPARE(entries.count("id") ? entries.at("id").fileName : std::string(), receivedName);
        QCOMPARE(placing.count("id") ? placing.at("id").fileName : std::string(), placingName);
        QCOMPARE(InboxManifest::parse(journal).size(), entries.size());
        if (!placingName.empty()) {
            // Written back, the line reads as itself.
            std::map<std::string, InboxManifest::Entry> again;
            QVERIFY(InboxManifest::parse(InboxManifest::placingLine("id", placing.at("id")), &again).empty());
            QVERIFY(again.at("id").fileName == placingName && again.at("id").identity == placing.at("id").identity);
        }
    }

    void fileBeingPlacedIsFoundAtTheNextStart_data()
    {
        const TestTable<Placed, QString> rows; // and the name it is known by after the start (empty: none)
        rows("under the name it wanted", Placed::underWantedName, u"photo.jpg"_s);
        rows("under a numbered name", Placed::underNumberedName, u"photo (1).jpg"_s);
        rows("still under its partial name", Placed::underPartialName, QString());
        rows("the user's file took its name", Placed::usersFileTookTheName, QString());
    }

    // The program stopped between giving a received file its name and recording it: the next start finds the file
    // by its identity, wherever the placing put it, and the transfer offered again is not taken twice.
    void fileBeingPlacedIsFoundAtTheNextStart()
    {
        const auto [placed, knownAs] = TestTable<Placed, QString>::fetch();
        QTemporaryDir inbox;
        const QString partial = inbox.filePath(u".tavrine-incoming-0123.part"_s);
        QVERIFY(writeFile(partial, QByteArray(300'000, 'r')));
        const std::string identity = identityText(partial);
        QVERIFY(writeFile(inbox.filePath(u".tavrine-received"_s),
                          QByteArray::fromStdString("P " + id + ' ' + photo + ' ' + identity + '\n')));
        const QString placedAt =
            inbox.filePath(placed == Placed::underNumberedName ? u"photo (1).jpg"_s : u"photo.jpg"_s);
        if (placed == Placed::underNumberedName) {
            QVERIFY(writeFile(inbox.filePath(u"photo.jpg"_s), QByteArray(300'000, 'u')));
        }
        if (placed != Placed::underPartialName) {
            QVERIFY(QFile::rename(partial, placedAt));
        }
        if (placed == Placed::usersFileTookTheName) {
            QVERIFY(QFile::remove(placedAt));
            QVERIFY(writeFile(placedAt, QByteArray(300'000, 'u')));
        }
        const int folder = ::open(QFile::encodeName(inbox.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(folder >= 0);
        const auto closeFolder = qScopeGuard([folder] { ::close(folder); });
        const QStringList files = QDir(inbox.path()).entryList(QDir::Files | QDir::Hidden);
        // Twice: what the first start found is recorded for the next.
        for (int start = 0; start < 2; ++start) {
            InboxManifest manifest(folder);
            std::string waiting;
            const InboxManifest::Receipt receipt = manifest.receivedBefore("id", 300'000, waiting);
            QCOMPARE(receipt, knownAs.isEmpty() ? InboxManifest::Receipt::toTake : InboxManifest::Receipt::waiting);
            QCOMPARE(QString::fromStdString(waiting), knownAs);
        }
        // Nothing was removed, the user's file least of all.
        QCOMPARE(QDir(inbox.path()).entryList(QDir::Files | QDir::Hidden), files);
        if (placed == Placed::usersFileTookTheName || placed == Placed::underNumberedName) {
            QFile users(inbox.filePath(u"photo.jpg"_s));
            QVERIFY(users.open(QIODevice::ReadOnly));
            QCOMPARE(users.readAll(), QByteArray(300'000, 'u'));
        }
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
