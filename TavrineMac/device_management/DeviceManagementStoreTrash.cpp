#include "DeviceManagementStore.h"

#include "LocalNames.h"

namespace {

const QString trashListAction = QStringLiteral("files.trash.list");
const QString trashRestoreAction = QStringLiteral("files.trash.restore");
const QString trashEmptyAction = QStringLiteral("files.trash.empty");
// A phone that keeps answering pages with a token, however few entries they bring, is not followed further.
constexpr int maximumTrashPages = 1000;

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
    qint64 pageToken = 0;
    try {
        for (int pages = 1;; ++pages) {
            const QJsonObject payload{{QStringLiteral("query"), query},
                                      {QStringLiteral("pageToken"), pageToken},
                                      {QStringLiteral("pageSize"), pageSize}};
            const ManagedTrashPage page = co_await request<ManagedTrashPage>(trashListAction, payload);
            if (!isCurrent(generation)) {
                co_return;
            }
            gathered.append(page.entries);
            if (!page.nextPageToken || gathered.size() >= maximumListedEntries || pages >= maximumTrashPages) {
                break;
            }
            pageToken = *page.nextPageToken;
        }
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
            setIsLoadingTrash(false);
        }
        co_return;
    }
    setTrashEntries(gathered);
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
    setTrashEntries({});
    setMessage(result.deletedCount > 0 ? QStringLiteral("已永久删除 ") + QString::number(result.deletedCount) +
                                             QStringLiteral(" 项，释放 ") + fileByteCount(result.reclaimedBytes)
                                       : QStringLiteral("回收站已经是空的"));
    setErrorMessage(std::nullopt);
    co_return true;
}
