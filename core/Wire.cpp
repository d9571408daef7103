#include "Wire.h"

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

void FrameDecoder::feed(const char *bytes, size_t count)
{
    // Drop what was consumed before growing, so the buffer stays within about one frame.
    if (m_offset > 0 && m_offset * 2 >= m_buffer.size()) {
        m_buffer.erase(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(bytes, count);
}

std::optional<Frame> FrameDecoder::next()
{
    if (bufferedBytes() < 1) {
        return std::nullopt;
    }
    const auto type = uint8_t(m_buffer[m_offset]);
    if (!isKnownFrameType(type)) {
        throw ProtocolError("unknown frame type " + std::to_string(type));
    }
    if (bufferedBytes() < frameHeaderBytes) {
        return std::nullopt;
    }
    uint32_t length = 0;
    for (size_t index = 1; index < frameHeaderBytes; ++index) {
        length = (length << 8) | uint8_t(m_buffer[m_offset + index]);
    }
    if (length > maximumPayloadBytes) {
        throw ProtocolError("frame of " + std::to_string(length) + " bytes is too large");
    }
    if (bufferedBytes() < frameHeaderBytes + length) {
        return std::nullopt;
    }
    Frame frame{FrameType(type), m_buffer.substr(m_offset + frameHeaderBytes, length)};
    m_offset += frameHeaderBytes + length;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
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
