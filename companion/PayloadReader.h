#pragma once

#include "ManagementHandlers.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <algorithm>

// Typed reads of one management action's payload, which comes from the computer and may hold anything. The
// first key that is missing or has the wrong type is remembered and the handler answers with `failure()`;
// a null value counts as an absent one.
class PayloadReader
{
public:
    static constexpr qint64 defaultPageSize = 100;
    static constexpr qint64 maximumPageSize = 500;

    PayloadReader(const QString &action, const QJsonObject &payload);

    // A non-empty text; empty when it is missing.
    QString requiredText(const QString &key);
    // The text, or `fallback` when the key is absent.
    QString optionalText(const QString &key, const QString &fallback = {});
    // A whole number from `minimum` on, or `fallback` when the key is absent. Fractions, texts and numbers
    // that a double does not hold exactly are wrong.
    qint64 optionalInteger(const QString &key, qint64 fallback, qint64 minimum);

    // "pageToken" (an offset, 0 when absent) and "pageSize" (clamped to 1…maximumPageSize).
    qint64 pageOffset();
    qint64 pageSize();

    // Remembers that `key` holds no acceptable value, unless an earlier key was wrong already.
    void refuse(const QString &key, const QString &expectation);

    bool failed() const { return !m_error.isEmpty(); }
    ManagementAnswer failure() const { return ManagementAnswer::failed(m_error); }

private:
    QString m_action;
    QJsonObject m_payload;
    QString m_error;
};

// Puts the page of `items` that starts at `offset` into `answer` under `key`, as the items' JSON objects,
// with "nextPageToken" when more items follow.
template <typename Item>
void addPage(QJsonObject &answer, const QString &key, const QList<Item> &items, qint64 offset, qint64 size)
{
    const qint64 begin = std::min<qint64>(offset, items.size());
    const qint64 end = std::min<qint64>(begin + size, items.size());
    QJsonArray page;
    for (qint64 index = begin; index < end; ++index) {
        page.append(items.at(index).toJson());
    }
    answer.insert(key, page);
    if (end < items.size()) {
        answer.insert(QStringLiteral("nextPageToken"), end);
    }
}
