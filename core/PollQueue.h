#pragma once

#include <atomic>
#include <deque>
#include <optional>

namespace tavrine::core {

// A queue the application empties by polling. It is changed under its owner's lock, and whether it holds anything
// can be read without that lock: an application that looks many times a millisecond finds it empty without taking
// the lock the link's threads need.
template <typename Item> class PollQueue
{
public:
    // Under the owner's lock.
    void push_back(Item item)
    {
        m_items.push_back(std::move(item));
        m_size.store(m_items.size(), std::memory_order_release);
    }
    std::optional<Item> takeFront()
    {
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
        m_items.clear();
        m_size.store(0, std::memory_order_release);
    }

    // Without the lock. Something pushed before this is seen; something pushed meanwhile may not be.
    bool looksEmpty() const { return m_size.load(std::memory_order_acquire) == 0; }

private:
    std::deque<Item> m_items;
    std::atomic<size_t> m_size = 0;
};

} // namespace tavrine::core
