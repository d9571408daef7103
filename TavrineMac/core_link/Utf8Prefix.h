#pragma once

#include <QStringView>

// How many UTF-16 units of `text` its longest beginning takes whose UTF-8 form fits in `maximumBytes`, cut between
// whole characters: never inside a surrogate pair. A lone surrogate counts as the three bytes of U+FFFD, which is
// what it is written as.
qsizetype utf8PrefixLength(QStringView text, qsizetype maximumBytes);
