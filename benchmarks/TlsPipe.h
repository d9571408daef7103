#pragma once

#include <filesystem>

namespace tavrine::benchmarks {

// The practical ceiling for a transfer: a plain TLS 1.3 connection over loopback with one blocking thread
// each side, doing a transfer's work and nothing more. The sender reads `source` in chunks of the core's
// size, hashes each one and writes it; the receiver writes what it reads to `destination`, hashes it and
// compares the digests at the end. Gives the seconds from the first chunk read (after the handshake) until
// the copy is verified; throws std::runtime_error when anything fails.
double timeTlsPipe(const std::filesystem::path &source, const std::filesystem::path &destination);

} // namespace tavrine::benchmarks
