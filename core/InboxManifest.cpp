#include "InboxManifest.h"

#include "CoreTypes.h"
#include "FileNames.h"
#include "Identity.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrine::core {

namespace {

constexpr const char *journalName = ".tavrine-received";
constexpr const char *compactingName = ".tavrine-received.tmp";
constexpr size_t maximumAcknowledgedEntries = 2000;
// The journal is ours, but it lies in a folder others may write to: read no more than a sane one holds.
constexpr off_t maximumJournalBytes = 64 * 1024 * 1024;
constexpr size_t compactionSlackLines = 256;
// Looking for a file whose placing the program did not live to record reads the inbox's names; no more than these.
constexpr size_t maximumListedNames = 100'000;

std::string fromHex(std::string_view text)
{
    std::string bytes;
    if (text.size() % 2 != 0) {
        return {};
    }
    const auto digit = [](char character) -> int {
        if (character >= '0' && character <= '9') {
            return character - '0';
        }
        if (character >= 'a' && character <= 'f') {
            return character - 'a' + 10;
        }
        return -1;
    };
    for (size_t index = 0; index < text.size(); index += 2) {
        const int high = digit(text[index]);
        const int low = digit(text[index + 1]);
        if (high < 0 || low < 0) {
            return {};
        }
        bytes.push_back(char(high * 16 + low));
    }
    return bytes;
}

// The fields of a journal line, split at single blanks: seven at most, so that a longer line reads as one too long.
std::vector<std::string_view> fields(std::string_view text)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (parts.size() <= 6) {
        const size_t blank = text.find(' ', start);
        parts.push_back(text.substr(start, blank == std::string_view::npos ? blank : blank - start));
        if (blank == std::string_view::npos) {
            break;
        }
        start = blank + 1;
    }
    return parts;
}

template <typename Number> std::optional<Number> number(std::string_view text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

FileIdentity FileIdentity::of(const struct stat &status)
{
    return {uint64_t(status.st_size), uint64_t(status.st_ino),
            int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + int64_t(status.st_mtim.tv_nsec)};
}

InboxManifest::InboxManifest(int directory, std::shared_ptr<FileSync> sync)
    : m_directory(directory), m_sync(std::move(sync))
{
    load();
    compact();
}

InboxManifest::~InboxManifest()
{
    if (m_journal >= 0) {
        ::close(m_journal);
    }
}

std::string InboxManifest::line(const std::string &transferId, const Entry &entry)
{
    return journalLine(entry.acknowledged ? 'A' : 'R', transferId, entry);
}

std::string InboxManifest::placingLine(const std::string &transferId, const Entry &entry)
{
    return journalLine('P', transferId, entry);
}

std::string InboxManifest::journalLine(char kind, const std::string &transferId, const Entry &entry)
{
    std::string text = std::string(1, kind) + ' ' + hexText(transferId) + ' ' + hexText(entry.fileName);
    if (entry.identity) {
        text += ' ' + std::to_string(entry.identity->size) + ' ' + std::to_string(entry.identity->inode) + ' ' +
                std::to_string(entry.identity->modifiedNanoseconds);
    }
    return text + '\n';
}

std::map<std::string, InboxManifest::Entry> InboxManifest::parse(const std::string &journal,
                                                                 std::map<std::string, Entry> *placing)
{
    std::map<std::string, Entry> entries;
    uint64_t order = 0;
    size_t start = 0;
    while (start < journal.size()) {
        size_t end = journal.find('\n', start);
        if (end == std::string::npos) {
            end = journal.size();
        }
        const std::vector<std::string_view> parts = fields(std::string_view(journal).substr(start, end - start));
        start = end + 1;
        const bool placingLine = parts[0] == "P";
        if ((parts.size() != 3 && parts.size() != 6) || (parts[0] != "R" && parts[0] != "A" && !placingLine) ||
            (placingLine && parts.size() != 6)) {
            continue;
        }
        const std::string transferId = fromHex(parts[1]);
        const std::string fileName = fromHex(parts[2]);
        if (transferId.empty() || fileName.empty() || fileName.find('/') != std::string::npos || fileName == "." ||
            fileName == "..") {
            continue;
        }
        std::optional<FileIdentity> identity;
        if (parts.size() == 6) {
            const auto size = number<uint64_t>(parts[3]);
            const auto inode = number<uint64_t>(parts[4]);
            const auto modified = number<int64_t>(parts[5]);
            if (!size || !inode || !modified) {
                continue;
            }
            identity = FileIdentity{*size, *inode, *modified};
        }
        if (placingLine) {
            if (placing) {
                (*placing)[transferId] = Entry{fileName, false, 0, identity};
            }
            continue;
        }
        entries[transferId] = Entry{fileName, parts[0] == "A", order++, identity};
        if (placing) {
            placing->erase(transferId);
        }
    }
    return entries;
}

void InboxManifest::load()
{
    const int file = ::openat(m_directory, journalName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (file < 0) {
        return;
    }
    struct stat status
    {
    };
    std::string journal;
    if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode)) {
        journal.resize(size_t(std::min(status.st_size, maximumJournalBytes)));
        size_t filled = 0;
        while (filled < journal.size()) {
            const ssize_t count = ::read(file, journal.data() + filled, journal.size() - filled);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                break;
            }
            filled += size_t(count);
        }
        journal.resize(filled);
    }
    ::close(file);
    std::map<std::string, Entry> placing;
    m_entries = parse(journal, &placing);
    m_nextOrder = m_entries.size();
    for (const auto &[id, entry] : m_entries) {
        m_nextOrder = std::max(m_nextOrder, entry.order + 1);
    }
    findPlaced(placing);
}

void InboxManifest::findPlaced(const std::map<std::string, Entry> &placing)
{
    std::multimap<uint64_t, const std::string *> byInode;
    for (const auto &[id, entry] : placing) {
        byInode.emplace(entry.identity->inode, &id);
    }
    if (byInode.empty()) {
        return;
    }
    const int listed = ::openat(m_directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *folder = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!folder) {
        if (listed >= 0) {
            ::close(listed);
        }
        return;
    }
    // The first name found for each; the file only ever had one unless someone linked it elsewhere since.
    std::map<std::string, std::string> found;
    const dirent *item = nullptr;
    for (size_t names = 0; names < maximumListedNames && (item = ::readdir(folder)) != nullptr; ++names) {
        const std::string name = item->d_name;
        // A file still under its partial name was not placed: its transfer goes on from what it holds.
        if (name == "." || name == ".." || name.starts_with(".tavrine-")) {
            continue;
        }
        struct stat status
        {
        };
        if (::fstatat(m_directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode)) {
            continue;
        }
        const auto [first, last] = byInode.equal_range(uint64_t(status.st_ino));
        for (auto candidate = first; candidate != last; ++candidate) {
            if (*placing.at(*candidate->second).identity == FileIdentity::of(status)) {
                found.emplace(*candidate->second, name);
            }
        }
    }
    ::closedir(folder);
    for (const auto &[id, name] : found) {
        take(id, name, *placing.at(id).identity);
    }
}

void InboxManifest::compact()
{
    std::vector<std::pair<uint64_t, std::string>> acknowledged;
    for (const auto &[id, entry] : m_entries) {
        if (entry.acknowledged) {
            acknowledged.emplace_back(entry.order, id);
        }
    }
    // Acknowledged entries only answer repeated acknowledgements; keep the newest of them.
    if (acknowledged.size() > maximumAcknowledgedEntries) {
        std::sort(acknowledged.begin(), acknowledged.end());
        for (size_t index = 0; index < acknowledged.size() - maximumAcknowledgedEntries; ++index) {
            m_entries.erase(acknowledged[index].second);
        }
    }
    std::vector<std::pair<uint64_t, std::string>> ordered;
    for (const auto &[id, entry] : m_entries) {
        ordered.emplace_back(entry.order, id);
    }
    std::sort(ordered.begin(), ordered.end());
    std::string journal;
    for (const auto &[order, id] : ordered) {
        journal += line(id, m_entries[id]);
    }

    ::unlinkat(m_directory, compactingName, 0);
    const int file = ::openat(m_directory, compactingName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (file < 0) {
        return;
    }
    // Durable before it takes the journal's name: a power cut must not leave an empty journal in place of a full one.
    const bool written = writeFully(file, journal) && m_sync->syncData(file);
    ::close(file);
    if (!written || ::renameat(m_directory, compactingName, m_directory, journalName) != 0) {
        ::unlinkat(m_directory, compactingName, 0);
        return;
    }
    if (m_journal >= 0) {
        ::close(m_journal);
    }
    m_journal = ::openat(m_directory, journalName, O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    m_journalLines = m_entries.size();
}

void InboxManifest::recordPlacing(const std::string &transferId, const std::string &fileName,
                                  const FileIdentity &identity)
{
    // Never a rewrite here: that would drop this line before the file it announces is recorded.
    if (m_journal >= 0 && writeFully(m_journal, placingLine(transferId, Entry{fileName, false, 0, identity}))) {
        ++m_journalLines;
    }
}

bool InboxManifest::append(const std::string &transferId, const Entry &entry)
{
    if (m_journal < 0 || !writeFully(m_journal, line(transferId, entry))) {
        return false;
    }
    // Each transfer adds three lines and at most one entry, and acknowledged entries past the limit leave only at a
    // rewrite: measured against the entries, the journal is rewritten now and then, in proportion to its use.
    if (++m_journalLines > m_entries.size() + m_entries.size() / 2 + compactionSlackLines) {
        compact();
    }
    return true;
}

void InboxManifest::moveTo(int directory)
{
    std::map<std::string, Entry> known = std::move(m_entries);
    m_entries.clear();
    if (m_journal >= 0) {
        ::close(m_journal);
        m_journal = -1;
    }
    m_directory = directory;
    load();
    // What this side learned meanwhile goes on after what the folder's journal held.
    std::vector<std::pair<uint64_t, std::string>> ordered;
    for (const auto &[id, entry] : known) {
        ordered.emplace_back(entry.order, id);
    }
    std::sort(ordered.begin(), ordered.end());
    for (const auto &[order, id] : ordered) {
        if (m_entries.count(id) == 0) {
            Entry &entry = m_entries[id] = std::move(known[id]);
            entry.order = m_nextOrder++;
        }
    }
    compact();
}

bool InboxManifest::stillPlaced(const Entry &entry) const
{
    struct stat status
    {
    };
    return entry.identity && ::fstatat(m_directory, entry.fileName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(status.st_mode) && FileIdentity::of(status) == *entry.identity;
}

void InboxManifest::recordReceived(const std::string &transferId, const std::string &fileName,
                                   const FileIdentity &identity)
{
    // When the line cannot be written the file itself still arrived; only a later acknowledgement after a
    // restart would miss it.
    append(transferId, take(transferId, fileName, identity));
}

InboxManifest::Entry &InboxManifest::take(const std::string &transferId, const std::string &fileName,
                                          const FileIdentity &identity)
{
    Entry &entry = m_entries[transferId];
    // An earlier copy of the same transfer would stay in the inbox for good: nothing acknowledges it any more. A
    // file that has taken its name since (the user's own) is left alone.
    if (!entry.fileName.empty() && !entry.acknowledged && entry.fileName != fileName && stillPlaced(entry)) {
        ::unlinkat(m_directory, entry.fileName.c_str(), 0);
    }
    entry = Entry{fileName, false, m_nextOrder++, identity};
    return entry;
}

InboxManifest::Receipt InboxManifest::receivedBefore(const std::string &transferId, uint64_t size,
                                                     std::string &fileName) const
{
    const auto found = m_entries.find(transferId);
    if (found == m_entries.end() || !found->second.identity || found->second.identity->size != size) {
        return Receipt::toTake;
    }
    if (found->second.acknowledged) {
        return Receipt::acknowledged;
    }
    if (!stillPlaced(found->second)) {
        return Receipt::toTake;
    }
    fileName = found->second.fileName;
    return Receipt::waiting;
}

std::vector<InboxManifest::Waiting> InboxManifest::waitingFiles() const
{
    std::vector<std::pair<uint64_t, Waiting>> waiting;
    for (const auto &[id, entry] : m_entries) {
        if (!entry.acknowledged && stillPlaced(entry)) {
            waiting.emplace_back(entry.order, Waiting{id, entry.fileName, entry.identity->size});
        }
    }
    std::sort(waiting.begin(), waiting.end(),
              [](const auto &first, const auto &second) { return first.first < second.first; });
    std::vector<Waiting> files;
    for (auto &[order, file] : waiting) {
        files.push_back(std::move(file));
    }
    return files;
}

bool InboxManifest::acknowledge(const std::string &transferId)
{
    const auto found = m_entries.find(transferId);
    if (found == m_entries.end()) {
        return false;
    }
    if (found->second.acknowledged) {
        return true;
    }
    // Entries of older journals name their file alone; the others are removed only while still the file placed.
    const bool ours = !found->second.identity || stillPlaced(found->second);
    if (ours && ::unlinkat(m_directory, found->second.fileName.c_str(), 0) != 0 && errno != ENOENT) {
        throw CoreError(CoreError::Kind::TransferCleanup,
                        "could not remove " + found->second.fileName + ": " + std::strerror(errno));
    }
    found->second.acknowledged = true;
    found->second.order = m_nextOrder++;
    if (!append(transferId, found->second)) {
        throw CoreError(CoreError::Kind::TransferCleanup, "could not record the received files");
    }
    return true;
}

} // namespace tavrine::core
