// The frames a peer sends, read the way the link reads them: any byte sequence either comes out as frames
// that encode back to exactly the bytes taken in, or stops with a ProtocolError.
#include "FuzzCheck.h"
#include "Wire.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

using namespace tavrine::core;

namespace {

// Walks a payload as the receivers do: a mix of counts and texts until it runs out.
void readFields(const std::string &payload)
{
    try {
        wire::FieldReader reader(payload);
        while (true) {
            const uint8_t selector = reader.u8();
            if (selector % 4 == 0) {
                reader.text(wire::maximumPayloadBytes);
            } else if (selector % 4 == 1) {
                reader.u64();
            } else if (selector % 4 == 2) {
                reader.u32();
            } else {
                reader.finish();
                return;
            }
        }
    } catch (const wire::ProtocolError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    wire::FrameDecoder decoder;
    std::string decoded;
    try {
        size_t offset = 0;
        size_t piece = 1;
        while (offset < bytes.size()) {
            // Uneven pieces, so that headers and payloads straddle reads; a large payload is read in place,
            // as the link does.
            size_t count = std::min(piece, bytes.size() - offset);
            if (const auto room = decoder.directRoom()) {
                count = std::min(count, room->second);
                std::memcpy(room->first, bytes.data() + offset, count);
                decoder.commitDirect(count);
            } else {
                decoder.feed(bytes.data() + offset, count);
            }
            offset += count;
            piece = piece * 3 % 4093 + 1;
            while (auto frame = decoder.next()) {
                decoded += wire::encodeFrame(frame->type, frame->payload);
                readFields(frame->payload);
            }
        }
    } catch (const wire::ProtocolError &) {
    }
    requirePromise(bytes.substr(0, decoded.size()) == decoded, "frames come out as the bytes that went in");
    return 0;
}
