#pragma once

#include "FileActionError.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <algorithm>
#include <functional>
#include <optional>
#include <type_traits>

// Typed reads of a management action's payload, which comes from the computer and may hold anything. A value
// of the wrong JSON type, or out of bounds, throws FileActionError naming the key; a null value counts as an
// absent one. Such texts are for developers, since the computer never sends them: a handler that does not
// catch them leaves them to ManagementHandlers, which names the action.
namespace ActionPayload {

// Ids encode relative paths, which the system keeps under 4096 bytes.
constexpr qsizetype maximumIdLength = 16384;
constexpr qsizetype maximumTextLength = 1024;

// The refusal of the value under `key`, which should have been `expected`.
FileActionError refusal(const QString &key, const QString &expected);

// A required non-empty text of at most `maximumLength` UTF-16 units.
QString text(const QJsonObject &payload, const QString &key, qsizetype maximumLength = maximumTextLength);

// An optional text (absent or null gives an empty text) of at most `maximumLength` UTF-16 units.
QString optionalText(const QJsonObject &payload, const QString &key, qsizetype maximumLength = maximumTextLength);

// An optional integer from `minimum` up, any integer for the lowest qint64 (absent or null gives `fallback`).
// Fractions, texts and numbers beyond 2^53, which a JSON number does not hold exactly, are refused.
qint64 optionalInteger(const QJsonObject &payload, const QString &key, qint64 minimum, qint64 fallback);

// The entries [begin, end) of a list of `count` that the payload's "pageToken" (the offset of the page's first
// entry, 0 when absent) and "pageSize" (100 when absent, held to 1…500) ask for.
struct Range
{
    qsizetype begin = 0;
    qsizetype end = 0;
    std::optional<qint64> nextPageToken; // absent on the last page
};
Range pageRange(const QJsonObject &payload, qsizetype count);

template <typename Item> struct Page
{
    QList<Item> items;
    std::optional<qint64> nextPageToken;
};

// The page of `items` that the payload asks for, each item made into what the answer holds by `convert`.
template <typename Item, typename Convert = std::identity>
auto page(const QJsonObject &payload, const QList<Item> &items, Convert convert = {})
{
    const Range range = pageRange(payload, items.size());
    Page<std::remove_cvref_t<std::invoke_result_t<Convert &, const Item &>>> page{{}, range.nextPageToken};
    for (qsizetype index = range.begin; index < range.end; ++index) {
        page.items.append(std::invoke(convert, items.at(index)));
    }
    return page;
}

} // namespace ActionPayload
