#pragma once

#include <QString>

// How much of a text from outside (adb's output, a phone's name) is kept in errors, records and banners.
constexpr qsizetype textExcerptBytes = 4096;

// The first 4 KiB of `text` in UTF-8, cut between two characters, followed by "…" when anything was cut.
QString textExcerpt(const QString &text);
