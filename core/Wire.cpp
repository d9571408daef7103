#include "Wire.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace tavrine::core::wire {

bool isKnownFrameType(uint8_t type)
{
    return (type >= uint8_t(FrameType::hello) && type <= uint8_t(FrameType::pong)) ||
           (type >= uint8_t(FrameType::offer) && type <= uint8_t(FrameType::cancel)) ||
           type == uint8_t(FrameType::managementRequest) || type == uint8_t(FrameType::managementResponse);
}

std::string encodeFrame(FrameType type, std::string_view payload)
{
    std::string frame;
    frame.reserve(frameHeaderBytes + payload.size());
    frame.push_back(char(type));
    const auto length = uint32_t(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        frame.push_back(char((length >> shift) & 0xff));
    }
    frame.append(payload);
    return frame;
}

namespace {

// Buffers smaller than this are cheap to make; larger ones are kept for reuse. A transfer keeps about 40 chunks'
// buffers on their way at each end (the queues of the link, of its porter and of the receiving stages): the cache
// holds enough for both ends of a link in one process, since a new buffer costs the zeroing of all its bytes, and
// never more than what was once in use at the same time.
constexpr size_t recycledBufferBytes = 64 * 1024;
constexpr size_t maximumRecycledBuffers = 128;

struct BufferCache
{
    std::mutex mutex;
    std::vector<std::string> buffers;
};

BufferCache &bufferCache()
{
    static BufferCache cache;
    return cache;
}

} // namespace

std::string takeBuffer(size_t bytes)
{
    if (bytes >= recycledBufferBytes) {
        BufferCache &cache = bufferCache();
        std::lock_guard lock(cache.mutex);
        // The longest returned first: a buffer is filled on one thread after another thread read it, and
        // writing over lines still held in that thread's cache costs several times a write to lines it let go.
        const auto fits = std::find_if(cache.buffers.begin(), cache.buffers.end(),
                                       [&](const std::string &buffer) { return buffer.size() >= bytes; });
        if (fits != cache.buffers.end()) {
            std::string buffer = std::move(*fits);
            cache.buffers.erase(fits);
            // Shrinking keeps the old bytes: nothing is written.
            buffer.resize(bytes);
            return buffer;
        }
    }
    return std::string(bytes, '\0');
}

void recycleBuffer(std::string &&buffer)
{
    if (buffer.capacity() < recycledBufferBytes) {
        return;
    }
    // Back to its full length. For a buffer handed back at its full length this changes nothing; one that was
    // shortened has the part past its length cleared here, so callers that fill a buffer only in part keep its
    // length and count what they filled.
    buffer.resize(buffer.capacity());
    BufferCache &cache = bufferCache();
    std::lock_guard lock(cache.mutex);
    if (cache.buffers.size() < maximumRecycledBuffers) {
        cache.buffers.push_back(std::move(buffer));
    }
}

std::string preparedFrame(FrameType type, size_t payloadBytes)
{
    std::string frame = takeBuffer(frameHeaderBytes + payloadBytes);
    frame[0] = char(type);
    const auto length = uint32_t(payloadBytes);
    for (size_t index = 1; index < frameHeaderBytes; ++index) {
        frame[index] = char((length >> (8 * (frameHeaderBytes - 1 - index))) & 0xff);
    }
    return frame;
}

namespace {
// Below this, payload bytes go through feed(): many small reads would cost more than the copy they save.
constexpr size_t directReadBytes = 16 * 1024;
} // namespace

void FrameDecoder::startPayload()
{
    const auto type = uint8_t(m_header[0]);
    uint32_t length = 0;
    for (size_t index = 1; index < frameHeaderBytes; ++index) {
        length = (length << 8) | uint8_t(m_header[index]);
    }
    if (length > m_maximumPayload) {
        throw ProtocolError("frame of " + std::to_string(length) + " bytes is too large");
    }
    m_current.type = FrameType(type);
    // Filled in place: the length is bounded above, and every byte is written before the frame comes out.
    m_current.payload = takeBuffer(length);
    m_payloadFilled = 0;
    m_inPayload = true;
    if (length == 0) {
        finishFrame();
    }
}

void FrameDecoder::finishFrame()
{
    m_ready.push_back(std::move(m_current));
    m_current = Frame{};
    m_inPayload = false;
    m_headerFilled = 0;
}

void FrameDecoder::feed(const char *bytes, size_t count)
{
    while (count > 0) {
        if (!m_inPayload) {
            if (m_headerFilled == 0 && !isKnownFrameType(uint8_t(bytes[0]))) {
                throw ProtocolError("unknown frame type " + std::to_string(uint8_t(bytes[0])));
            }
            const size_t taken = std::min(count, frameHeaderBytes - m_headerFilled);
            std::copy(bytes, bytes + taken, m_header + m_headerFilled);
            m_headerFilled += taken;
            bytes += taken;
            count -= taken;
            if (m_headerFilled == frameHeaderBytes) {
                startPayload();
            }
            continue;
        }
        const size_t taken = std::min(count, m_current.payload.size() - m_payloadFilled);
        std::copy(bytes, bytes + taken, m_current.payload.data() + m_payloadFilled);
        m_payloadFilled += taken;
        bytes += taken;
        count -= taken;
        if (m_payloadFilled == m_current.payload.size()) {
            finishFrame();
        }
    }
}

std::optional<std::pair<char *, size_t>> FrameDecoder::directRoom()
{
    const size_t left = m_inPayload ? m_current.payload.size() - m_payloadFilled : 0;
    if (left < directReadBytes) {
        return std::nullopt;
    }
    return std::pair(m_current.payload.data() + m_payloadFilled, left);
}

void FrameDecoder::commitDirect(size_t count)
{
    m_payloadFilled += count;
    if (m_payloadFilled == m_current.payload.size()) {
        finishFrame();
    }
}

std::optional<Frame> FrameDecoder::next()
{
    if (m_ready.empty()) {
        return std::nullopt;
    }
    Frame frame = std::move(m_ready.front());
    m_ready.pop_front();
    return frame;
}

FieldWriter &FieldWriter::u8(uint8_t value)
{
    m_bytes.push_back(char(value));
    return *this;
}

FieldWriter &FieldWriter::u32(uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        m_bytes.push_back(char((value >> shift) & 0xff));
    }
    return *this;
}

FieldWriter &FieldWriter::u64(uint64_t value)
{
    for (int shift = 56; shift >= 0; shift -= 8) {
        m_bytes.push_back(char((value >> shift) & 0xff));
    }
    return *this;
}

FieldWriter &FieldWriter::text(std::string_view value)
{
    u32(uint32_t(value.size()));
    m_bytes.append(value);
    return *this;
}

FieldWriter &FieldWriter::raw(std::string_view value)
{
    m_bytes.append(value);
    return *this;
}

std::string_view FieldReader::take(size_t count)
{
    if (count > m_payload.size() - m_offset) {
        throw ProtocolError("field runs past the end of its frame");
    }
    const std::string_view bytes = m_payload.substr(m_offset, count);
    m_offset += count;
    return bytes;
}

uint8_t FieldReader::u8()
{
    return uint8_t(take(1)[0]);
}

uint32_t FieldReader::u32()
{
    uint32_t value = 0;
    for (const char byte : take(4)) {
        value = (value << 8) | uint8_t(byte);
    }
    return value;
}

uint64_t FieldReader::u64()
{
    uint64_t value = 0;
    for (const char byte : take(8)) {
        value = (value << 8) | uint8_t(byte);
    }
    return value;
}

std::string FieldReader::text(size_t maximumBytes)
{
    const uint32_t length = u32();
    if (length > maximumBytes) {
        throw ProtocolError("text field of " + std::to_string(length) + " bytes is too long");
    }
    return std::string(take(length));
}

std::string_view FieldReader::rest()
{
    return take(m_payload.size() - m_offset);
}

void FieldReader::finish() const
{
    if (m_offset != m_payload.size()) {
        throw ProtocolError("frame has unexpected trailing bytes");
    }
}

} // namespace tavrine::core::wire
