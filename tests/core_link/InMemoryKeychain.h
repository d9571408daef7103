#pragma once

#include "TransferCredentialStore.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>

#include <optional>

// A keychain in memory for unit tests. Failures are pre-answered: each queued status answers one
// later call, which then changes nothing; a queued success lets its call run normally.
class InMemoryKeychain : public Keychain
{
public:
    CopyResult copyMatching(const QString &service, const QString &account) override
    {
        if (const int32_t status = takeAnswer("copy", account); status != success)
            return {status, {}};
        const std::optional<QByteArray> found = item(service, account);
        return found ? CopyResult{success, *found} : CopyResult{itemNotFound, {}};
    }
    int32_t update(const QString &service, const QString &account, const QByteArray &data) override
    {
        return write("update", service, account, data, m_items.contains({service, account}), itemNotFound);
    }
    int32_t add(const QString &service, const QString &account, const QByteArray &data) override
    {
        return write("add", service, account, data, !m_items.contains({service, account}), -25299 /* duplicate */);
    }
    QString messageForStatus(int32_t status) const override { return m_messages.value(status); }

    void answerNextCall(int32_t status) { m_queuedStatuses.append(status); }
    void setMessage(int32_t status, const QString &message) { m_messages.insert(status, message); }

    std::optional<QByteArray> item(const QString &service, const QString &account) const
    {
        const auto found = m_items.constFind({service, account});
        return found == m_items.cend() ? std::nullopt : std::optional(*found);
    }
    void setItem(const QString &service, const QString &account, const QByteArray &data)
    {
        m_items.insert({service, account}, data);
    }
    qsizetype itemCount() const { return m_items.size(); }
    // One entry per call, e.g. "update trusted-device-registry-v1".
    const QStringList &calls() const { return m_calls; }

private:
    // Records the call and takes its queued answer: a failure status, or success to run normally.
    int32_t takeAnswer(const char *operation, const QString &account)
    {
        m_calls.append(QLatin1String(operation) + u' ' + account);
        return m_queuedStatuses.isEmpty() ? success : m_queuedStatuses.takeFirst();
    }
    int32_t write(const char *operation, const QString &service, const QString &account, const QByteArray &data,
                  bool allowed, int32_t refusal)
    {
        if (const int32_t status = takeAnswer(operation, account); status != success)
            return status;
        if (!allowed)
            return refusal;
        setItem(service, account, data);
        return success;
    }

    QHash<QPair<QString, QString>, QByteArray> m_items;
    QList<int32_t> m_queuedStatuses;
    QHash<int32_t, QString> m_messages;
    QStringList m_calls;
};
