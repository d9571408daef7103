#pragma once

#include <QString>

// How much of a text from outside (adb's output, a phone's name) is kept in errors, records and banners.
constexpr qsizetype textExcerptBytes = 4096;

// The first 4 KiB of `text` in UTF-8, cut between two characters, followed by "…" when anything was cut.
QString textExcerpt(const QString &text);

// `text` without the characters that would hide, reorder or garble what is shown of it: the C0 and C1 controls
// (line feeds and tabs are kept when `keepsLines`) and the bidirectional embeddings, overrides, isolates and marks.
QString withoutControlCharacters(const QString &text, bool keepsLines = false);

// How many characters of a name or fact that a phone reports are kept.
constexpr qsizetype phoneTextCharacters = 64;

// A name or fact a phone reports (its model, marketing name, maker, Android version) as it is shown: without control
// and bidirectional characters, and its first 64 characters followed by "…" when it is longer.
QString phoneText(const QString &text);

// A name a phone reports as it is kept to be compared with what the phone says elsewhere: without control and
// bidirectional characters, and its first 4 KiB (textExcerpt).
QString phoneWords(const QString &text);
