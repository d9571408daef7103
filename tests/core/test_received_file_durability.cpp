#include "FileSync.h"
#include "Identity.h"
#include "Session.h"
#include "TestSupport.h"
#include "Wire.h"

#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <mutex>

#include <unistd.h>

using namespace tavrine::core;
using namespace Qt::StringLiterals;

namespace {

// One sync the session asked of the disk, with what stood in the inbox and what the session had reported by then.
struct SyncCall
{
    bool folder = false;
    QString file;       // for a file's bytes: its name in the inbox at that moment
    QStringList placed; // the inbox's files under their own names
    int completed = 0;  // completions reported so far
};

// Stands in for the disk. It records each sync; asked to, it holds the writer inside the first sync of a file's bytes
// until it is let go, so that the files after it queue up. A sync of a file's bytes it is told to fail fails as a full
// disk does; a folder's sync fails with the error it is given.
class RecordingSync : public FileSync
{
public:
    explicit RecordingSync(const QString &inbox) : m_inbox(inbox) {}

    bool syncData(int file) override
    {
        const bool journal = nameOf(file) == u".tavrine-received"_s;
        record(false, file);
        std::unique_lock lock(m_mutex);
        if (holdFirstFile && !journal) {
            holdFirstFile = false;
            writerHeld = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return !writerHeld; });
        }
        return journal || fail(failFiles);
    }
    bool syncFolder(int folder) override
    {
        record(true, folder);
        std::lock_guard lock(m_mutex);
        errno = folderError;
        return folderError == 0;
    }

    // Waits until the writer is held; false when it was not within the bound.
    bool waitUntilHeld()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(60), [this] { return writerHeld; });
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        writerHeld = false;
        m_changed.notify_all();
    }
    // Takes the session's events, also those not taken at a sync.
    QList<Event> drainedEvents()
    {
        std::lock_guard lock(m_mutex);
        drainLocked();
        return m_events;
    }
    int completions()
    {
        const QList<Event> events = drainedEvents();
        return int(std::count_if(events.begin(), events.end(),
                                 [](const Event &event) { return event.kind == EventKind::completed; }));
    }
    QList<SyncCall> calls()
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    void forgetCalls()
    {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
    }

    Session *session = nullptr;
    bool holdFirstFile = false;
    bool failFiles = false;
    int folderError = 0; // what a sync of a folder fails with; 0: it succeeds

private:
    static QString nameOf(int descriptor)
    {
        return QFileInfo(QFile::symLinkTarget(u"/proc/self/fd/%1"_s.arg(descriptor))).fileName();
    }
    static bool fail(bool asked)
    {
        errno = asked ? ENOSPC : 0;
        return !asked;
    }
    void drainLocked()
    {
        while (std::optional<Event> event = session ? session->pollEvent() : std::nullopt) {
            m_events.append(*event);
        }
    }
    void record(bool folder, int descriptor)
    {
        std::lock_guard lock(m_mutex);
        drainLocked();
        const int completed = int(std::count_if(m_events.begin(), m_events.end(),
                                                [](const Event &event) { return event.kind == EventKind::completed; }));
        m_calls.append(
            {folder, folder ? QString() : nameOf(descriptor), QDir(m_inbox).entryList(QDir::Files), completed});
    }

    QString m_inbox;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool writerHeld = false;
    QList<SyncCall> m_calls;
    QList<Event> m_events;
};

// A session driven as its link's thread drives it, with no peer to answer: each file is offered with its data
// following at once, as small files are sent.
struct Receiver
{
    QTemporaryDir root;
    QString inbox = root.filePath(u"inbox"_s);
    std::shared_ptr<RecordingSync> disk = std::make_shared<RecordingSync>(inbox);
    Session session{inbox.toStdString(), disk};

    Receiver()
    {
        disk->session = &session;
        // The journal the session set up as it started is not a received file's.
        disk->forgetCalls();
    }

    void handle(wire::FrameType type, std::string payload)
    {
        wire::Frame frame{type, std::move(payload)};
        session.handleFrame(nullptr, frame);
    }
    void receive(const std::string &transferId, const std::string &fileName, const std::string &bytes)
    {
        handle(wire::FrameType::offer,
               wire::FieldWriter().text(transferId).text(fileName).u64(bytes.size()).u8(1).take());
        for (size_t offset = 0; offset < bytes.size(); offset += wire::chunkBytes) {
            handle(wire::FrameType::data, wire::FieldWriter()
                                              .text(transferId)
                                              .raw(std::string_view(bytes).substr(offset, wire::chunkBytes))
                                              .take());
        }
        handle(wire::FrameType::end, wire::FieldWriter().text(transferId).raw(sha256(bytes)).take());
        session.flushReceived();
    }
};

QStringList placedFiles(int count)
{
    QStringList names;
    for (int index = 0; index < count; ++index) {
        names.append(u"file-%1.txt"_s.arg(index, 2, 10, QChar(u'0')));
    }
    return names;
}

} // namespace

class ReceivedFileDurabilityTest : public QObject
{
    Q_OBJECT

private slots:
    void receivedFileIsOnTheDiskBeforeItIsReported_data()
    {
        const TestTable<size_t> rows;
        rows("a small file, written as it arrives", 4096);
        rows("a file of several chunks, written by the writer", 3 * wire::chunkBytes + 5);
    }

    // Its bytes are synced while it still has its hidden name, its name once it has it, and only then is it reported.
    void receivedFileIsOnTheDiskBeforeItIsReported()
    {
        const auto [size] = TestTable<size_t>::fetch();
        Receiver receiver;
        receiver.receive("photo", "photo.jpg", std::string(size, 'p'));
        QTRY_COMPARE_WITH_TIMEOUT(receiver.disk->completions(), 1, 60'000);

        const QList<SyncCall> calls = receiver.disk->calls();
        QCOMPARE(calls.size(), 3);
        QVERIFY2(!calls[0].folder && calls[0].file.startsWith(u".tavrine-incoming-"_s), qPrintable(calls[0].file));
        QCOMPARE(calls[0].placed, QStringList());
        // The journal naming the file, then the folder naming it.
        QCOMPARE(calls[1].file, u".tavrine-received"_s);
        QVERIFY(calls[2].folder);
        QCOMPARE(calls[2].placed, QStringList{u"photo.jpg"_s});
        QCOMPARE(calls[2].completed, 0);
        QCOMPARE(contentsOf(receiver.inbox + u"/photo.jpg"_s), QByteArray(qsizetype(size), 'p'));
    }

    // Files that the writer places one after another are told together: one sync of the folder serves them all, and
    // each file's own bytes are synced before it is placed.
    void filesPlacedInOnePassShareOneFolderSync()
    {
        Receiver receiver;
        const QStringList names = placedFiles(20);
        receiver.disk->holdFirstFile = true;
        receiver.receive("id-0", names[0].toStdString(), "contents 0");
        QVERIFY(receiver.disk->waitUntilHeld());
        for (int index = 1; index < names.size(); ++index) {
            receiver.receive("id-" + std::to_string(index), names[index].toStdString(),
                             "contents " + std::to_string(index));
        }
        receiver.disk->release();
        QTRY_COMPARE_WITH_TIMEOUT(receiver.disk->completions(), int(names.size()), 60'000);

        const QList<SyncCall> calls = receiver.disk->calls();
        const int folderSyncs =
            int(std::count_if(calls.begin(), calls.end(), [](const SyncCall &call) { return call.folder; }));
        QCOMPARE(folderSyncs, 1);
        const auto folderSync =
            std::find_if(calls.begin(), calls.end(), [](const SyncCall &call) { return call.folder; });
        QCOMPARE(folderSync->placed, names);
        QCOMPARE(folderSync->completed, 0);
        const int fileSyncs = int(std::count_if(calls.begin(), calls.end(), [](const SyncCall &call) {
            return !call.folder && call.file.startsWith(u".tavrine-incoming-"_s);
        }));
        QCOMPARE(fileSyncs, int(names.size()));
    }

    void fileThatCannotBeMadeDurableFails_data()
    {
        const TestTable<bool> rows; // whether the folder fails, not the file's bytes
        rows("its bytes cannot be synced", false);
        rows("its folder cannot be synced", true);
    }

    // A disk that cannot keep the file makes the transfer fail, and leaves nothing under the file's name.
    void fileThatCannotBeMadeDurableFails()
    {
        const auto [folderFails] = TestTable<bool>::fetch();
        Receiver receiver;
        if (folderFails) {
            receiver.disk->folderError = ENOSPC;
        } else {
            receiver.disk->failFiles = true;
        }
        receiver.receive("photo", "photo.jpg", std::string(4096, 'p'));
        QTRY_VERIFY_WITH_TIMEOUT(!receiver.disk->drainedEvents().isEmpty() &&
                                     receiver.disk->drainedEvents().last().kind == EventKind::failed,
                                 60'000);
        const Event failed = receiver.disk->drainedEvents().last();
        QCOMPARE(receiver.disk->completions(), 0);
        const std::string expected =
            folderFails ? "the file could not be placed in the inbox: " : "the file could not be written: ";
        QVERIFY2(failed.message == expected + std::strerror(ENOSPC), failed.message.c_str());
        QCOMPARE(QDir(receiver.inbox).entryList(QDir::Files), QStringList());
    }

    void folderThatItsFileSystemCannotSyncStillReceives_data()
    {
        const TestTable<int> rows;
        rows("EINVAL (network and shared-folder file systems)", EINVAL);
        rows("EOPNOTSUPP", EOPNOTSUPP);
    }

    // Such a file system keeps no folder to sync: the file stays where it was placed and is reported received.
    void folderThatItsFileSystemCannotSyncStillReceives()
    {
        const auto [error] = TestTable<int>::fetch();
        Receiver receiver;
        receiver.disk->folderError = error;
        receiver.receive("photo", "photo.jpg", std::string(4096, 'p'));
        QTRY_VERIFY_WITH_TIMEOUT(receiver.disk->completions() == 1, 60'000);
        QCOMPARE(QDir(receiver.inbox).entryList(QDir::Files), QStringList{u"photo.jpg"_s});
        const QList<Event> events = receiver.disk->drainedEvents();
        QVERIFY(std::none_of(events.begin(), events.end(),
                             [](const Event &event) { return event.kind == EventKind::failed; }));
    }
};

QTEST_GUILESS_MAIN(ReceivedFileDurabilityTest)
#include "test_received_file_durability.moc"
