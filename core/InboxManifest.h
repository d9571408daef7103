#pragma once

#include <map>
#include <string>

namespace tavrine::core {

// Remembers which received file each transfer left in the inbox, across restarts, so that the
// application can acknowledge a delivered file (and remove its inbox copy) again after a restart.
// The record is a journal: each change appends one line, and it is rewritten only when it has grown well
// past what it describes, so a received file costs one short write.
class InboxManifest
{
public:
    // `directory` is a descriptor of the inbox folder; it stays the caller's.
    explicit InboxManifest(int directory);
    ~InboxManifest();
    InboxManifest(const InboxManifest &) = delete;
    InboxManifest &operator=(const InboxManifest &) = delete;

    void recordReceived(const std::string &transferId, const std::string &fileName);
    // True for a known transfer (also when it was acknowledged before), false for an unknown one. Throws
    // CoreError::TransferCleanup when the inbox copy cannot be removed.
    bool acknowledge(const std::string &transferId);

    // The entries a journal text describes, later lines winning; lines that do not parse are skipped.
    struct Entry
    {
        std::string fileName;
        bool acknowledged = false;
        uint64_t order = 0;
    };
    static std::map<std::string, Entry> parse(const std::string &journal);

private:
    void load();
    // Appends one line; false when it could not be written.
    bool append(const std::string &transferId, const Entry &entry);
    // Rewrites the journal with one line per entry, dropping the oldest acknowledged ones beyond the limit.
    void compact();

    const int m_directory;
    int m_journal = -1;
    std::map<std::string, Entry> m_entries;
    uint64_t m_nextOrder = 0;
    size_t m_journalLines = 0;
};

} // namespace tavrine::core
