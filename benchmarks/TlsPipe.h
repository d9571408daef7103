#pragma once

#include <filesystem>

namespace tavrine::benchmarks {

// The practical ceiling for a transfer: a plain TLS 1.3 connection over loopback, doing a transfer's work
// and nothing more, with two blocking threads each side as the transfer splits its work: one for TLS and the
// socket, one for the file and its hash, handing chunks of the core's size to each other through a queue
// as deep as the link's. The sender reads `source`, hashes each chunk and writes it; the receiver writes
// what it reads to `destination`, hashes it and compares the digests at the end. Gives the seconds from
// the first chunk read (after the handshake) until the copy is verified; throws std::runtime_error when
// anything fails.
double timeTlsPipe(const std::filesystem::path &source, const std::filesystem::path &destination);

} // namespace tavrine::benchmarks
