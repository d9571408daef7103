#pragma once

#include "FileSync.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace tavrine::core {

// Tells one file apart from another that later took its name: what the inbox placed is removed only while it is
// still that file.
struct FileIdentity
{
    uint64_t size = 0;
    uint64_t inode = 0;
    int64_t modifiedNanoseconds = 0;

    bool operator==(const FileIdentity &) const = default;
    static FileIdentity of(const struct stat &status);
};

// Remembers which received file each transfer left in the inbox, across restarts, so that the
// application can acknowledge a delivered file (and remove its inbox copy) again after a restart, and so that a
// transfer offered again after it arrived whole is not taken twice.
// The record is a journal: each change appends one line, and it is rewritten only when it has grown well
// past what it describes, so a received file costs one short write.
class InboxManifest
{
public:
    // `directory` is a descriptor of the inbox folder (-1 while there is none); it stays the caller's. A rewritten
    // journal is made durable through `sync` before it replaces the old one.
    explicit InboxManifest(int directory, std::shared_ptr<FileSync> sync = FileSync::system());
    ~InboxManifest();
    InboxManifest(const InboxManifest &) = delete;
    InboxManifest &operator=(const InboxManifest &) = delete;

    // The inbox folder was made again or came back: the record goes on in `directory`, taking in what that
    // folder's own journal holds. `directory` stays the caller's.
    void moveTo(int directory);

    // Records, before a received file is given its final name, which file is about to be placed for `transferId`:
    // when the program stops before recordReceived, the next start finds it in the inbox by its identity and
    // records it then, so that the transfer offered again is not taken twice.
    void recordPlacing(const std::string &transferId, const std::string &fileName, const FileIdentity &identity);
    // Records the file `fileName` just placed for `transferId`. A file placed earlier for the same transfer and not
    // yet acknowledged is removed, while it is still the file the inbox placed.
    void recordReceived(const std::string &transferId, const std::string &fileName, const FileIdentity &identity);
    // True for a known transfer (also when it was acknowledged before), false for an unknown one. Throws
    // CoreError::TransferCleanup when the inbox copy cannot be removed.
    bool acknowledge(const std::string &transferId);

    // How a transfer offered again stands: it arrived whole at that size before, and its file still waits in the
    // inbox (under `fileName`) or was acknowledged already; or it has to be taken.
    enum class Receipt
    {
        toTake,
        waiting,
        acknowledged,
    };
    Receipt receivedBefore(const std::string &transferId, uint64_t size, std::string &fileName) const;

    // The received files that still wait in the inbox, unacknowledged, oldest first.
    struct Waiting
    {
        std::string transferId;
        std::string fileName;
        uint64_t size = 0;

        bool operator==(const Waiting &) const = default;
    };
    std::vector<Waiting> waitingFiles() const;

    // The journal's descriptor, for making its lines durable; -1 while there is none. Valid until the next change.
    int journalDescriptor() const { return m_journal; }

    // The entries a journal text describes, later lines winning; lines that do not parse are skipped. Into
    // `placing` go the files that were being placed when the journal ended (named as wanted, not as placed).
    struct Entry
    {
        std::string fileName;
        bool acknowledged = false;
        uint64_t order = 0;
        // Absent in lines written before files were told apart.
        std::optional<FileIdentity> identity;
    };
    static std::map<std::string, Entry> parse(const std::string &journal,
                                              std::map<std::string, Entry> *placing = nullptr);
    static std::string line(const std::string &transferId, const Entry &entry);
    static std::string placingLine(const std::string &transferId, const Entry &entry);

private:
    void load();
    static std::string journalLine(char kind, const std::string &transferId, const Entry &entry);
    // Records the files being placed when the program stopped that stand in the inbox under a name of their own.
    void findPlaced(const std::map<std::string, Entry> &placing);
    // Makes `fileName` the file received for `transferId`, removing an earlier copy the inbox placed for it.
    Entry &take(const std::string &transferId, const std::string &fileName, const FileIdentity &identity);
    // Appends one line; false when it could not be written.
    bool append(const std::string &transferId, const Entry &entry);
    // Rewrites the journal with one line per entry, dropping the oldest acknowledged ones beyond the limit.
    void compact();
    // Whether the entry's file still stands under its name in the inbox, as it was placed.
    bool stillPlaced(const Entry &entry) const;

    int m_directory;
    std::shared_ptr<FileSync> m_sync;
    int m_journal = -1;
    std::map<std::string, Entry> m_entries;
    uint64_t m_nextOrder = 0;
    size_t m_journalLines = 0;
};

} // namespace tavrine::core
