#include "ChunkReader.h"

#include "Wire.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace tavrine::core {

namespace {

// A mebibyte ahead: enough to keep the hashing busy through a slow read, little memory per transfer.
constexpr size_t framesAhead = 4;

} // namespace

ChunkReader::ChunkReader(int descriptor, uint64_t position, uint64_t size, std::string header)
    : m_descriptor(descriptor), m_size(size), m_header(std::move(header)), m_position(position)
{}

std::optional<std::string> ChunkReader::readFrame(int descriptor, const std::string &header, uint64_t position,
                                                  size_t count)
{
    std::string frame = wire::preparedFrame(wire::FrameType::data, header.size() + count);
    std::memcpy(frame.data() + wire::frameHeaderBytes, header.data(), header.size());
    ssize_t read = -1;
    do {
        read = ::pread(descriptor, frame.data() + wire::frameHeaderBytes + header.size(), count, off_t(position));
    } while (read < 0 && errno == EINTR);
    if (read != ssize_t(count)) {
        return std::nullopt;
    }
    return frame;
}

void ChunkReader::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping && !m_failed && m_position < m_size) {
        if (m_frames.size() >= framesAhead) {
            m_readerWaiting = true;
            m_readerWake.wait(lock, [this] { return m_stopping || m_frames.size() <= framesAhead / 2; });
            m_readerWaiting = false;
            continue;
        }
        const uint64_t position = m_position;
        const size_t count = size_t(std::min<uint64_t>(wire::chunkBytes, m_size - position));
        lock.unlock();
        std::optional<std::string> frame = readFrame(m_descriptor, m_header, position, count);
        lock.lock();
        if (frame) {
            m_frames.push_back(std::move(*frame));
            m_position += count;
        } else {
            m_failed = true;
        }
        if (m_takerWaiting) {
            m_takerWaiting = false;
            m_takerWake.notify_one();
        }
    }
    m_running = false;
    m_takerWake.notify_all();
}

std::optional<std::string> ChunkReader::next()
{
    std::unique_lock lock(m_mutex);
    while (m_frames.empty() && !m_failed && !m_stopping && m_running) {
        m_takerWaiting = true;
        m_takerWake.wait(lock);
    }
    m_takerWaiting = false;
    if (m_frames.empty()) {
        return std::nullopt;
    }
    std::string frame = std::move(m_frames.front());
    m_frames.pop_front();
    if (m_readerWaiting && m_frames.size() <= framesAhead / 2) {
        m_readerWaiting = false;
        m_readerWake.notify_one();
    }
    return frame;
}

void ChunkReader::stopAndWait()
{
    std::unique_lock lock(m_mutex);
    m_stopping = true;
    m_readerWake.notify_all();
    m_takerWake.wait(lock, [this] { return !m_running; });
    for (std::string &frame : m_frames) {
        wire::recycleBuffer(std::move(frame));
    }
    m_frames.clear();
}

void ChunkReader::cancelRun()
{
    std::lock_guard lock(m_mutex);
    // Should run() start after all, it finds itself stopped and reads nothing.
    m_stopping = true;
    m_running = false;
}

} // namespace tavrine::core
