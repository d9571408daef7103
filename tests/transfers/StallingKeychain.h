// A keychain whose calls can be held, as a slow Secret Service holds them.
#pragma once

#include "StoreTestSupport.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

// The keyring of a session whose Secret Service answers late (it may keep a call waiting up to its 25 s time-out):
// while stalled, each write waits until released, or for 10 s at most; a read asked to stall does the same. Calls go
// one at a time to the keychain in memory underneath.
class StallingKeychain : public Keychain
{
public:
    explicit StallingKeychain(std::shared_ptr<InMemoryKeychain> keychain) : m_keychain(std::move(keychain)) {}

    CopyResult copyMatching(const QString &service, const QString &account) override
    {
        std::unique_lock lock(m_mutex);
        if (std::exchange(m_stallNextRead, false)) {
            ++m_waiting;
            m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return !m_readStalled; });
            --m_waiting;
        }
        return m_keychain->copyMatching(service, account);
    }
    int32_t update(const QString &service, const QString &account, const QByteArray &data) override
    {
        std::unique_lock lock(m_mutex);
        waitWhileStalled(lock);
        return m_keychain->update(service, account, data);
    }
    int32_t add(const QString &service, const QString &account, const QByteArray &data) override
    {
        std::unique_lock lock(m_mutex);
        waitWhileStalled(lock);
        return m_keychain->add(service, account, data);
    }
    QString messageForStatus(int32_t status) const override { return m_keychain->messageForStatus(status); }

    void stall()
    {
        const std::lock_guard lock(m_mutex);
        m_stalled = true;
    }
    // The next read waits until released; the reads after it do not.
    void stallNextRead()
    {
        const std::lock_guard lock(m_mutex);
        m_readStalled = true;
        m_stallNextRead = true;
    }
    void release()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stalled = false;
            m_readStalled = false;
        }
        m_changed.notify_all();
    }
    // A call waits: a write, or the read asked to stall.
    bool hasWaitingCall()
    {
        const std::lock_guard lock(m_mutex);
        return m_waiting > 0;
    }
    // The keychain's calls so far, e.g. "update trusted-device-registry-v1".
    QStringList calls()
    {
        const std::lock_guard lock(m_mutex);
        return m_keychain->calls();
    }

private:
    void waitWhileStalled(std::unique_lock<std::mutex> &lock)
    {
        ++m_waiting;
        m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return !m_stalled; });
        --m_waiting;
    }

    std::shared_ptr<InMemoryKeychain> m_keychain;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stalled = false;
    bool m_stallNextRead = false;
    bool m_readStalled = false;
    int m_waiting = 0;
};
