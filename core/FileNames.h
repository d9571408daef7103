#pragma once

#include <optional>
#include <string>

namespace tavrine::core {

// A file name from the peer made safe for the inbox: no folders, no control characters, not empty, not
// "." or "..", not one of the inbox's own hidden names (".tavrine-…"), at most 255 bytes of UTF-8 (cut at a character
// boundary, keeping the extension).
std::string sanitizedFileName(const std::string &name);

// Gives `partialPath` its final name in `directory` without ever replacing another file: "name",
// then "name (1).ext", "name (2).ext" and so on. Returns the name used, or nothing when no name could
// be taken (errno tells why).
std::optional<std::string> placeWithoutOverwriting(const std::string &partialPath, const std::string &directory,
                                                   const std::string &fileName);

} // namespace tavrine::core
