#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>

namespace tavrine::core {

// A queue the application empties by polling, with a lock of its own: the application taking an item never waits
// for its owner's lock, which the link's threads hold while they work. Whether it holds anything can be read
// without any lock, so that an application that looks many times a millisecond finds it empty at once. Items
// pushed one after another under the owner's lock come out in that order.
template <typename Item> class PollQueue
{
public:
    void push_back(Item item)
    {
        const std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
        m_size.store(m_items.size(), std::memory_order_release);
    }
    std::optional<Item> takeFront()
    {
        const std::lock_guard lock(m_mutex);
        if (m_items.empty()) {
            return std::nullopt;
        }
        Item item = std::move(m_items.front());
        m_items.pop_front();
        m_size.store(m_items.size(), std::memory_order_release);
        return item;
    }
    void clear()
    {
        const std::lock_guard lock(m_mutex);
        m_items.clear();
        m_size.store(0, std::memory_order_release);
    }

    // Something pushed before this is seen; something pushed meanwhile may not be.
    bool looksEmpty() const { return m_size.load(std::memory_order_acquire) == 0; }

private:
    std::mutex m_mutex;
    std::deque<Item> m_items;
    std::atomic<size_t> m_size = 0;
};

} // namespace tavrine::core
