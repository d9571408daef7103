#pragma once

#include <QList>

#include <algorithm>

namespace tavrine::benchmarks {

// The median of the rounds' figures (the upper one of the middle two for an even count); `values` must not be empty.
inline double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace tavrine::benchmarks
