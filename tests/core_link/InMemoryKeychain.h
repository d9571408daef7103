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
    CopyResult copyMatching(const QString &service, const QString &account) override;
    int32_t update(const QString &service, const QString &account, const QByteArray &data) override;
    int32_t add(const QString &service, const QString &account, const QByteArray &data) override;
    QString messageForStatus(int32_t status) const override { return m_messages.value(status); }

    void answerNextCall(int32_t status) { m_queuedStatuses.append(status); }
    void setMessage(int32_t status, const QString &message) { m_messages.insert(status, message); }

    std::optional<QByteArray> item(const QString &service, const QString &account) const;
    void setItem(const QString &service, const QString &account, const QByteArray &data);
    qsizetype itemCount() const { return m_items.size(); }
    // One entry per call, e.g. "update trusted-device-registry-v1".
    const QStringList &calls() const { return m_calls; }

private:
    std::optional<int32_t> takeQueuedStatus();

    QHash<QPair<QString, QString>, QByteArray> m_items;
    QList<int32_t> m_queuedStatuses;
    QHash<int32_t, QString> m_messages;
    QStringList m_calls;
};
