#include "TextExcerpt.h"

#include "HiddenCharacters.h"
#include "Utf8Prefix.h"

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
    const qsizetype kept = utf8PrefixLength(text, textExcerptBytes);
    return kept == text.size() ? text : text.left(kept) + u'…';
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

QString phoneWords(const QString &text)
{
    return textExcerpt(withoutControlCharacters(text));
}
