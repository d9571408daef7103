#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace tavrine::core {

// Reads a file's data frames ahead of the thread that hashes and queues them, so that reading and hashing
// overlap. Frames change hands in batches: the reader waits until half its queue is free and then reads
// several in a row, and the taker waits only when nothing is ready, so a steady stream costs no wake-up per
// chunk on either side.
class ChunkReader
{
public:
    // Reads [position, size) of `descriptor` into data frames whose payload starts with `header`.
    ChunkReader(int descriptor, uint64_t position, uint64_t size, std::string header);
    ChunkReader(const ChunkReader &) = delete;
    ChunkReader &operator=(const ChunkReader &) = delete;

    // One data frame of `count` bytes from `position`, read on the calling thread; nothing when the file gave
    // fewer bytes.
    static std::optional<std::string> readFrame(int descriptor, const std::string &header, uint64_t position,
                                                size_t count);

    // The reading thread's work; returns at the end of the range, after a failed read or once stopped.
    void run();
    // The next frame in order; nothing when the file could not be read there (or the reader was stopped).
    std::optional<std::string> next();
    // Ends run() and waits until it no longer touches the descriptor (at once when run() never started).
    void stopAndWait();
    // Tells that run() will never start, so stopAndWait() does not wait for it.
    void cancelRun();

private:
    const int m_descriptor;
    const uint64_t m_size;
    const std::string m_header;

    std::mutex m_mutex;
    std::condition_variable m_readerWake;
    std::condition_variable m_takerWake;
    std::deque<std::string> m_frames;
    uint64_t m_position; // where the next read starts
    bool m_failed = false;
    bool m_stopping = false;
    bool m_running = true; // until run() has returned
    bool m_readerWaiting = false;
    bool m_takerWaiting = false;
};

} // namespace tavrine::core
