#include "TurnLine.h"

void TurnLine::pass()
{
    const quint64 next = ++m_serving;
    if (!m_waiting.contains(next)) {
        return; // nobody waits, or the next turn has not been asked for yet: it finds the turn free
    }
    // From the event loop, not from inside the coroutine that ends its turn, which is still winding down. A line
    // destroyed meanwhile drops the call.
    QMetaObject::invokeMethod(
        this,
        [this, next] {
            if (const std::coroutine_handle<> waiter = m_waiting.take(next)) {
                waiter.resume();
            }
        },
        Qt::QueuedConnection);
}
