#pragma once

#include "Utf8Repair.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrine::core {

using tavrine::validUtf8;

// A file name from the peer made safe for the inbox: valid UTF-8, no folders, no control characters, not empty,
// not "." or "..", not one of the inbox's own hidden names (".tavrine-…"), at most 255 bytes (cut at a
// character boundary, keeping the extension).
std::string sanitizedFileName(const std::string &name);

// Writes all of `bytes` to `descriptor`, going on after interruptions; false when the file takes no more.
bool writeFully(int descriptor, std::string_view bytes);

// Copies the first `size` bytes of `from` to the start of `to`; false when fewer could be read or a write failed
// (errno tells why).
bool copyFileContents(int from, int to, uint64_t size);

// Opens the partial file `name` in the folder `directory` (a descriptor) for reading and writing, creating it
// when absent. Whatever else stands under that name (a link, a folder, a file linked elsewhere or owned by
// someone else) is removed first, so the bytes written can only reach a file of the inbox's own. -1 on failure,
// with errno set.
int openPartialFile(int directory, const std::string &name);

// Gives the open partial file `file` (named `partialName` in `directory`) its final name in that folder without
// ever replacing another file: "name", then "name (1).ext", "name (2).ext" and so on. What gets the name is the
// opened file itself, never whatever may stand under its partial name by then. Returns the name used, or nothing
// when no name could be taken (errno tells why).
std::optional<std::string> placeWithoutOverwriting(int directory, int file, const std::string &partialName,
                                                   const std::string &fileName);

} // namespace tavrine::core
