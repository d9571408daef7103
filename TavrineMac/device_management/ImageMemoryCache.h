#pragma once

#include <QHash>
#include <QImage>
#include <QString>

#include <list>
#include <optional>

// Decoded images in memory under text keys, bounded by a count and a total cost; over either limit the
// image used longest ago leaves first. An image whose cost alone is over the limit is not kept.
class ImageMemoryCache
{
public:
    ImageMemoryCache(qsizetype countLimit, qint64 totalCostLimit);

    std::optional<QImage> image(const QString &key); // counts as a use
    bool contains(const QString &key) const;
    void insert(const QString &key, const QImage &image, qint64 cost);
    void clear();

    qsizetype count() const { return m_entries.size(); }
    qint64 totalCost() const { return m_totalCost; }

private:
    struct Entry
    {
        QImage image;
        qint64 cost = 0;
        std::list<QString>::iterator use;
    };

    void remove(const QString &key);

    qsizetype m_countLimit;
    qint64 m_totalCostLimit;
    qint64 m_totalCost = 0;
    QHash<QString, Entry> m_entries;
    std::list<QString> m_uses; // most recent first
};
