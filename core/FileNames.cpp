#include "FileNames.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>

#include <unistd.h>

namespace tavrine::core {

namespace {

constexpr size_t maximumNameBytes = 255;
constexpr int maximumAttempts = 10'000;

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string cutUtf8(const std::string &text, size_t bytes)
{
    if (text.size() <= bytes) {
        return text;
    }
    size_t end = bytes;
    while (end > 0 && (uint8_t(text[end]) & 0xc0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

std::string withinLimit(const std::string &stem, const std::string &suffix)
{
    if (stem.size() + suffix.size() <= maximumNameBytes) {
        return stem + suffix;
    }
    if (suffix.size() >= maximumNameBytes / 2) {
        return cutUtf8(stem + suffix, maximumNameBytes);
    }
    return cutUtf8(stem, maximumNameBytes - suffix.size()) + suffix;
}

} // namespace

std::string sanitizedFileName(const std::string &name)
{
    std::string base = name;
    if (const size_t slash = base.find_last_of("/\\"); slash != std::string::npos) {
        base = base.substr(slash + 1);
    }
    std::string cleaned;
    for (const char character : base) {
        const auto byte = uint8_t(character);
        cleaned.push_back(byte < 0x20 || byte == 0x7f ? '_' : character);
    }
    while (!cleaned.empty() && (cleaned.back() == ' ' || cleaned.back() == '.')) {
        cleaned.pop_back();
    }
    while (!cleaned.empty() && cleaned.front() == ' ') {
        cleaned.erase(0, 1);
    }
    if (cleaned.empty()) {
        cleaned = "file";
    }
    // Names of this form belong to the inbox's own bookkeeping and partial files.
    if (cleaned.rfind(".tavrine-", 0) == 0) {
        cleaned[0] = '_';
    }
    const size_t dot = cleaned.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    return withinLimit(hasExtension ? cleaned.substr(0, dot) : cleaned, hasExtension ? cleaned.substr(dot) : "");
}

std::optional<std::string> placeWithoutOverwriting(const std::string &partialPath, const std::string &directory,
                                                   const std::string &fileName)
{
    const size_t dot = fileName.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? fileName.substr(0, dot) : fileName;
    const std::string extension = hasExtension ? fileName.substr(dot) : "";
    for (int attempt = 0; attempt < maximumAttempts; ++attempt) {
        const std::string candidate =
            attempt == 0 ? fileName : withinLimit(stem, " (" + std::to_string(attempt) + ")" + extension);
        const std::string target = directory + "/" + candidate;
        // A hard link never replaces an existing name, unlike a plain rename; where the file system has no
        // hard links, a rename that refuses to replace does the same.
        if (::link(partialPath.c_str(), target.c_str()) == 0) {
            ::unlink(partialPath.c_str());
            return candidate;
        }
        if (errno != EEXIST &&
            ::renameat2(AT_FDCWD, partialPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return candidate;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    errno = EEXIST;
    return std::nullopt;
}

} // namespace tavrine::core
