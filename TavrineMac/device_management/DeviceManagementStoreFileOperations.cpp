#include "DeviceManagementStore.h"

#include "DeviceManagementRequestError.h"

#include <QSet>

namespace {

const QString mkdirAction = QStringLiteral("files.mkdir");
const QString renameAction = QStringLiteral("files.rename");
const QString deleteAction = QStringLiteral("files.delete");
const QString copyAction = QStringLiteral("files.copy");
const QString moveAction = QStringLiteral("files.move");
const QString conflictPolicyKey = QStringLiteral("conflictPolicy");

// How far a run of one request per entry got before it ended.
struct RunOutcome
{
    qsizetype done = 0;
    std::exception_ptr failure; // the error that stopped the run; none when every entry was done
};

// Sends one request per payload, each after the previous answer, and stops at the first failure. Nothing when
// the phone was switched meanwhile: the run then belongs to a phone that is no longer shown.
QCoro::Task<std::optional<RunOutcome>> sendEach(DeviceManagementStore &store, QString action,
                                                QList<QJsonObject> payloads)
{
    const quint64 generation = store.sessionGeneration();
    RunOutcome outcome;
    for (const QJsonObject &payload : payloads) {
        try {
            co_await store.requestText(action, payload);
        } catch (...) {
            outcome.failure = std::current_exception();
        }
        if (store.sessionGeneration() != generation) {
            co_return std::nullopt;
        }
        if (outcome.failure) {
            break;
        }
        ++outcome.done;
    }
    co_return outcome;
}

// One change of the phone's tree by one request: on success the result text and a reload of the open folder.
QCoro::Task<bool> changeOnce(DeviceManagementStore &store, QString action, QJsonObject payload, QString doneText)
{
    const quint64 generation = store.sessionGeneration();
    try {
        co_await store.requestText(action, payload);
    } catch (...) {
        if (store.sessionGeneration() == generation) {
            store.present(std::current_exception());
        }
        co_return false;
    }
    if (store.sessionGeneration() != generation) {
        co_return false;
    }
    // Written before the reload, so a failing reload's error takes the place of the result.
    store.setMessage(doneText);
    store.setErrorMessage(std::nullopt);
    co_await store.reloadCurrentFolder();
    co_return true;
}

// A name of nothing but blanks would give an item the user cannot see: refused before the phone is asked.
bool refusesBlankName(DeviceManagementStore &store, const QString &name)
{
    if (!isBlankName(name)) {
        return false;
    }
    store.present(std::make_exception_ptr(DeviceManagementRequestError::rejected(invalidNameMessage)));
    return true;
}

QString partialRunText(const RunOutcome &outcome, qsizetype total, const QString &rest)
{
    const QString description = DeviceManagementStore::describe(outcome.failure);
    if (outcome.done == 0) {
        return description;
    }
    return QStringLiteral("已处理 ") + QString::number(outcome.done) + u'/' + QString::number(total) + rest +
           description;
}

} // namespace

QList<ManagedFileEntry> DeviceManagementStore::uniqueEntries(const QList<ManagedFileEntry> &entries)
{
    QSet<QString> seen;
    QList<ManagedFileEntry> unique;
    for (const ManagedFileEntry &entry : entries) {
        if (!seen.contains(entry.id)) {
            seen.insert(entry.id);
            unique.append(entry);
        }
    }
    return unique;
}

QCoro::Task<bool> DeviceManagementStore::createFolder(QString name, ManagedConflictPolicy policy)
{
    if (!m_currentPage || refusesBlankName(*this, name)) {
        co_return false;
    }
    const QJsonObject payload{{QStringLiteral("parentId"), m_currentPage->parentId},
                              {QStringLiteral("name"), name},
                              {conflictPolicyKey, ::rawValue(policy)}};
    co_return co_await changeOnce(*this, mkdirAction, payload, QStringLiteral("文件夹已创建"));
}

QCoro::Task<bool> DeviceManagementStore::rename(ManagedFileEntry entry, QString name, ManagedConflictPolicy policy)
{
    if (refusesBlankName(*this, name)) {
        co_return false;
    }
    const QJsonObject payload{
        {QStringLiteral("id"), entry.id}, {QStringLiteral("name"), name}, {conflictPolicyKey, ::rawValue(policy)}};
    co_return co_await changeOnce(*this, renameAction, payload, QStringLiteral("已重命名"));
}

QCoro::Task<bool> DeviceManagementStore::moveToTrash(QList<ManagedFileEntry> entries)
{
    const QList<ManagedFileEntry> unique = uniqueEntries(entries);
    if (unique.isEmpty() || m_isPerformingFileOperation) {
        co_return false;
    }
    const quint64 generation = m_sessionGeneration;
    setIsPerformingFileOperation(true);
    setMessage(QStringLiteral("正在移到 Tavrine 回收站…"));
    setErrorMessage(std::nullopt);
    QList<QJsonObject> payloads;
    for (const ManagedFileEntry &entry : unique) {
        payloads.append({{QStringLiteral("id"), entry.id}});
    }
    const std::optional<RunOutcome> outcome = co_await sendEach(*this, deleteAction, payloads);
    if (!outcome) {
        co_return false;
    }
    co_await reloadCurrentFolder();
    if (!isCurrent(generation)) {
        co_return !outcome->failure;
    }
    const qsizetype total = unique.size();
    if (outcome->failure) {
        setErrorMessage(partialRunText(*outcome, total, QStringLiteral(" 项，其余项目未改动：")));
    } else {
        setMessage(total == 1
                       ? QStringLiteral("已移到 Tavrine 回收站")
                       : QStringLiteral("已将 ") + QString::number(total) + QStringLiteral(" 项移到 Tavrine 回收站"));
        setErrorMessage(std::nullopt);
    }
    setIsPerformingFileOperation(false);
    co_return !outcome->failure;
}

void DeviceManagementStore::putOnClipboard(const QList<ManagedFileEntry> &entries, bool move)
{
    const QList<ManagedFileEntry> unique = uniqueEntries(entries);
    if (unique.isEmpty()) {
        return;
    }
    setClipboard(FileClipboard{unique, move});
    const QString count = QString::number(unique.size());
    setMessage(move ? QStringLiteral("已选择 ") + count + QStringLiteral(" 项，进入目标文件夹后移动")
                    : QStringLiteral("已复制 ") + count + QStringLiteral(" 项，进入目标文件夹后粘贴"));
    setErrorMessage(std::nullopt);
}

QCoro::Task<bool> DeviceManagementStore::paste(ManagedConflictPolicy policy)
{
    if (!m_clipboard || !m_currentPage || m_isPerformingFileOperation) {
        co_return false;
    }
    const quint64 generation = m_sessionGeneration;
    // The run pastes into the folder open now, even when the user opens another one meanwhile.
    const QString destination = m_currentPage->parentId;
    const FileClipboard clipboard = *m_clipboard;
    setIsPerformingFileOperation(true);
    setMessage(clipboard.move ? QStringLiteral("正在移动…") : QStringLiteral("正在粘贴…"));
    setErrorMessage(std::nullopt);
    QList<QJsonObject> payloads;
    for (const ManagedFileEntry &entry : clipboard.entries) {
        payloads.append({{QStringLiteral("sourceId"), entry.id},
                         {QStringLiteral("destinationParentId"), destination},
                         {conflictPolicyKey, ::rawValue(policy)}});
    }
    const std::optional<RunOutcome> outcome =
        co_await sendEach(*this, clipboard.move ? moveAction : copyAction, payloads);
    if (!outcome) {
        co_return false;
    }
    // What was not done stays on the clipboard, so pasting again finishes the job.
    const QList<ManagedFileEntry> left = clipboard.entries.mid(outcome->done);
    setClipboard(left.isEmpty() ? std::nullopt : std::optional(FileClipboard{left, clipboard.move}));
    co_await reloadCurrentFolder();
    if (!isCurrent(generation)) {
        co_return !outcome->failure;
    }
    const qsizetype total = clipboard.entries.size();
    if (outcome->failure) {
        setErrorMessage(partialRunText(*outcome, total, QStringLiteral(" 项，未完成项目仍保留在剪贴板：")));
    } else {
        setMessage((clipboard.move ? QStringLiteral("已移动 ") : QStringLiteral("已粘贴 ")) + QString::number(total) +
                   QStringLiteral(" 项"));
        setErrorMessage(std::nullopt);
    }
    setIsPerformingFileOperation(false);
    co_return !outcome->failure;
}
