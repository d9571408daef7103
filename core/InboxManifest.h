#pragma once

#include <map>
#include <string>

namespace tavrine::core {

// Remembers which received file each transfer left in the inbox, across restarts, so that the
// application can acknowledge a delivered file (and remove its inbox copy) again after a restart.
class InboxManifest
{
public:
    explicit InboxManifest(std::string directory);

    void recordReceived(const std::string &transferId, const std::string &fileName);
    // True for a known transfer (also when it was acknowledged before), false for an unknown one. Throws
    // CoreError::TransferCleanup when the inbox copy cannot be removed.
    bool acknowledge(const std::string &transferId);

private:
    struct Entry
    {
        std::string fileName;
        bool acknowledged = false;
        uint64_t order = 0;
    };

    void load();
    void save() const;

    const std::string m_directory;
    std::map<std::string, Entry> m_entries;
    uint64_t m_nextOrder = 0;
};

} // namespace tavrine::core
