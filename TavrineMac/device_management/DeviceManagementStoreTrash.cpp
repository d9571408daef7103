#include "DeviceManagementStore.h"

#include "LocalNames.h"
#include "ManagedPaging.h"

namespace {

const QString trashListAction = QStringLiteral("files.trash.list");
const QString trashRestoreAction = QStringLiteral("files.trash.restore");
const QString trashEmptyAction = QStringLiteral("files.trash.empty");

} // namespace

QCoro::Task<void> DeviceManagementStore::loadTrash()
{
    const quint64 generation = m_sessionGeneration;
    if (!m_channel->isConnected() || m_isLoadingTrash) {
        co_return;
    }
    setIsLoadingTrash(true);
    setErrorMessage(std::nullopt);
    // Every page answers the search the load began with, so one list never mixes two searches.
    const QString query = m_trashQuery;
    QList<ManagedTrashEntry> gathered;
    ManagedPaging paging(ManagedPaging::Listing::trash);
    try {
        while (true) {
            const QJsonObject payload{{QStringLiteral("query"), query},
                                      {QStringLiteral("pageToken"), paging.pageToken()},
                                      {QStringLiteral("pageSize"), pageSize}};
            const QString answer = co_await requestText(trashListAction, payload);
            const auto page = paging.read<ManagedTrashPage>(answer);
            if (!isCurrent(generation)) {
                co_return;
            }
            gathered.append(page.entries);
            if (gathered.size() >= maximumListedEntries || !paging.advance(page.nextPageToken)) {
                break;
            }
        }
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
            setIsLoadingTrash(false);
        }
        co_return;
    }
    publishListing(m_trashEntries, gathered, m_listedTrashQuery, query, &DeviceManagementStore::trashEntriesChanged);
    setIsLoadingTrash(false);
}

QCoro::Task<bool> DeviceManagementStore::restore(ManagedTrashEntry entry, ManagedConflictPolicy policy)
{
    const QJsonObject payload{{QStringLiteral("id"), entry.id}, {QStringLiteral("conflictPolicy"), ::rawValue(policy)}};
    const QString restoredText = entry.originalName + QStringLiteral(" 已恢复");
    const quint64 generation = m_sessionGeneration;
    try {
        co_await requestText(trashRestoreAction, payload);
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
        }
        co_return false;
    }
    if (!isCurrent(generation)) {
        co_return false;
    }
    setMessage(restoredText);
    setErrorMessage(std::nullopt);
    co_await loadTrash();
    // After a switch there is no folder of this phone left to reload.
    if (isCurrent(generation)) {
        co_await reloadCurrentFolder();
    }
    co_return true;
}

QCoro::Task<bool> DeviceManagementStore::emptyTrash()
{
    const quint64 generation = m_sessionGeneration;
    ManagedTrashEmptyResult result;
    try {
        result = co_await request<ManagedTrashEmptyResult>(trashEmptyAction, {});
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
        }
        co_return false;
    }
    if (!isCurrent(generation)) {
        co_return false;
    }
    // An emptied trash is empty whatever was searched.
    publishListing(m_trashEntries, {}, m_listedTrashQuery, {}, &DeviceManagementStore::trashEntriesChanged);
    setMessage(result.deletedCount > 0 ? QStringLiteral("已永久删除 ") + QString::number(result.deletedCount) +
                                             QStringLiteral(" 项，释放 ") + fileByteCount(result.reclaimedBytes)
                                       : QStringLiteral("回收站已经是空的"));
    setErrorMessage(std::nullopt);
    co_return true;
}
