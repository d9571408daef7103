// The pairing URL from a scanned or pasted code, read by both of its parsers: the desktop's and the phone
// side's. Neither may fail other than by its error, and the phone must read back every URL it accepts
// once the host has written it out again.
#include "FuzzCheck.h"
#include "Identity.h"
#include "PairingPayload.h"
#include "PairingWebLink.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

using namespace tavrine::core;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);

    try {
        PairingPayload::parse(QString::fromUtf8(bytes));
    } catch (const PairingPayloadError &) {
    }
    // The web link the code shows, as a phone reads the pairing URL back from it.
    if (const std::optional<QString> carried = pairingPayloadFromWebLink(QString::fromUtf8(bytes))) {
        PairingPayload::parse(*carried); // accepted links carry a valid pairing URL: this must not throw
    }

    std::optional<PairingOffer> offer;
    try {
        offer = PairingOffer::parse(bytes);
    } catch (const std::exception &) {
        return 0;
    }
    const PairingOffer again = PairingOffer::parse(offer->url());
    requirePromise(again.hostId == offer->hostId && again.publicKey == offer->publicKey &&
                       again.token == offer->token && again.endpoint == offer->endpoint && again.code == offer->code,
                   "a pairing URL written from an offer reads back as that offer");
    return 0;
}
