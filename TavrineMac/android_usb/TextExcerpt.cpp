#include "TextExcerpt.h"

#include "HiddenCharacters.h"

namespace {

bool isHidden(char32_t character, bool keepsLines)
{
    if (keepsLines && (character == u'\n' || character == u'\t')) {
        return false;
    }
    return isHiddenCharacter(character);
}

} // namespace

QString textExcerpt(const QString &text)
{
    qsizetype bytes = 0;
    qsizetype index = 0;
    while (index < text.size()) {
        const char16_t unit = text.at(index).unicode();
        const bool pair =
            QChar::isHighSurrogate(unit) && index + 1 < text.size() && text.at(index + 1).isLowSurrogate();
        // A lone surrogate is written as the three bytes of U+FFFD.
        const qsizetype width = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (bytes + width > textExcerptBytes) {
            return text.left(index) + u'…';
        }
        bytes += width;
        index += pair ? 2 : 1;
    }
    return text;
}

QString withoutControlCharacters(const QString &text, bool keepsLines)
{
    QString kept;
    kept.reserve(text.size());
    for (const QChar character : text) {
        // Every character of this set lies in the basic plane, so surrogates pass unchanged.
        if (!isHidden(character.unicode(), keepsLines)) {
            kept.append(character);
        }
    }
    return kept;
}

QString phoneText(const QString &text)
{
    const QString kept = withoutControlCharacters(text);
    qsizetype characters = 0;
    for (qsizetype index = 0; index < kept.size(); ++index) {
        if (kept.at(index).isLowSurrogate() && index > 0 && kept.at(index - 1).isHighSurrogate()) {
            continue; // the second half of a character already counted
        }
        if (characters == phoneTextCharacters) {
            return kept.left(index) + u'…';
        }
        ++characters;
    }
    return kept;
}
