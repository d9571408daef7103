#include "InboxManifest.h"

#include "CoreTypes.h"
#include "Identity.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <cstdio>
#include <unistd.h>

namespace tavrine::core {

namespace {

constexpr const char *manifestName = ".tavrine-received";
constexpr size_t maximumAcknowledgedEntries = 2000;

std::string fromHex(const std::string &text)
{
    std::string bytes;
    if (text.size() % 2 != 0) {
        return {};
    }
    for (size_t index = 0; index < text.size(); index += 2) {
        const auto digit = [](char character) -> int {
            if (character >= '0' && character <= '9') {
                return character - '0';
            }
            if (character >= 'a' && character <= 'f') {
                return character - 'a' + 10;
            }
            return -1;
        };
        const int high = digit(text[index]);
        const int low = digit(text[index + 1]);
        if (high < 0 || low < 0) {
            return {};
        }
        bytes.push_back(char(high * 16 + low));
    }
    return bytes;
}

} // namespace

InboxManifest::InboxManifest(std::string directory) : m_directory(std::move(directory))
{
    load();
}

void InboxManifest::load()
{
    std::ifstream file(m_directory + "/" + manifestName);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string state;
        std::string id;
        std::string name;
        if (!(fields >> state >> id >> name) || (state != "R" && state != "A")) {
            continue;
        }
        const std::string transferId = fromHex(id);
        const std::string fileName = fromHex(name);
        if (transferId.empty() || fileName.empty() || fileName.find('/') != std::string::npos) {
            continue;
        }
        m_entries[transferId] = Entry{fileName, state == "A", m_nextOrder++};
    }
}

void InboxManifest::save() const
{
    const std::string path = m_directory + "/" + manifestName;
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        for (const auto &[transferId, entry] : m_entries) {
            file << (entry.acknowledged ? "A " : "R ") << hexText(transferId) << ' ' << hexText(entry.fileName) << '\n';
        }
        if (!file.flush()) {
            throw CoreError(CoreError::Kind::TransferCleanup, "could not record the received files");
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        throw CoreError(CoreError::Kind::TransferCleanup,
                        std::string("could not record the received files: ") + std::strerror(errno));
    }
}

void InboxManifest::recordReceived(const std::string &transferId, const std::string &fileName)
{
    m_entries[transferId] = Entry{fileName, false, m_nextOrder++};
    // Acknowledged entries only answer repeated acknowledgements; keep the newest of them.
    std::vector<std::pair<uint64_t, std::string>> acknowledged;
    for (const auto &[id, entry] : m_entries) {
        if (entry.acknowledged) {
            acknowledged.emplace_back(entry.order, id);
        }
    }
    if (acknowledged.size() > maximumAcknowledgedEntries) {
        std::sort(acknowledged.begin(), acknowledged.end());
        for (size_t index = 0; index < acknowledged.size() - maximumAcknowledgedEntries; ++index) {
            m_entries.erase(acknowledged[index].second);
        }
    }
    try {
        save();
    } catch (const CoreError &) {
        // The file itself arrived; only a later acknowledgement after a restart would miss it.
    }
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
    const std::string path = m_directory + "/" + found->second.fileName;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw CoreError(CoreError::Kind::TransferCleanup,
                        "could not remove " + found->second.fileName + ": " + std::strerror(errno));
    }
    found->second.acknowledged = true;
    found->second.order = m_nextOrder++;
    save();
    return true;
}

} // namespace tavrine::core
