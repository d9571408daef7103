#pragma once

// Helpers that FileActions' source files share; for those files only.

#include "ActionPayload.h"

#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <limits>
#include <optional>

namespace fileActionsPrivate {

inline const QString versionKey = QStringLiteral("version");
inline const QString entriesKey = QStringLiteral("entries");
inline const QString idKey = QStringLiteral("id");
inline const QString nameKey = QStringLiteral("name");
inline const QString queryKey = QStringLiteral("query");
inline const QString nextPageTokenKey = QStringLiteral("nextPageToken");

constexpr int answerVersion = 1;
// Ids encode relative paths, which the system keeps under 4096 bytes.
constexpr qsizetype maximumIdLength = 16384;
constexpr qsizetype maximumQueryLength = 1024;

inline const QString notFoundMessage = QStringLiteral("找不到这个项目。");

// The entries [begin, end) of a list of `count` that the payload's "pageToken" (the offset of the page's first
// entry, 0 when absent) and "pageSize" (100 when absent, held to 1…500) ask for.
struct Page
{
    qsizetype begin = 0;
    qsizetype end = 0;
    std::optional<qint64> nextPageToken; // absent on the last page
};

inline Page page(const QJsonObject &payload, qsizetype count)
{
    constexpr qint64 defaultPageSize = 100;
    constexpr qint64 largestPageSize = 500;
    const qint64 token = ActionPayload::optionalInteger(payload, QStringLiteral("pageToken"), 0, 0);
    const qint64 size =
        std::clamp<qint64>(ActionPayload::optionalInteger(payload, QStringLiteral("pageSize"),
                                                          std::numeric_limits<qint64>::min(), defaultPageSize),
                           1, largestPageSize);
    const qsizetype begin = static_cast<qsizetype>(std::min<qint64>(token, count));
    const qsizetype end = static_cast<qsizetype>(std::min<qint64>(begin + size, count));
    return {begin, end, end < count ? std::optional<qint64>(end) : std::nullopt};
}

inline void insertNextPageToken(QJsonObject &answer, const Page &page)
{
    if (page.nextPageToken) {
        answer.insert(nextPageTokenKey, *page.nextPageToken);
    }
}

} // namespace fileActionsPrivate
