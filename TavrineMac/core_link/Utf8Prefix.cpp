#include "Utf8Prefix.h"

qsizetype utf8PrefixLength(QStringView text, qsizetype maximumBytes)
{
    qsizetype bytes = 0;
    qsizetype index = 0;
    while (index < text.size()) {
        const char16_t unit = text.at(index).unicode();
        const bool pair =
            QChar::isHighSurrogate(unit) && index + 1 < text.size() && text.at(index + 1).isLowSurrogate();
        const qsizetype width = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (bytes + width > maximumBytes) {
            break;
        }
        bytes += width;
        index += pair ? 2 : 1;
    }
    return index;
}
