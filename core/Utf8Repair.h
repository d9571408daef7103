#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Shared by the core library and its callers, so that both sides repair a text that is not UTF-8 alike.
namespace tavrine {

// `text` with each maximal ill-formed UTF-8 subpart replaced by one U+FFFD.
inline std::string validUtf8(std::string_view text)
{
    std::string repaired;
    repaired.reserve(text.size());
    size_t index = 0;
    while (index < text.size()) {
        const auto lead = uint8_t(text[index]);
        if (lead < 0x80) {
            repaired.push_back(char(lead));
            ++index;
            continue;
        }
        // Well-formed sequences: the length, and the range of the second byte (the others are 80..BF).
        size_t length = 0;
        uint8_t secondLow = 0x80;
        uint8_t secondHigh = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            secondLow = lead == 0xe0 ? 0xa0 : 0x80;
            secondHigh = lead == 0xed ? 0x9f : 0xbf;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            secondLow = lead == 0xf0 ? 0x90 : 0x80;
            secondHigh = lead == 0xf4 ? 0x8f : 0xbf;
        }
        size_t accepted = 1;
        while (length != 0 && accepted < length && index + accepted < text.size()) {
            const auto continuation = uint8_t(text[index + accepted]);
            if (continuation < (accepted == 1 ? secondLow : 0x80) || continuation > (accepted == 1 ? secondHigh : 0xbf)) {
                break;
            }
            ++accepted;
        }
        if (length != 0 && accepted == length) {
            repaired.append(text.substr(index, length));
        } else {
            repaired.append("\xef\xbf\xbd");
        }
        index += accepted;
    }
    return repaired;
}

} // namespace tavrine
