#include "InMemoryKeychain.h"

namespace {

constexpr int32_t duplicateItem = -25299;

} // namespace

std::optional<int32_t> InMemoryKeychain::takeQueuedStatus()
{
    if (m_queuedStatuses.isEmpty())
        return std::nullopt;
    const int32_t status = m_queuedStatuses.takeFirst();
    if (status == success)
        return std::nullopt;
    return status;
}

Keychain::CopyResult InMemoryKeychain::copyMatching(const QString &service, const QString &account)
{
    m_calls.append(QStringLiteral("copy ") + account);
    if (const auto status = takeQueuedStatus())
        return {*status, {}};
    const auto found = m_items.constFind({service, account});
    if (found == m_items.cend())
        return {itemNotFound, {}};
    return {success, *found};
}

int32_t InMemoryKeychain::update(const QString &service, const QString &account, const QByteArray &data)
{
    m_calls.append(QStringLiteral("update ") + account);
    if (const auto status = takeQueuedStatus())
        return *status;
    const auto found = m_items.find({service, account});
    if (found == m_items.end())
        return itemNotFound;
    *found = data;
    return success;
}

int32_t InMemoryKeychain::add(const QString &service, const QString &account, const QByteArray &data)
{
    m_calls.append(QStringLiteral("add ") + account);
    if (const auto status = takeQueuedStatus())
        return *status;
    if (m_items.contains({service, account}))
        return duplicateItem;
    m_items.insert({service, account}, data);
    return success;
}

std::optional<QByteArray> InMemoryKeychain::item(const QString &service, const QString &account) const
{
    const auto found = m_items.constFind({service, account});
    if (found == m_items.cend())
        return std::nullopt;
    return *found;
}

void InMemoryKeychain::setItem(const QString &service, const QString &account, const QByteArray &data)
{
    m_items.insert({service, account}, data);
}
