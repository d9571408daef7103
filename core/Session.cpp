#include "Session.h"

#include "ChunkReader.h"
#include "FileNames.h"
#include "Identity.h"
#include "InboxManifest.h"
#include "WorkerPool.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrine::core {

namespace {

constexpr auto progressInterval = std::chrono::milliseconds(100);
constexpr size_t maximumTransferIdBytes = 256;
constexpr size_t hashBufferBytes = 1024 * 1024;
// Received data waiting to be written; beyond it the link stops reading, which in turn holds the sender back. Four
// mebibytes ride out a few milliseconds in which the writer or the hasher gets no processor.
constexpr size_t maximumQueuedReceiveBytes = 16 * wire::chunkBytes;
// What one peer may keep open on this side at once.
constexpr size_t maximumIncomingTransfers = 64;
constexpr size_t maximumOpenRequests = 1024;
constexpr size_t maximumOpenRequestBytes = 16 * 1024 * 1024;
// Files up to this size go out with their offer, without waiting for the receiver to say where to start: a
// round trip costs more than sending them again whole.
constexpr uint64_t eagerTransferBytes = 1024 * 1024;
// Received chunks are handed to the writer and the hasher in batches of this many, or fewer when the link has
// nothing more for the moment, so that neither is woken for every chunk.
constexpr size_t receiveBatchJobs = 4;
// Files with more than this left to send are read ahead on a thread of their own; smaller ones are read by the
// sender, sparing a hand-over per file.
constexpr uint64_t readAheadMinimumBytes = 2 * wire::chunkBytes;
// Received data this small, with nothing queued before it, is written and hashed on the link's own thread.
constexpr size_t inlineReceiveBytes = 64 * 1024;
// As long as the link looks again after its last work: a writer that slept between files would be woken for each.
constexpr auto lookAgainSpell = std::chrono::milliseconds(5);
// Files placed in a row are reported together at most this many at a time: each waits for the last one's bytes.
constexpr size_t maximumPlacedBeforeReport = 32;

struct DigestDeleter
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using DigestPointer = std::unique_ptr<EVP_MD_CTX, DigestDeleter>;

DigestPointer newDigest()
{
    DigestPointer digest(EVP_MD_CTX_new());
    if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available");
    }
    return digest;
}

std::string finishDigest(EVP_MD_CTX *digest)
{
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(digest, bytes, &length);
    return std::string(reinterpret_cast<const char *>(bytes), length);
}

// Tests stand a slow disk in for the part a resumed file holds: TAVRINE_CORE_HELD_PART_BYTES_PER_SECOND caps how
// fast it is read back (unset: as fast as the disk gives it).
uint64_t heldPartReadPace()
{
    static const uint64_t pace = [] {
        const char *value = std::getenv("TAVRINE_CORE_HELD_PART_BYTES_PER_SECOND");
        return value ? uint64_t(std::strtoull(value, nullptr, 10)) : uint64_t(0);
    }();
    return pace;
}

// Hashes the first `count` bytes of a file, reading at most `bytesPerSecond` (0: no limit); false when they cannot
// all be read or `stopped` became true.
bool hashPrefix(int descriptor, uint64_t count, EVP_MD_CTX *digest, const std::atomic<bool> *stopped,
                uint64_t bytesPerSecond = 0)
{
    if (count == 0) {
        return true;
    }
    const uint64_t step = bytesPerSecond ? std::max<uint64_t>(bytesPerSecond / 20, 4096) : hashBufferBytes;
    std::string buffer(size_t(std::min<uint64_t>(std::min<uint64_t>(hashBufferBytes, step), count)), '\0');
    const auto started = Clock::now();
    uint64_t position = 0;
    while (position < count) {
        if (bytesPerSecond) {
            std::this_thread::sleep_until(started + std::chrono::microseconds(position * 1'000'000 / bytesPerSecond));
        }
        if (stopped && *stopped) {
            return false;
        }
        const ssize_t read = ::pread(descriptor, buffer.data(),
                                     size_t(std::min<uint64_t>(buffer.size(), count - position)), off_t(position));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read <= 0) {
            return false;
        }
        EVP_DigestUpdate(digest, buffer.data(), size_t(read));
        position += uint64_t(read);
    }
    return true;
}

// What tells that a file's bytes may have been written to since: the file itself (its device and inode), its size,
// its modification time and its change time, to the nanosecond. A rewrite in place keeps the size, so the times tell
// it; one that puts the modification time back (a copy or a tag editor that keeps times) still sets the change time.
// A rename, a move, a new mode, a second name or an extended attribute sets the change time alone and leaves the bytes
// as they were, so a change time that moved alone is settled by the bytes themselves.
struct FileVersion
{
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNanoseconds = 0;
    int64_t changedNanoseconds = 0;

    bool operator==(const FileVersion &) const = default;

    static std::optional<FileVersion> of(int descriptor)
    {
        struct stat status
        {
        };
        if (::fstat(descriptor, &status) != 0) {
            return std::nullopt;
        }
        return FileVersion{uint64_t(status.st_dev), uint64_t(status.st_ino), uint64_t(status.st_size),
                           int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec,
                           int64_t(status.st_ctim.tv_sec) * 1'000'000'000 + status.st_ctim.tv_nsec};
    }
};

// Whether the file open as `descriptor`, which was `version` when its send began, still holds the `sentBytes` bytes
// sent from it, whose SHA-256 is `sentDigest`. Only a change time that moved alone costs a second read of those
// bytes; false also when they cannot all be read again or `stopped` became true meanwhile.
bool stillHoldsWhatWasSent(int descriptor, const FileVersion &version, uint64_t sentBytes,
                           const std::string &sentDigest, const std::atomic<bool> &stopped)
{
    const std::optional<FileVersion> now = FileVersion::of(descriptor);
    if (!now) {
        return false;
    }
    if (*now == version) {
        return true;
    }
    FileVersion changedAlone = version;
    changedAlone.changedNanoseconds = now->changedNanoseconds;
    if (*now != changedAlone) {
        return false;
    }
    DigestPointer digest = newDigest();
    return hashPrefix(descriptor, sentBytes, digest.get(), &stopped) && finishDigest(digest.get()) == sentDigest;
}

std::string idPayload(const std::string &transferId)
{
    return wire::FieldWriter().text(transferId).take();
}

// A cancel names whether the transfer was running on the cancelling side. One that was not (paused
// earlier) only asks the peer to drop the data it kept: it must not stop a new attempt the peer may have
// started under the same id meanwhile.
std::string cancelPayload(const std::string &transferId, bool wasRunning)
{
    return wire::FieldWriter().text(transferId).u8(wasRunning ? 1 : 0).take();
}

} // namespace

struct Session::Outgoing
{
    std::string id;
    std::string fileName;
    int descriptor = -1;
    uint64_t size = 0;
    // The file as it was when this attempt began: what is sent must be that file, not a mix of two versions.
    FileVersion version;
    std::shared_ptr<Link> link;
    std::atomic<bool> stopped = false;
    bool accepted = false;
    uint64_t sent = 0;
    Clock::time_point lastProgress{};

    ~Outgoing()
    {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
};

struct Session::InboxFolder
{
    explicit InboxFolder(int descriptor) : descriptor(descriptor) {}
    ~InboxFolder() { ::close(descriptor); }
    InboxFolder(const InboxFolder &) = delete;
    InboxFolder &operator=(const InboxFolder &) = delete;

    const int descriptor;
};

struct Session::Incoming
{
    std::string id;
    std::string fileName;
    std::string partialName;
    // Where the partial file lies; under the session's lock once the transfer is known.
    std::shared_ptr<InboxFolder> inbox;
    int descriptor = -1;
    uint64_t size = 0;
    uint64_t received = 0;             // what events report, under the session's lock
    std::atomic<uint64_t> written = 0; // what the receive worker wrote and hashed
    DigestPointer digest;
    Clock::time_point lastProgress{};
    std::atomic<bool> closed = false; // paused, cancelled, failed or finished: queued data is dropped
    // False while what a resumed transfer holds is being checked: the peer sends data only once accepted. Under the
    // session's lock.
    bool accepted = true;

    ~Incoming()
    {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
};

Session::Session(const std::string &inboxDirectory, std::shared_ptr<FileSync> sync)
    : m_inboxDirectory(inboxDirectory), m_sync(std::move(sync)),
      m_manifest(std::make_unique<InboxManifest>(-1, m_sync)), m_senders(std::make_unique<WorkerPool>("tavrine-send"))
{
    // A folder that cannot be used now is tried again at each offer: sending works meanwhile.
    std::string failure;
    usableInbox(failure);
    m_receiveWriter = std::thread(&Session::runReceiveStage, this, true);
    m_receiveHasher = std::thread(&Session::runReceiveStage, this, false);
}

Session::~Session()
{
    {
        std::unique_lock lock(m_mutex);
        for (auto &[id, transfer] : m_outgoing) {
            transfer->stopped = true;
        }
        for (auto &[id, transfer] : m_incoming) {
            transfer->closed = true;
        }
        m_sendersDone.wait(lock, [this] { return m_runningSenders == 0; });
        m_stopping = true;
    }
    m_writerWake.notify_all();
    m_hasherWake.notify_all();
    m_receiveWriter.join();
    m_receiveHasher.join();
    m_senders.reset();
    m_manifest.reset();
}

std::shared_ptr<Session::InboxFolder> Session::usableInbox(std::string &failure)
{
    std::lock_guard lock(m_inboxMutex);
    struct stat named
    {
    };
    struct stat opened
    {
    };
    if (m_inbox && ::stat(m_inboxDirectory.c_str(), &named) == 0 && ::fstat(m_inbox->descriptor, &opened) == 0 &&
        named.st_dev == opened.st_dev && named.st_ino == opened.st_ino && opened.st_nlink > 0) {
        return m_inbox;
    }
    // The folder went away, another came in its place, or it could not be used before: it is made where the
    // application wants it, as at the start.
    std::error_code ignored;
    std::filesystem::create_directories(m_inboxDirectory, ignored);
    const int descriptor =
        m_inboxDirectory.empty() ? -1 : ::open(m_inboxDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        const std::string reason = m_inboxDirectory.empty() ? "no folder was given" : std::strerror(errno);
        failure = "the inbox folder " + m_inboxDirectory + " cannot be used: " + reason;
        return nullptr;
    }
    auto folder = std::make_shared<InboxFolder>(descriptor);
    m_manifest->moveTo(descriptor);
    m_inbox = folder;
    return folder;
}

std::shared_ptr<Session::InboxFolder> Session::currentInbox()
{
    std::lock_guard lock(m_inboxMutex);
    return m_inbox;
}

bool Session::readyForFrames() const
{
    std::lock_guard lock(m_mutex);
    return !m_receiveHeld;
}

void Session::pushEvent(Event event)
{
    std::lock_guard lock(m_mutex);
    m_events.push_back(std::move(event));
}

std::optional<Event> Session::pollEvent()
{
    if (m_events.looksEmpty()) {
        return std::nullopt;
    }
    return m_events.takeFront();
}

void Session::attachLink(const std::shared_ptr<Link> &link)
{
    std::lock_guard lock(m_mutex);
    m_link = link;
}

bool Session::detachLink(const std::shared_ptr<Link> &link)
{
    std::lock_guard lock(m_mutex);
    if (!link || m_link != link) {
        return false;
    }
    m_link.reset();
    for (auto &[id, transfer] : m_outgoing) {
        transfer->stopped = true;
        m_events.push_back({EventKind::waitingForConnection,
                            Direction::sending,
                            id,
                            transfer->fileName,
                            transfer->sent,
                            transfer->size,
                            {},
                            {},
                            "the connection was lost"});
    }
    m_outgoing.clear();
    for (auto &[id, transfer] : m_incoming) {
        transfer->closed = true;
        m_events.push_back({EventKind::waitingForConnection,
                            Direction::receiving,
                            id,
                            transfer->fileName,
                            std::max(transfer->received, transfer->written.load()),
                            transfer->size,
                            {},
                            {},
                            "the connection was lost"});
    }
    m_incoming.clear();
    m_openRequests.clear();
    m_openRequestBytes = 0;
    m_requests.clear();
    m_sentRequests.clear();
    return true;
}

std::shared_ptr<Link> Session::link() const
{
    std::lock_guard lock(m_mutex);
    return m_link;
}

std::string Session::partialName(const std::string &transferId)
{
    return ".tavrine-incoming-" + hexText(sha256(transferId).substr(0, 16)) + ".part";
}

void Session::sendFile(int descriptor, const std::string &fileName, uint64_t size, const std::string &transferId)
{
    auto transfer = std::make_shared<Outgoing>();
    transfer->descriptor = descriptor;
    const std::optional<FileVersion> version = FileVersion::of(descriptor);
    if (!version) {
        throw CoreError(CoreError::Kind::FileAccess, std::strerror(errno));
    }
    transfer->version = *version;
    std::lock_guard lock(m_mutex);
    if (transferId.empty() || transferId.size() > maximumTransferIdBytes) {
        throw CoreError(CoreError::Kind::InvalidTransferId);
    }
    if (!m_link) {
        throw CoreError(CoreError::Kind::NotConnected);
    }
    if (m_outgoing.count(transferId) || m_incoming.count(transferId)) {
        throw CoreError(CoreError::Kind::InvalidTransferId);
    }
    transfer->id = transferId;
    // The peer repairs the name the same way, so both sides report the same text.
    transfer->fileName = fileName.empty() ? "file" : validUtf8(fileName);
    transfer->size = size;
    transfer->link = m_link;
    m_outgoing[transferId] = transfer;
    m_events.push_back({EventKind::queued, Direction::sending, transferId, transfer->fileName, 0, size, {}, {}, {}});
    const bool eager = size <= eagerTransferBytes;
    m_link->sendControl(
        wire::FrameType::offer,
        wire::FieldWriter().text(transferId).text(transfer->fileName).u64(size).u8(eager ? 1 : 0).take());
    if (eager) {
        // The offer is a control frame and goes out before any data.
        transfer->accepted = true;
        ++m_runningSenders;
        m_senders->run([this, transfer] { runSender(transfer, 0); });
    }
}

void Session::emitProgress(Outgoing &transfer, uint64_t transferred, bool force)
{
    std::lock_guard lock(m_mutex);
    transfer.sent = transferred;
    const auto now = Clock::now();
    const auto found = m_outgoing.find(transfer.id);
    if (transfer.stopped || found == m_outgoing.end() || found->second.get() != &transfer) {
        return;
    }
    if (force || now - transfer.lastProgress >= progressInterval) {
        transfer.lastProgress = now;
        m_events.push_back({EventKind::sending,
                            Direction::sending,
                            transfer.id,
                            transfer.fileName,
                            transferred,
                            transfer.size,
                            {},
                            {},
                            {}});
    }
}

void Session::runSender(std::shared_ptr<Outgoing> transfer, uint64_t offset)
{
    // Runs last, once everything below is gone.
    const auto finished = std::shared_ptr<void>(nullptr, [this](void *) {
        std::lock_guard lock(m_mutex);
        --m_runningSenders;
        m_sendersDone.notify_all();
    });
    const auto fail = [&](const std::string &message) {
        if (!transfer->stopped) {
            transfer->link->sendControl(wire::FrameType::cancel, cancelPayload(transfer->id, true));
            closeOutgoing(transfer->id, EventKind::failed, message);
        }
    };
    try {
        DigestPointer digest = newDigest();
        if (!hashPrefix(transfer->descriptor, offset, digest.get(), &transfer->stopped)) {
            fail("the file could not be read");
            return;
        }
        emitProgress(*transfer, offset, true);
        // Each chunk is hashed here while the link encrypts the ones queued before it. A large file is read ahead
        // on a thread of its own, so reading and hashing overlap; frames change hands in batches.
        const std::string header = wire::FieldWriter().text(transfer->id).take();
        std::shared_ptr<ChunkReader> reader;
        if (transfer->size - offset > readAheadMinimumBytes) {
            reader = std::make_shared<ChunkReader>(transfer->descriptor, offset, transfer->size, header);
            try {
                m_senders->run([reader] { reader->run(); });
            } catch (...) {
                reader->cancelRun();
                throw;
            }
        }
        // The reader is done with the descriptor before the transfer can close it.
        const auto stopReader = std::shared_ptr<void>(nullptr, [&reader](void *) {
            if (reader) {
                reader->stopAndWait();
            }
        });
        uint64_t position = offset;
        while (position < transfer->size) {
            const size_t count = size_t(std::min<uint64_t>(wire::chunkBytes, transfer->size - position));
            std::optional<std::string> frame =
                reader ? reader->next() : ChunkReader::readFrame(transfer->descriptor, header, position, count);
            if (!frame) {
                // Shorter than announced: the file changed (or vanished) while it was being sent.
                fail("the file changed while it was being sent");
                return;
            }
            EVP_DigestUpdate(digest.get(), frame->data() + wire::frameHeaderBytes + header.size(), count);
            if (!transfer->link->sendData(transfer->id, std::move(*frame), transfer->stopped)) {
                return;
            }
            position += count;
            if (position < transfer->size) {
                emitProgress(*transfer, position, false);
            }
        }
        // Checked after the last read and before the digest goes: a write anywhere in the file while it was read,
        // also in place at the same size, would make the copy neither the old file nor the new one. The reader is
        // done with the descriptor first, as the check may read the file again.
        if (reader) {
            reader->stopAndWait();
        }
        const std::string sentDigest = finishDigest(digest.get());
        if (!stillHoldsWhatWasSent(transfer->descriptor, transfer->version, transfer->size, sentDigest,
                                   transfer->stopped)) {
            fail("the file changed while it was being sent");
            return;
        }
        emitProgress(*transfer, transfer->size, true);
        std::string end =
            wire::encodeFrame(wire::FrameType::end, wire::FieldWriter().text(transfer->id).raw(sentDigest).take());
        // The end travels behind the data, in the same queue, so it can never overtake it.
        transfer->link->sendData(transfer->id, std::move(end), transfer->stopped);
    } catch (const std::exception &error) {
        closeOutgoing(transfer->id, EventKind::failed, error.what());
    }
}

void Session::closeOutgoing(const std::string &transferId, EventKind kind, const std::string &message)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_outgoing.find(transferId);
    if (found == m_outgoing.end()) {
        return;
    }
    const std::shared_ptr<Outgoing> transfer = found->second;
    transfer->stopped = true;
    transfer->link->dropData(transferId);
    m_outgoing.erase(found);
    const uint64_t transferred = kind == EventKind::completed ? transfer->size : transfer->sent;
    m_events.push_back(
        {kind, Direction::sending, transferId, transfer->fileName, transferred, transfer->size, {}, {}, message});
}

void Session::closeIncoming(const std::string &transferId, EventKind kind, const std::string &message,
                            bool removePartial)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_incoming.find(transferId);
    if (found == m_incoming.end()) {
        return;
    }
    found->second->closed = true;
    if (removePartial) {
        ::unlinkat(found->second->inbox->descriptor, found->second->partialName.c_str(), 0);
    }
    m_events.push_back({kind,
                        Direction::receiving,
                        transferId,
                        found->second->fileName,
                        std::max(found->second->received, found->second->written.load()),
                        found->second->size,
                        {},
                        {},
                        message});
    m_incoming.erase(found);
}

bool Session::pauseTransfer(const std::string &transferId)
{
    std::shared_ptr<Link> link = this->link();
    bool known = false;
    {
        std::lock_guard lock(m_mutex);
        known = m_outgoing.count(transferId) || m_incoming.count(transferId);
    }
    if (!known) {
        return false;
    }
    if (link) {
        link->sendControl(wire::FrameType::pause, idPayload(transferId));
    }
    closeOutgoing(transferId, EventKind::paused, {});
    closeIncoming(transferId, EventKind::paused, {}, false);
    return true;
}

bool Session::cancelTransfer(const std::string &transferId)
{
    std::shared_ptr<Link> link = this->link();
    bool known = false;
    {
        std::lock_guard lock(m_mutex);
        known = m_outgoing.count(transferId) || m_incoming.count(transferId);
    }
    // Also for a transfer paused earlier: the peer drops what it kept, and so do we.
    if (link) {
        link->sendControl(wire::FrameType::cancel, cancelPayload(transferId, known));
    }
    closeOutgoing(transferId, EventKind::cancelled, {});
    closeIncoming(transferId, EventKind::cancelled, {}, true);
    const std::shared_ptr<InboxFolder> inbox = currentInbox();
    const bool removedPartial = inbox && ::unlinkat(inbox->descriptor, partialName(transferId).c_str(), 0) == 0;
    return known || removedPartial || link != nullptr;
}

bool Session::acknowledgeReceivedTransfer(const std::string &transferId)
{
    // The copy to remove lies in the inbox as it stands now, also when the folder was made again meanwhile.
    std::string failure;
    usableInbox(failure);
    std::lock_guard lock(m_inboxMutex);
    return m_manifest->acknowledge(transferId);
}

std::string Session::requestManagement(const std::string &action, const std::string &payload)
{
    std::lock_guard lock(m_mutex);
    if (!m_link) {
        throw CoreError(CoreError::Kind::NotConnected);
    }
    if (action.empty() || action.size() > wire::maximumTextBytes) {
        throw CoreError(CoreError::Kind::InvalidManagementRequest, "the action name is empty or too long");
    }
    if (payload.size() > wire::maximumPayloadBytes - wire::maximumTextBytes) {
        throw CoreError(CoreError::Kind::InvalidManagementRequest, "the payload is too large");
    }
    std::string requestId = randomUuid();
    m_sentRequests[requestId] = action;
    m_link->sendControl(wire::FrameType::managementRequest,
                        wire::FieldWriter().text(requestId).text(action).text(payload).take());
    return requestId;
}

std::optional<ManagementResponse> Session::pollManagementResponse()
{
    if (m_responses.looksEmpty()) {
        return std::nullopt;
    }
    return m_responses.takeFront();
}

std::optional<ManagementRequest> Session::pollManagementRequest()
{
    if (m_requests.looksEmpty()) {
        return std::nullopt;
    }
    return m_requests.takeFront();
}

bool Session::respondManagement(const std::string &requestId, bool success, const std::string &payload,
                                const std::string &message)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_openRequests.find(requestId);
    if (!m_link || found == m_openRequests.end()) {
        return false;
    }
    const std::string action = found->second.action;
    m_openRequestBytes -= found->second.bytes;
    m_openRequests.erase(found);
    if (payload.size() + message.size() > wire::maximumPayloadBytes - 2 * wire::maximumTextBytes) {
        m_link->sendControl(
            wire::FrameType::managementResponse,
            wire::FieldWriter().text(requestId).text(action).u8(0).text({}).text("the answer is too large").take());
        return true;
    }
    m_link->sendControl(
        wire::FrameType::managementResponse,
        wire::FieldWriter().text(requestId).text(action).u8(success ? 1 : 0).text(payload).text(message).take());
    return true;
}

void Session::handleOffer(const std::shared_ptr<Link> &link, wire::FieldReader &reader)
{
    const std::string transferId = reader.text(maximumTransferIdBytes);
    const std::string fileName = sanitizedFileName(reader.text());
    const uint64_t size = reader.u64();
    // The data follows the offer from its first byte, without waiting for an accept.
    const bool eager = reader.u8() != 0;
    reader.finish();
    if (transferId.empty()) {
        throw wire::ProtocolError("a transfer without an id");
    }

    auto transfer = std::make_shared<Incoming>();
    transfer->id = transferId;
    transfer->fileName = fileName;
    transfer->size = size;
    transfer->partialName = partialName(transferId);
    transfer->digest = newDigest();

    const auto refuse = [&](const std::string &message) {
        link->sendControl(wire::FrameType::done, wire::FieldWriter().text(transferId).u8(0).text(message).take());
        std::lock_guard lock(m_mutex);
        m_events.push_back({EventKind::failed, Direction::receiving, transferId, fileName, 0, size, {}, {}, message});
    };

    {
        std::lock_guard lock(m_mutex);
        if (m_incoming.size() >= maximumIncomingTransfers && !m_incoming.count(transferId)) {
            link->sendControl(wire::FrameType::done,
                              wire::FieldWriter().text(transferId).u8(0).text("too many transfers at once").take());
            return;
        }
    }
    std::string failure;
    transfer->inbox = usableInbox(failure);
    if (!transfer->inbox) {
        refuse(failure);
        return;
    }
    // A transfer that arrived whole before is offered again when the sender never heard that it did (its "done" was
    // lost, or the sender's record of it): it is done, and a file still waiting is delivered from where it is,
    // instead of a second copy.
    std::string waitingName;
    InboxManifest::Receipt receipt = InboxManifest::Receipt::toTake;
    {
        std::lock_guard lock(m_inboxMutex);
        receipt = m_manifest->receivedBefore(transferId, size, waitingName);
    }
    if (receipt != InboxManifest::Receipt::toTake) {
        link->sendControl(wire::FrameType::done, wire::FieldWriter().text(transferId).u8(1).text({}).take());
        if (receipt == InboxManifest::Receipt::waiting) {
            std::lock_guard lock(m_mutex);
            m_events.push_back(
                {EventKind::completed, Direction::receiving, transferId, waitingName, size, size, {}, {}, {}});
        }
        return;
    }
    transfer->descriptor = openPartialFile(transfer->inbox->descriptor, transfer->partialName);
    struct stat status
    {
    };
    if (transfer->descriptor < 0 || ::fstat(transfer->descriptor, &status) != 0) {
        refuse("the inbox folder " + m_inboxDirectory + " cannot be written: " + std::strerror(errno));
        return;
    }
    uint64_t held = uint64_t(status.st_size);
    // What is already here is kept only when it can be the start of this file.
    if (eager || held > size) {
        if (::ftruncate(transfer->descriptor, 0) != 0) {
            refuse("the inbox folder " + m_inboxDirectory + " cannot be written: " + std::strerror(errno));
            return;
        }
        held = 0;
    }
    transfer->received = held;
    transfer->written = held;
    transfer->accepted = held == 0;
    {
        std::lock_guard lock(m_mutex);
        transfer->lastProgress = Clock::now();
        m_events.push_back({EventKind::receiving, Direction::receiving, transferId, fileName, held, size, {}, {}, {}});
        if (const auto previous = m_incoming.find(transferId); previous != m_incoming.end()) {
            previous->second->closed = true;
        }
        m_incoming[transferId] = transfer;
        if (held > 0) {
            ++m_runningSenders;
        }
    }
    if (held > 0) {
        try {
            m_senders->run([this, transfer, link, held] { checkHeldPart(transfer, link, held); });
        } catch (...) {
            std::lock_guard lock(m_mutex);
            --m_runningSenders;
            m_sendersDone.notify_all();
            throw;
        }
    } else if (!eager) {
        link->sendControl(wire::FrameType::accept, wire::FieldWriter().text(transferId).u64(0).take());
    }
}

void Session::checkHeldPart(const std::shared_ptr<Incoming> &transfer, const std::shared_ptr<Link> &link, uint64_t held)
{
    const auto finished = std::shared_ptr<void>(nullptr, [this](void *) {
        std::lock_guard lock(m_mutex);
        --m_runningSenders;
        m_sendersDone.notify_all();
    });
    // Only this thread touches the transfer's file and digest until it is accepted: the peer sends nothing before.
    const bool readable =
        hashPrefix(transfer->descriptor, held, transfer->digest.get(), &transfer->closed, heldPartReadPace());
    std::lock_guard lock(m_mutex);
    const auto found = m_incoming.find(transfer->id);
    if (transfer->closed || found == m_incoming.end() || found->second != transfer) {
        return;
    }
    uint64_t offset = held;
    if (!readable) {
        // What is held cannot be read back: the file comes again from its first byte.
        try {
            transfer->digest = newDigest();
        } catch (const std::exception &error) {
            failIncoming(transfer, error.what());
            return;
        }
        if (::ftruncate(transfer->descriptor, 0) != 0) {
            failIncoming(transfer,
                         "the inbox folder " + m_inboxDirectory + " cannot be written: " + std::strerror(errno));
            return;
        }
        offset = 0;
        transfer->received = 0;
        transfer->written = 0;
    }
    ::lseek(transfer->descriptor, off_t(offset), SEEK_SET);
    transfer->accepted = true;
    link->sendControl(wire::FrameType::accept, wire::FieldWriter().text(transfer->id).u64(offset).take());
}

void Session::handleData(wire::Frame &frame)
{
    wire::FieldReader reader(frame.payload);
    const std::string transferId = reader.text(maximumTransferIdBytes);
    const size_t offset = frame.payload.size() - reader.rest().size();
    queueReceiveJob(transferId, std::move(frame.payload), offset, false);
}

void Session::handleEnd(wire::FieldReader &reader)
{
    const std::string transferId = reader.text(maximumTransferIdBytes);
    std::string digest(reader.rest());
    queueReceiveJob(transferId, std::move(digest), 0, true);
}

void Session::queueReceiveJob(const std::string &transferId, std::string payload, size_t offset, bool end)
{
    std::shared_ptr<Incoming> transfer;
    StagesToWake stages;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_incoming.find(transferId);
        if (found == m_incoming.end() || !found->second->accepted) {
            // Data of a transfer paused or cancelled a moment ago, or sent before it was accepted.
            return;
        }
        // Never waits: the link asks readyForFrames() before it reads, so it keeps sending while the disk catches
        // up. Only the link's thread queues jobs, so an empty queue stays empty while the job is done here. A file's
        // end always goes to the writer: making the file durable (or carrying it over to an inbox made again) takes
        // the disk's time, which the link's thread does not wait for.
        if (!m_receiveJobs.empty() || payload.size() > inlineReceiveBytes || end) {
            m_queuedEnds += end ? 1 : 0;
            m_receiveBytes += payload.size();
            m_receiveHeld = m_receiveHeld || m_receiveBytes >= maximumQueuedReceiveBytes;
            // A file's end with every byte before it hashed needs nothing of the hasher, which is then not woken.
            const bool hashed = end && m_nextToHash == m_receiveJobs.size();
            m_receiveJobs.push_back(std::make_shared<ReceiveJob>(
                ReceiveJob{found->second, std::move(payload), offset, end, false, hashed}));
            m_nextToHash += hashed ? 1 : 0;
            m_receiveJobsQueued.fetch_add(1, std::memory_order_relaxed);
            stages = receiveStagesToWake(m_receiveHeld);
        } else {
            transfer = found->second;
        }
    }
    if (!transfer) {
        wakeReceiveStages(stages);
        return;
    }
    // Small and with nothing before it: done at once, sparing two threads a wake-up, which is what small files
    // one after another mostly cost.
    if (transfer->closed) {
        return;
    }
    const std::string_view bytes = std::string_view(payload).substr(offset);
    EVP_DigestUpdate(transfer->digest.get(), bytes.data(), bytes.size());
    writeChunk(transfer, bytes);
}

void Session::flushReceived()
{
    std::unique_lock lock(m_mutex);
    const StagesToWake stages = receiveStagesToWake(true);
    lock.unlock();
    wakeReceiveStages(stages);
}

void Session::retireReceiveJobs()
{
    while (!m_receiveJobs.empty() && m_receiveJobs.front()->written && m_receiveJobs.front()->hashed) {
        m_receiveBytes -= m_receiveJobs.front()->payload.size();
        wire::recycleBuffer(std::move(m_receiveJobs.front()->payload));
        m_receiveJobs.pop_front();
        --m_nextToWrite;
        --m_nextToHash;
    }
    if (m_receiveHeld && m_receiveBytes <= maximumQueuedReceiveBytes / 2) {
        m_receiveHeld = false;
        if (m_link) {
            m_link->resumeReading();
        }
    }
}

bool Session::receiveStageHasWork(bool writer) const
{
    const size_t next = writer ? m_nextToWrite : m_nextToHash;
    if (m_stopping) {
        return true;
    }
    if (next >= m_receiveJobs.size()) {
        return false;
    }
    // The hasher goes in order: once it is past a file's end, the digest holds the whole file and the writer may
    // end it.
    return !writer || !m_receiveJobs[next]->end || m_receiveJobs[next]->hashed;
}

Session::StagesToWake Session::receiveStagesToWake(bool whole)
{
    const auto due = [&](bool writer, bool sleeping) {
        if (!sleeping || !receiveStageHasWork(writer)) {
            return false;
        }
        // A file's end goes through at once, so that the file completes without waiting for the next one's data.
        const size_t next = writer ? m_nextToWrite : m_nextToHash;
        return whole || m_stopping || m_receiveJobs.back()->end || m_receiveJobs.size() - next >= receiveBatchJobs;
    };
    StagesToWake stages;
    stages.writer = due(true, m_writerSleeping);
    stages.hasher = due(false, m_hasherSleeping);
    // Asked once: a stage that was told stays awake until it has nothing left.
    m_writerSleeping = m_writerSleeping && !stages.writer;
    m_hasherSleeping = m_hasherSleeping && !stages.hasher;
    return stages;
}

void Session::wakeReceiveStages(StagesToWake stages)
{
    if (stages.writer) {
        m_writerWake.notify_one();
    }
    if (stages.hasher) {
        m_hasherWake.notify_one();
    }
}

void Session::runReceiveStage(bool writer)
{
    ::pthread_setname_np(::pthread_self(), writer ? "tavrine-write" : "tavrine-hash");
    size_t Session::*const next = writer ? &Session::m_nextToWrite : &Session::m_nextToHash;
    bool ReceiveJob::*const done = writer ? &ReceiveJob::written : &ReceiveJob::hashed;
    bool Session::*const sleeping = writer ? &Session::m_writerSleeping : &Session::m_hasherSleeping;
    std::condition_variable &wake = writer ? m_writerWake : m_hasherWake;
    std::unique_lock lock(m_mutex);
    bool finishedFile = false;
    while (true) {
        while (!receiveStageHasWork(writer)) {
            if (finishedFile) {
                // Files tend to come one after another: after a file's end the writer looks again for a moment
                // before it sleeps, so that it is not woken for each of the next ones.
                finishedFile = false;
                const uint64_t queued = m_receiveJobsQueued.load(std::memory_order_relaxed);
                lock.unlock();
                const auto until = Clock::now() + lookAgainSpell;
                while (m_receiveJobsQueued.load(std::memory_order_relaxed) == queued && Clock::now() < until) {
                    std::this_thread::yield();
                }
                lock.lock();
                continue;
            }
            this->*sleeping = true;
            wake.wait(lock);
            this->*sleeping = false;
        }
        if (m_stopping) {
            if (writer) {
                lock.unlock();
                reportPlaced();
            }
            return;
        }
        const std::shared_ptr<ReceiveJob> job = m_receiveJobs[this->*next];
        if (writer && job->end) {
            --m_queuedEnds;
            finishedFile = true;
        }
        lock.unlock();
        if (!job->transfer->closed) {
            const std::string_view bytes = std::string_view(job->payload).substr(job->offset);
            if (!writer) {
                if (!job->end) {
                    EVP_DigestUpdate(job->transfer->digest.get(), bytes.data(), bytes.size());
                }
            } else if (job->end) {
                finishIncoming(job->transfer, job->payload);
            } else {
                writeChunk(job->transfer, bytes);
            }
        }
        lock.lock();
        (*job).*done = true;
        ++(this->*next);
        retireReceiveJobs();
        // The hasher past a file's end lets the writer finish that file.
        const StagesToWake stages = receiveStagesToWake(job->end);
        // The files placed are reported once nothing queued would place another, so that one sync of the folder
        // serves them all; a long run of small files is reported now and then.
        const bool report =
            writer && !m_placed.empty() && (m_queuedEnds == 0 || m_placed.size() >= maximumPlacedBeforeReport);
        if (stages.writer || stages.hasher || report) {
            lock.unlock();
            wakeReceiveStages(stages);
            if (report) {
                reportPlaced();
            }
            lock.lock();
        }
    }
}

void Session::failIncoming(const std::shared_ptr<Incoming> &transfer, const std::string &failure)
{
    const auto found = m_incoming.find(transfer->id);
    if (found == m_incoming.end() || found->second != transfer) {
        return;
    }
    transfer->closed = true;
    ::unlinkat(transfer->inbox->descriptor, transfer->partialName.c_str(), 0);
    if (m_link) {
        m_link->sendControl(wire::FrameType::done, wire::FieldWriter().text(transfer->id).u8(0).text(failure).take());
    }
    m_events.push_back({EventKind::failed,
                        Direction::receiving,
                        transfer->id,
                        transfer->fileName,
                        transfer->received,
                        transfer->size,
                        {},
                        {},
                        failure});
    m_incoming.erase(found);
}

void Session::writeChunk(const std::shared_ptr<Incoming> &transfer, std::string_view bytes)
{
    std::string failure;
    if (bytes.size() > transfer->size - transfer->written) {
        failure = "more data arrived than the file holds";
    } else if (!writeFully(transfer->descriptor, bytes)) {
        failure = std::string("the file could not be written: ") + std::strerror(errno);
    } else {
        transfer->written += bytes.size();
    }
    std::lock_guard lock(m_mutex);
    if (!failure.empty()) {
        failIncoming(transfer, failure);
        return;
    }
    const auto found = m_incoming.find(transfer->id);
    if (found == m_incoming.end() || found->second != transfer) {
        return;
    }
    transfer->received = transfer->written;
    const auto now = Clock::now();
    if (now - transfer->lastProgress >= progressInterval) {
        transfer->lastProgress = now;
        m_events.push_back({EventKind::receiving,
                            Direction::receiving,
                            transfer->id,
                            transfer->fileName,
                            transfer->received,
                            transfer->size,
                            {},
                            {},
                            {}});
    }
}

bool Session::moveIntoInbox(const std::shared_ptr<Incoming> &transfer, const std::shared_ptr<InboxFolder> &folder,
                            std::string &failure)
{
    const int moved = openPartialFile(folder->descriptor, transfer->partialName);
    if (moved < 0 || ::ftruncate(moved, 0) != 0 || !copyFileContents(transfer->descriptor, moved, transfer->written)) {
        failure = "the inbox folder " + m_inboxDirectory + " cannot be written: " + std::strerror(errno);
        if (moved >= 0) {
            ::close(moved);
            ::unlinkat(folder->descriptor, transfer->partialName.c_str(), 0);
        }
        return false;
    }
    std::lock_guard lock(m_mutex);
    // Where the folder was only moved away, the part left in it is ours to remove.
    struct stat left
    {
    };
    struct stat opened
    {
    };
    if (::fstatat(transfer->inbox->descriptor, transfer->partialName.c_str(), &left, AT_SYMLINK_NOFOLLOW) == 0 &&
        ::fstat(transfer->descriptor, &opened) == 0 && left.st_dev == opened.st_dev && left.st_ino == opened.st_ino) {
        ::unlinkat(transfer->inbox->descriptor, transfer->partialName.c_str(), 0);
    }
    ::close(transfer->descriptor);
    transfer->descriptor = moved;
    transfer->inbox = folder;
    return true;
}

void Session::finishIncoming(const std::shared_ptr<Incoming> &transfer, const std::string &expectedDigest)
{
    // The inbox was removed (or replaced) while the file arrived: it is made again, and the bytes go there, so that
    // the file lands where the application looks for it.
    std::string failure;
    const std::shared_ptr<InboxFolder> inbox = usableInbox(failure);
    if (inbox != transfer->inbox && !transfer->closed && (!inbox || !moveIntoInbox(transfer, inbox, failure))) {
        std::lock_guard lock(m_mutex);
        failIncoming(transfer, failure);
        return;
    }
    const auto isCurrent = [&] {
        const auto found = m_incoming.find(transfer->id);
        return found != m_incoming.end() && found->second == transfer;
    };
    {
        std::lock_guard lock(m_mutex);
        if (!isCurrent()) {
            return;
        }
        if (transfer->written != transfer->size) {
            failIncoming(transfer, "the file ended early");
            return;
        }
        if (!constantTimeEquals(finishDigest(transfer->digest.get()), expectedDigest)) {
            failIncoming(transfer, "the file arrived damaged");
            return;
        }
    }
    // The bytes are on the disk before the file takes its name, so that a power cut never leaves the name on a file
    // short of them. Outside the lock: the link goes on meanwhile.
    const bool synced = m_sync->syncData(transfer->descriptor);
    const int syncError = errno;
    std::lock_guard lock(m_mutex);
    // Paused or cancelled meanwhile.
    if (!isCurrent()) {
        return;
    }
    if (!synced) {
        failIncoming(transfer, std::string("the file could not be written: ") + std::strerror(syncError));
        return;
    }
    {
        // Said before the file takes its name, so that a stop between the two still finds it received at the next
        // start; placing keeps the file's identity.
        struct stat complete
        {
        };
        std::lock_guard inboxLock(m_inboxMutex);
        if (transfer->inbox == m_inbox && ::fstat(transfer->descriptor, &complete) == 0) {
            m_manifest->recordPlacing(transfer->id, transfer->fileName, FileIdentity::of(complete));
        }
    }
    const std::optional<std::string> placedName = placeWithoutOverwriting(
        transfer->inbox->descriptor, transfer->descriptor, transfer->partialName, transfer->fileName);
    struct stat placed
    {
    };
    const bool known = placedName && ::fstat(transfer->descriptor, &placed) == 0;
    ::close(transfer->descriptor);
    transfer->descriptor = -1;
    if (!placedName) {
        failIncoming(transfer, std::string("the file could not be placed in the inbox: ") + std::strerror(errno));
        return;
    }
    transfer->closed = true;
    const std::optional<FileIdentity> identity = known ? std::optional(FileIdentity::of(placed)) : std::nullopt;
    {
        std::lock_guard inboxLock(m_inboxMutex);
        // Recorded only where it was placed: a folder replaced since knows nothing of it.
        if (transfer->inbox == m_inbox) {
            m_manifest->recordReceived(transfer->id, *placedName, identity.value_or(FileIdentity{}));
        }
    }
    m_incoming.erase(transfer->id);
    m_placed.push_back({transfer->id, *placedName, transfer->size, transfer->inbox, identity});
}

void Session::reportPlaced()
{
    size_t count = 0;
    std::vector<std::shared_ptr<InboxFolder>> folders;
    {
        std::lock_guard lock(m_mutex);
        count = m_placed.size();
        for (const PlacedFile &file : m_placed) {
            if (std::find(folders.begin(), folders.end(), file.inbox) == folders.end()) {
                folders.push_back(file.inbox);
            }
        }
    }
    if (count == 0) {
        return;
    }
    // The journal's lines naming the files first, then the names themselves: one sync of each serves every file
    // placed. The journal is synced through a descriptor of its own, so that acknowledgements do not wait for it.
    int journal = -1;
    {
        std::lock_guard inboxLock(m_inboxMutex);
        if (m_manifest->journalDescriptor() >= 0) {
            journal = ::fcntl(m_manifest->journalDescriptor(), F_DUPFD_CLOEXEC, 0);
        }
    }
    if (journal >= 0) {
        // A journal that cannot be synced loses at most what a later acknowledgement after a power cut needs; the
        // files themselves are not at stake.
        m_sync->syncData(journal);
        ::close(journal);
    }
    std::map<const InboxFolder *, int> failedFolders; // the error of each folder whose names could not be synced
    for (const std::shared_ptr<InboxFolder> &folder : folders) {
        if (!m_sync->syncFolder(folder->descriptor) && !folderSyncLosesNothing(errno)) {
            failedFolders[folder.get()] = errno;
        }
    }

    std::lock_guard lock(m_mutex);
    for (size_t index = 0; index < count; ++index) {
        const PlacedFile &file = m_placed[index];
        const auto failed = failedFolders.find(file.inbox.get());
        if (failed == failedFolders.end()) {
            if (m_link) {
                m_link->sendControl(wire::FrameType::done,
                                    wire::FieldWriter().text(file.transferId).u8(1).text({}).take());
            }
            m_events.push_back({EventKind::completed,
                                Direction::receiving,
                                file.transferId,
                                file.fileName,
                                file.size,
                                file.size,
                                {},
                                {},
                                {}});
            continue;
        }
        // Its name may not outlast a power cut: it is taken back (while it is still the file placed), so that the
        // sender's next attempt brings it again rather than finding it here.
        struct stat status
        {
        };
        if (file.identity &&
            ::fstatat(file.inbox->descriptor, file.fileName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            FileIdentity::of(status) == *file.identity) {
            ::unlinkat(file.inbox->descriptor, file.fileName.c_str(), 0);
        }
        const std::string message =
            std::string("the file could not be placed in the inbox: ") + std::strerror(failed->second);
        if (m_link) {
            m_link->sendControl(wire::FrameType::done,
                                wire::FieldWriter().text(file.transferId).u8(0).text(message).take());
        }
        m_events.push_back({EventKind::failed,
                            Direction::receiving,
                            file.transferId,
                            file.fileName,
                            file.size,
                            file.size,
                            {},
                            {},
                            message});
    }
    m_placed.erase(m_placed.begin(), m_placed.begin() + ptrdiff_t(count));
}

void Session::reportWaitingFiles()
{
    std::vector<InboxManifest::Waiting> waiting;
    {
        std::lock_guard inboxLock(m_inboxMutex);
        waiting = m_manifest->waitingFiles();
    }
    std::lock_guard lock(m_mutex);
    for (InboxManifest::Waiting &file : waiting) {
        m_events.push_back({EventKind::completed,
                            Direction::receiving,
                            std::move(file.transferId),
                            std::move(file.fileName),
                            file.size,
                            file.size,
                            {},
                            {},
                            {}});
    }
}

bool Session::handleFrame(const std::shared_ptr<Link> &link, wire::Frame &frame)
{
    using wire::FrameType;
    switch (frame.type) {
    case FrameType::offer:
    case FrameType::accept:
    case FrameType::data:
    case FrameType::end:
    case FrameType::done:
    case FrameType::pause:
    case FrameType::cancel:
    case FrameType::managementRequest:
    case FrameType::managementResponse:
        break;
    default:
        return false;
    }
    if (this->link() != link) {
        return true;
    }
    wire::FieldReader reader(frame.payload);
    switch (frame.type) {
    case FrameType::offer:
        handleOffer(link, reader);
        break;
    case FrameType::accept: {
        const std::string transferId = reader.text(maximumTransferIdBytes);
        const uint64_t offset = reader.u64();
        reader.finish();
        std::lock_guard lock(m_mutex);
        const auto found = m_outgoing.find(transferId);
        if (found != m_outgoing.end() && !found->second->accepted) {
            found->second->accepted = true;
            ++m_runningSenders;
            m_senders->run([this, transfer = found->second, start = std::min(offset, found->second->size)] {
                runSender(transfer, start);
            });
        }
        break;
    }
    case FrameType::data:
        handleData(frame);
        break;
    case FrameType::end:
        handleEnd(reader);
        break;
    case FrameType::done: {
        const std::string transferId = reader.text(maximumTransferIdBytes);
        const bool success = reader.u8() != 0;
        const std::string message = reader.text();
        reader.finish();
        closeOutgoing(transferId, success ? EventKind::completed : EventKind::failed, message);
        break;
    }
    case FrameType::pause: {
        const std::string transferId = reader.text(maximumTransferIdBytes);
        reader.finish();
        closeOutgoing(transferId, EventKind::paused, {});
        closeIncoming(transferId, EventKind::paused, {}, false);
        break;
    }
    case FrameType::cancel: {
        const std::string transferId = reader.text(maximumTransferIdBytes);
        const bool wasRunning = reader.u8() != 0;
        reader.finish();
        if (wasRunning) {
            closeOutgoing(transferId, EventKind::cancelled, {});
        }
        closeIncoming(transferId, EventKind::cancelled, {}, true);
        if (const std::shared_ptr<InboxFolder> inbox = currentInbox()) {
            ::unlinkat(inbox->descriptor, partialName(transferId).c_str(), 0);
        }
        break;
    }
    case FrameType::managementRequest: {
        ManagementRequest request;
        request.requestId = reader.text();
        request.action = reader.text();
        request.payload = reader.text(wire::maximumPayloadBytes);
        reader.finish();
        std::lock_guard lock(m_mutex);
        // Requests wait here until this side answers them; a peer may not pile them up without end.
        const size_t bytes = request.requestId.size() + request.action.size() + request.payload.size();
        if (m_openRequests.count(request.requestId) || m_openRequests.size() >= maximumOpenRequests ||
            m_openRequestBytes + bytes > maximumOpenRequestBytes) {
            link->sendControl(FrameType::managementResponse, wire::FieldWriter()
                                                                 .text(request.requestId)
                                                                 .text(request.action)
                                                                 .u8(0)
                                                                 .text({})
                                                                 .text("too many requests at once")
                                                                 .take());
            break;
        }
        m_openRequests[request.requestId] = {request.action, bytes};
        m_openRequestBytes += bytes;
        m_requests.push_back(std::move(request));
        break;
    }
    case FrameType::managementResponse: {
        ManagementResponse response;
        response.requestId = reader.text();
        response.action = reader.text();
        response.success = reader.u8() != 0;
        response.payload = reader.text(wire::maximumPayloadBytes);
        response.message = reader.text();
        reader.finish();
        std::lock_guard lock(m_mutex);
        // Only answers to requests of this link count; the asking side's own record names the action.
        const auto sent = m_sentRequests.find(response.requestId);
        if (sent == m_sentRequests.end()) {
            break;
        }
        response.action = sent->second;
        m_sentRequests.erase(sent);
        m_responses.push_back(std::move(response));
        break;
    }
    default:
        break;
    }
    return true;
}

} // namespace tavrine::core
