#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The frames that travel inside the TLS stream: a type byte, a 32-bit big-endian payload length and the
// payload. Fields inside a payload are big-endian numbers and length-prefixed byte strings.
namespace tavrine::core::wire {

enum class FrameType : uint8_t
{
    hello = 1,     // phone → host: mode, token or secret, phone name, phone id
    helloAccepted, // host → phone: outcome, host name, host id
    confirm,       // phone → host: the user confirmed the pairing
    paired,        // host → phone: the secret for later reconnections
    refused,       // host → phone: why the link is refused
    ping,
    pong,
    offer = 16,             // transfer id, file name, size
    accept,                 // transfer id, offset the receiver already holds
    data,                   // transfer id, bytes
    end,                    // transfer id, SHA-256 of the whole file
    done,                   // transfer id, success, message
    pause,                  // transfer id
    cancel,                 // transfer id
    managementRequest = 32, // request id, action, payload
    managementResponse,     // request id, action, success, payload, message
};

enum class HelloMode : uint8_t
{
    pair = 1,
    reconnect = 2
};
enum class HelloOutcome : uint8_t
{
    awaitingConfirmation = 1,
    trusted = 2
};

inline constexpr uint32_t maximumPayloadBytes = 4u * 1024 * 1024;
inline constexpr size_t chunkBytes = 256 * 1024;
inline constexpr size_t maximumTextBytes = 64 * 1024;
inline constexpr size_t frameHeaderBytes = 5;

struct Frame
{
    FrameType type = FrameType::ping;
    std::string payload;
};

// Malformed input from the peer.
class ProtocolError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

bool isKnownFrameType(uint8_t type);

// Large buffers are handed back once used and taken again for the next frame, so that the data path neither
// allocates nor clears a quarter of a mebibyte per chunk. A buffer taken holds `bytes` bytes of no particular value.
std::string takeBuffer(size_t bytes);
// Hand a buffer back at the length it was taken with: what lies past a shorter length is cleared.
void recycleBuffer(std::string &&buffer);

// The header and payload of a frame, ready to be written.
std::string encodeFrame(FrameType type, std::string_view payload);
// A frame of `payloadBytes` whose header is written and whose payload is left for the caller to fill, so that
// large payloads are read straight into place.
std::string preparedFrame(FrameType type, size_t payloadBytes);

// Splits a byte stream into frames. Throws ProtocolError on an unknown type or a length over the limit, before
// reading any of that frame's payload. Large payloads can be read straight into place (directRoom()), so file
// data is copied once between the TLS layer and its frame.
class FrameDecoder
{
public:
    explicit FrameDecoder(uint32_t maximumPayload = maximumPayloadBytes) : m_maximumPayload(maximumPayload) {}

    void setMaximumPayload(uint32_t bytes) { m_maximumPayload = bytes; }
    void feed(const char *bytes, size_t count);
    std::optional<Frame> next();
    // Where the rest of the current frame's payload goes when it is large enough to be worth reading in place;
    // nothing otherwise. After reading into it, commitDirect() says how many bytes arrived.
    std::optional<std::pair<char *, size_t>> directRoom();
    void commitDirect(size_t count);

private:
    void startPayload();
    void finishFrame();

    uint32_t m_maximumPayload;
    char m_header[frameHeaderBytes] = {};
    size_t m_headerFilled = 0;
    bool m_inPayload = false;
    Frame m_current;
    size_t m_payloadFilled = 0;
    std::deque<Frame> m_ready;
};

class FieldWriter
{
public:
    FieldWriter &u8(uint8_t value);
    FieldWriter &u32(uint32_t value);
    FieldWriter &u64(uint64_t value);
    FieldWriter &text(std::string_view value);
    FieldWriter &raw(std::string_view value);
    std::string take() { return std::move(m_bytes); }

private:
    std::string m_bytes;
};

// Reads the fields of one payload; throws ProtocolError when a field runs past the end, a text is longer
// than `maximumTextBytes`, or bytes are left over at finish().
class FieldReader
{
public:
    explicit FieldReader(std::string_view payload) : m_payload(payload) {}
    uint8_t u8();
    uint32_t u32();
    uint64_t u64();
    std::string text(size_t maximumBytes = maximumTextBytes);
    std::string_view rest();
    void finish() const;

private:
    std::string_view take(size_t count);
    std::string_view m_payload;
    size_t m_offset = 0;
};

} // namespace tavrine::core::wire
