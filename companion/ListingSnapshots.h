#pragma once

#include "ActionPayload.h"
#include "MonotonicClock.h"

#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <functional>

// What the first page of a listing found, kept so that its later pages come from the same list: paging by offset
// over a folder that changes meanwhile would list an item twice or never. A page's token is the offset of its first
// item in that list. A first page (token 0) always lists afresh, and so does a later page whose list is no longer
// kept: one unused for `lifetime` goes, and so does the least recently used beyond `maximumCount`.
template <typename Item> class ListingSnapshots
{
public:
    static constexpr qsizetype maximumCount = 4;
    static constexpr std::chrono::seconds lifetime{30};

    explicit ListingSnapshots(MonotonicClock clock = steadyNow) : m_clock(std::move(clock)) {}

    // The list that a page of the listing named by `key` (everything its items depend on) is taken from; `list`
    // lists afresh and may throw, which keeps nothing.
    QList<Item> items(const QStringList &key, bool firstPage, const std::function<QList<Item>()> &list)
    {
        const auto now = m_clock();
        m_snapshots.removeIf([now](const Snapshot &snapshot) { return now - snapshot.lastUsed >= lifetime; });
        const auto found = std::find_if(m_snapshots.begin(), m_snapshots.end(),
                                        [&key](const Snapshot &snapshot) { return snapshot.key == key; });
        if (found != m_snapshots.end()) {
            Snapshot snapshot = std::move(*found);
            m_snapshots.erase(found);
            if (!firstPage) {
                snapshot.lastUsed = now;
                m_snapshots.append(snapshot);
                return snapshot.items;
            }
        }
        QList<Item> items = list();
        if (m_snapshots.size() >= maximumCount) {
            m_snapshots.removeFirst();
        }
        m_snapshots.append({key, items, now});
        return items;
    }

    // The page of the listing named by `key` that `payload` asks for, each item made into what the answer holds by
    // `convert`.
    template <typename Convert = std::identity>
    auto page(const QJsonObject &payload, const QStringList &key, const std::function<QList<Item>()> &list,
              Convert convert = {})
    {
        const bool firstPage = ActionPayload::optionalInteger(payload, QStringLiteral("pageToken"), 0, 0) == 0;
        return ActionPayload::page(payload, items(key, firstPage, list), std::move(convert));
    }

private:
    struct Snapshot
    {
        QStringList key;
        QList<Item> items;
        std::chrono::steady_clock::time_point lastUsed;
    };

    MonotonicClock m_clock;
    QList<Snapshot> m_snapshots; // least recently used first
};
