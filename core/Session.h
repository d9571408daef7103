#pragma once

#include "CoreTypes.h"
#include "FileSync.h"
#include "InboxManifest.h"
#include "Link.h"
#include "PollQueue.h"

#include <openssl/evp.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavrine::core {

class WorkerPool;

// What both ends of a paired link share: the event queue, file transfers both ways and the management
// channel. The host or client attaches the link once the peer is trusted and detaches it when it ends.
class Session
{
public:
    // Received files are made durable through `sync` before they are reported.
    explicit Session(const std::string &inboxDirectory, std::shared_ptr<FileSync> sync = FileSync::system());
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    void pushEvent(Event event);
    std::optional<Event> pollEvent();

    void attachLink(const std::shared_ptr<Link> &link);
    // Ends the transfers of `link` as waiting for the connection; false when it was not the attached link.
    bool detachLink(const std::shared_ptr<Link> &link);
    std::shared_ptr<Link> link() const;
    bool isConnected() const { return link() != nullptr; }

    // Takes over `descriptor` (closed on every path). Throws CoreError.
    void sendFile(int descriptor, const std::string &fileName, uint64_t size, const std::string &transferId);
    bool pauseTransfer(const std::string &transferId);
    bool cancelTransfer(const std::string &transferId);
    bool acknowledgeReceivedTransfer(const std::string &transferId);
    // Reports each file that an earlier run received and left in the inbox unacknowledged as completed once more, for
    // an application that moves received files away and may have stopped before it did.
    void reportWaitingFiles();

    std::string requestManagement(const std::string &action, const std::string &payload);
    std::optional<ManagementResponse> pollManagementResponse();
    std::optional<ManagementRequest> pollManagementRequest();
    bool respondManagement(const std::string &requestId, bool success, const std::string &payload,
                           const std::string &message);

    // Handles a transfer or management frame of the attached link; false for frames of other kinds. Never waits.
    bool handleFrame(const std::shared_ptr<Link> &link, wire::Frame &frame);
    // False while received data waits to be written; the attached link is woken when there is room again.
    bool readyForFrames() const;
    // Received data goes to the threads that write and hash it in batches; this hands on what waits, as the link
    // does before it waits for more.
    void flushReceived();

private:
    struct Outgoing;
    struct Incoming;
    struct InboxFolder;

    void runSender(std::shared_ptr<Outgoing> transfer, uint64_t offset);
    void emitProgress(Outgoing &transfer, uint64_t transferred, bool force);
    void closeOutgoing(const std::string &transferId, EventKind kind, const std::string &message);
    void closeIncoming(const std::string &transferId, EventKind kind, const std::string &message, bool removePartial);
    void handleOffer(const std::shared_ptr<Link> &link, wire::FieldReader &reader);
    // Hashes what a resumed transfer already holds, off the link's thread (a large part on a slow disk takes longer
    // than the peer waits for a silent link), then lets the peer go on from there.
    void checkHeldPart(const std::shared_ptr<Incoming> &transfer, const std::shared_ptr<Link> &link, uint64_t held);
    // The inbox folder as it stands now under its path: made again when it went away, taken anew when another came
    // in its place. Nothing, with the reason in `failure`, while it cannot be used.
    std::shared_ptr<InboxFolder> usableInbox(std::string &failure);
    std::shared_ptr<InboxFolder> currentInbox();
    // Carries the bytes of a transfer whose folder is no longer the inbox into a partial file of `folder`.
    bool moveIntoInbox(const std::shared_ptr<Incoming> &transfer, const std::shared_ptr<InboxFolder> &folder,
                       std::string &failure);
    void handleData(wire::Frame &frame);
    void handleEnd(wire::FieldReader &reader);
    void queueReceiveJob(const std::string &transferId, std::string payload, size_t offset, bool end);
    // One of the two threads that go through received data in order: the writer, which also ends each file, or
    // the hasher.
    void runReceiveStage(bool writer);
    // Whether the writer or the hasher has a job it can do now. Under the lock.
    bool receiveStageHasWork(bool writer) const;
    // The stages that sleep and have a batch of work, or any work at all when `whole`; they count as awake from
    // here on. Under the lock; the notification itself follows the unlock.
    struct StagesToWake
    {
        bool writer = false;
        bool hasher = false;
    };
    StagesToWake receiveStagesToWake(bool whole);
    void wakeReceiveStages(StagesToWake stages);
    // Drops the jobs at the front that both threads are done with. Under the lock.
    void retireReceiveJobs();
    void writeChunk(const std::shared_ptr<Incoming> &transfer, std::string_view bytes);
    // Checks a whole file, makes its bytes durable and gives it its name; it is reported by reportPlaced().
    void finishIncoming(const std::shared_ptr<Incoming> &transfer, const std::string &expectedDigest);
    // Makes the names of the files placed since the last call durable, one sync for each folder, and only then tells
    // both sides that they arrived. On the writer's thread.
    void reportPlaced();
    void failIncoming(const std::shared_ptr<Incoming> &transfer, const std::string &failure);
    // The hidden name a transfer's bytes collect under until they are checked.
    static std::string partialName(const std::string &transferId);

    const std::string m_inboxDirectory;
    const std::shared_ptr<FileSync> m_sync;
    // Guards the inbox folder and the manifest alone, taken after m_mutex where both are: an acknowledgement, made
    // while the next files arrive, does not hold up the link's thread for its disk work.
    std::mutex m_inboxMutex;
    // Files of the inbox are reached through its descriptor, never through a path that could lead elsewhere. None
    // while the folder cannot be used (a disk not mounted): receiving is refused until it can again.
    std::shared_ptr<InboxFolder> m_inbox;
    // Kept in the folder m_inbox names, or nowhere while there is none.
    std::unique_ptr<InboxManifest> m_manifest;

    mutable std::mutex m_mutex;
    std::shared_ptr<Link> m_link;
    PollQueue<Event> m_events;
    PollQueue<ManagementResponse> m_responses;
    PollQueue<ManagementRequest> m_requests;
    struct OpenRequest
    {
        std::string action;
        size_t bytes = 0;
    };
    std::map<std::string, OpenRequest> m_openRequests; // by request id, on the answering side
    size_t m_openRequestBytes = 0;
    std::map<std::string, std::string> m_sentRequests; // request id → action, on the asking side
    std::map<std::string, std::shared_ptr<Outgoing>> m_outgoing;
    std::map<std::string, std::shared_ptr<Incoming>> m_incoming;

    // Received data is written on one thread and hashed on another, so the link keeps decrypting meanwhile and
    // neither waits for the other; a job leaves the queue once both are done with it.
    struct ReceiveJob
    {
        std::shared_ptr<Incoming> transfer;
        std::string payload;
        size_t offset = 0; // where the file bytes (or the digest) start in the payload
        bool end = false;
        bool written = false;
        bool hashed = false;
    };
    std::deque<std::shared_ptr<ReceiveJob>> m_receiveJobs;
    // Ends of files queued that the writer has not taken yet: while there are any, the files it placed wait for them,
    // so that one sync of the folder serves them all.
    size_t m_queuedEnds = 0;
    // Counts every job queued, so that the writer can look for the next one without the lock.
    std::atomic<uint64_t> m_receiveJobsQueued = 0;
    // Files placed by the writer whose names are not yet durable, and so not yet reported.
    struct PlacedFile
    {
        std::string transferId;
        std::string fileName; // as placed
        uint64_t size = 0;
        std::shared_ptr<InboxFolder> inbox;
        // What was placed, so that a file that cannot be kept is taken back only while it is still that file.
        std::optional<FileIdentity> identity;
    };
    std::vector<PlacedFile> m_placed;
    size_t m_nextToWrite = 0; // indices into m_receiveJobs
    size_t m_nextToHash = 0;
    size_t m_receiveBytes = 0;
    // Set when the queue reaches its limit: the link reads nothing more until half of it has been written, so it
    // is woken once per several chunks instead of once per chunk.
    bool m_receiveHeld = false;
    // Each stage has its own wake-up and is woken only when it sleeps and has work, never by the other's progress.
    std::condition_variable m_writerWake;
    std::condition_variable m_hasherWake;
    bool m_writerSleeping = false;
    bool m_hasherSleeping = false;
    std::thread m_receiveWriter;
    std::thread m_receiveHasher;
    bool m_stopping = false;

    // Senders, and the checks of what resumed transfers hold, run on threads kept for the next one; the session waits
    // for them before it goes away.
    std::condition_variable m_sendersDone;
    int m_runningSenders = 0;
    std::unique_ptr<WorkerPool> m_senders;
};

} // namespace tavrine::core
