#include "ImageMemoryCache.h"

ImageMemoryCache::ImageMemoryCache(qsizetype countLimit, qint64 totalCostLimit)
    : m_countLimit(countLimit), m_totalCostLimit(totalCostLimit)
{}

std::optional<QImage> ImageMemoryCache::image(const QString &key)
{
    const auto found = m_entries.find(key);
    if (found == m_entries.end()) {
        return std::nullopt;
    }
    m_uses.splice(m_uses.begin(), m_uses, found->use);
    return found->image;
}

bool ImageMemoryCache::contains(const QString &key) const
{
    return m_entries.contains(key);
}

void ImageMemoryCache::insert(const QString &key, const QImage &image, qint64 cost)
{
    remove(key);
    if (cost < 0 || cost > m_totalCostLimit || m_countLimit <= 0) {
        return;
    }
    while (!m_uses.empty() && (m_entries.size() >= m_countLimit || m_totalCost > m_totalCostLimit - cost)) {
        const QString oldest = m_uses.back();
        remove(oldest);
    }
    m_uses.push_front(key);
    m_entries.insert(key, Entry{image, cost, m_uses.begin()});
    m_totalCost += cost;
}

void ImageMemoryCache::clear()
{
    m_entries.clear();
    m_uses.clear();
    m_totalCost = 0;
}

void ImageMemoryCache::remove(const QString &key)
{
    const auto found = m_entries.find(key);
    if (found == m_entries.end()) {
        return;
    }
    m_totalCost -= found->cost;
    m_uses.erase(found->use);
    m_entries.erase(found);
}
