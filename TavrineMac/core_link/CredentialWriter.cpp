#include "CredentialWriter.h"

#include "ThreadHandOver.h"

#include <exception>
#include <utility>

CredentialWriter::CredentialWriter(TransferCredentialStore credentials) : m_credentials(std::move(credentials)) {}

CredentialWriter::~CredentialWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::shared_future<CredentialWriter::Outcome> CredentialWriter::write(QList<Item> items, QObject *context,
                                                                      std::function<void()> finished)
{
    Batch batch{std::move(items), {}, context, std::move(finished)};
    std::shared_future<Outcome> outcome = batch.outcome.get_future().share();
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back(std::move(batch));
    }
    m_changed.notify_all();
    // The thread starts with the first write: a run that trusts no new phone leaves it unmade.
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { run(); });
    }
    return outcome;
}

CredentialWriter::Outcome CredentialWriter::writeAndWait(QList<Item> items)
{
    return write(std::move(items)).get();
}

void CredentialWriter::noteStored(const Item &item)
{
    const std::lock_guard lock(m_mutex);
    m_stored.insert(item.account, item.text);
}

void CredentialWriter::waitUntilWritten()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.empty() && !m_writing; });
}

void CredentialWriter::run()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [this] { return !m_waiting.empty() || m_stopping; });
        if (m_waiting.empty()) {
            return; // stopping, with nothing left to write
        }
        Batch batch = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_writing = true;
        lock.unlock();
        const Outcome outcome = writeBatch(batch.items);
        batch.outcome.set_value(outcome);
        if (batch.context && batch.finished) {
            ThreadHandOver::post(batch.context, std::move(batch.finished));
        }
        lock.lock();
        m_writing = false;
        m_changed.notify_all();
    }
}

CredentialWriter::Outcome CredentialWriter::writeBatch(const QList<Item> &items)
{
    for (const Item &item : items) {
        {
            const std::lock_guard lock(m_mutex);
            const auto stored = m_stored.constFind(item.account);
            if (stored != m_stored.cend() && *stored == item.text) {
                continue;
            }
        }
        try {
            m_credentials.write(item.text, item.account);
        } catch (const std::exception &error) {
            // What the item holds now is not known: the next write of it goes out whatever its text.
            const std::lock_guard lock(m_mutex);
            m_stored.remove(item.account);
            return QString::fromUtf8(error.what());
        }
        const std::lock_guard lock(m_mutex);
        m_stored.insert(item.account, item.text);
    }
    return std::nullopt;
}
