// libFuzzer target: the frame decoder and the field reader must reject any byte sequence cleanly, and the
// texts a peer or a stored state can hand us (pairing URLs, identity and connection material) must parse
// or fail without crashing.
#include "Identity.h"
#include "Wire.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tavrine::core;

namespace {

void readFields(const std::string &payload)
{
    try {
        wire::FieldReader reader(payload);
        // Walk the payload as the receivers do: a mix of counts and texts until it runs out.
        while (true) {
            const uint8_t selector = reader.u8();
            if (selector % 3 == 0) {
                reader.text(wire::maximumPayloadBytes);
            } else if (selector % 3 == 1) {
                reader.u64();
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
    const std::string bytes(reinterpret_cast<const char *>(data), size);

    wire::FrameDecoder decoder;
    try {
        // Feed in uneven pieces so that frames straddle reads.
        size_t offset = 0;
        size_t piece = 1;
        while (offset < bytes.size()) {
            const size_t count = std::min(piece, bytes.size() - offset);
            decoder.feed(bytes.data() + offset, count);
            offset += count;
            piece = piece * 3 % 4093 + 1;
            while (auto frame = decoder.next()) {
                readFields(frame->payload);
            }
        }
    } catch (const wire::ProtocolError &) {
    }

    for (const auto parse : {+[](const std::string &text) { PairingOffer::parse(text); },
                             +[](const std::string &text) { ConnectionMaterial::parse(text); },
                             +[](const std::string &text) {
                                 HostIdentity::fromMaterial(text);
                             }}) {
        try {
            parse(bytes);
        } catch (const std::exception &) {
        }
    }
    return 0;
}
