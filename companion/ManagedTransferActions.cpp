#include "ManagedTransferActions.h"

#include "ActionPayload.h"
#include "FileDescriptor.h"
#include "MediaFile.h"
#include "PhoneOutput.h"
#include "SavedUploadFolders.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString prepareUploadAction = QStringLiteral("files.prepare_upload");
const QString downloadAction = QStringLiteral("files.download");
const QString mediaDownloadAction = QStringLiteral("media.download");
const QString transferIdKey = QStringLiteral("transferId");
const QString directoryIdKey = QStringLiteral("directoryId");
const QString fileIdKey = QStringLiteral("id");

const QString folderNotFoundMessage = QStringLiteral("找不到目标文件夹。");
const QString fileNotFoundMessage = QStringLiteral("找不到这个文件。");
const QString notAFileMessage = QStringLiteral("这不是可以下载的文件。");
const QString notMediaMessage = QStringLiteral("这不是照片或视频。");
const QString cannotReadMessage = QStringLiteral("无法读取这个文件：%1");

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

std::optional<QString> existingFolder(const StorageIdResult &resolved)
{
    const StorageItem *item = std::get_if<StorageItem>(&resolved);
    if (!item || !QFileInfo(item->realPath).isDir()) {
        return std::nullopt;
    }
    return item->realPath;
}

} // namespace

ManagedTransferActions::ManagedTransferActions(TransferClientProtocol &client, const QString &storageDirectory,
                                               MonotonicClock clock)
    : m_client(client), m_storageDirectory(storageDirectory), m_ids(storageDirectory), m_clock(std::move(clock))
{
    loadSavedPreparations();
}

void ManagedTransferActions::addTo(ManagementHandlers &handlers)
{
    handlers.add(prepareUploadAction, [this](const QJsonObject &payload) { return prepareUpload(payload); });
    handlers.add(downloadAction, [this](const QJsonObject &payload) { return download(payload, false); });
    handlers.add(mediaDownloadAction, [this](const QJsonObject &payload) { return download(payload, true); });
}

std::optional<QString> ManagedTransferActions::takeDeliveryFolder(const QString &transferId, QString *errorMessage)
{
    forgetStalePreparations();
    const auto prepared = m_preparations.find(transferId);
    if (prepared == m_preparations.end()) {
        return m_storageDirectory;
    }
    const QString folderId = prepared->folderId;
    forget(prepared);
    // Resolved again: the folder may have been renamed, removed or replaced since it was prepared.
    const std::optional<QString> folder = existingFolder(m_ids.resolve(folderId));
    if (!folder && errorMessage) {
        *errorMessage =
            QStringLiteral("The folder prepared for the received transfer %1 is no longer in the storage folder")
                .arg(transferId);
    }
    return folder;
}

ManagementAnswer ManagedTransferActions::prepareUpload(const QJsonObject &payload)
{
    const QString transferId = ActionPayload::text(payload, transferIdKey);
    const QString directoryId = ActionPayload::text(payload, directoryIdKey, ActionPayload::maximumIdLength);
    if (!existingFolder(m_ids.resolve(directoryId))) {
        return ManagementAnswer::failed(folderNotFoundMessage);
    }
    if (const auto earlier = m_preparations.find(transferId); earlier != m_preparations.end()) {
        forget(earlier);
    }
    const auto deadline = m_deadlines.emplace(m_clock() + preparationLifetime, transferId);
    m_preparations.insert(transferId, {directoryId, deadline});
    forgetStalePreparations();
    savePreparation(transferId, directoryId);
    return ManagementAnswer::succeeded({});
}

void ManagedTransferActions::followReceivedTransfer(const TransferEvent &event)
{
    if (event.direction != TransferDirection::receiving) {
        return;
    }
    forgetStalePreparations();
    const auto preparation = m_preparations.find(event.transferId);
    if (preparation == m_preparations.end()) {
        return;
    }
    if (event.kind == TransferEventKind::failed || event.kind == TransferEventKind::cancelled) {
        forget(preparation);
    } else if (event.kind == TransferEventKind::receiving &&
               preparation->deadline->first != Deadlines::key_type::max()) {
        m_deadlines.erase(preparation->deadline);
        preparation->deadline = m_deadlines.emplace(Deadlines::key_type::max(), event.transferId);
    }
}

void ManagedTransferActions::forget(QHash<QString, Preparation>::iterator preparation)
{
    m_deadlines.erase(preparation->deadline);
    m_preparations.erase(preparation);
}

void ManagedTransferActions::forgetStalePreparations()
{
    const auto now = m_clock();
    while (!m_deadlines.empty() && (m_deadlines.begin()->first <= now || m_preparations.size() > maximumPreparations)) {
        forget(m_preparations.find(m_deadlines.begin()->second));
    }
}

void ManagedTransferActions::loadSavedPreparations()
{
    QString error;
    const std::optional<SavedUploadFolders::Contents> saved = SavedUploadFolders::load(m_storageDirectory, &error);
    if (!saved) {
        PhoneOutput::writeError(error);
        return;
    }
    m_savedLines = saved->lines;
    for (const auto &[transferId, folderId] : saved->folders) {
        const auto deadline = m_deadlines.emplace(m_clock() + preparationLifetime, transferId);
        m_preparations.insert(transferId, {folderId, deadline});
    }
}

void ManagedTransferActions::savePreparation(const QString &transferId, const QString &folderId)
{
    QString error;
    bool saved = false;
    if (m_savedLines < 2 * SavedUploadFolders::maximumEntries) {
        saved = SavedUploadFolders::append(m_storageDirectory, transferId, folderId, &error);
        m_savedLines += 1;
    } else {
        SavedUploadFolders::Folders newest;
        // Files on their way first (their deadline is the latest), then the newest.
        for (auto entry = m_deadlines.rbegin();
             entry != m_deadlines.rend() && qsizetype(newest.size()) < SavedUploadFolders::maximumEntries; ++entry) {
            newest.emplace(newest.begin(), entry->second, m_preparations.value(entry->second).folderId);
        }
        saved = SavedUploadFolders::rewrite(m_storageDirectory, newest, &error);
        if (saved) {
            m_savedLines = qsizetype(newest.size());
        }
    }
    if (!saved) {
        PhoneOutput::writeError(error);
    }
}

ManagementAnswer ManagedTransferActions::download(const QJsonObject &payload, bool mediaOnly)
{
    const QString fileId = ActionPayload::text(payload, fileIdKey, ActionPayload::maximumIdLength);
    const QString transferId = ActionPayload::text(payload, transferIdKey);

    const StorageIdResult resolved = m_ids.resolve(fileId);
    const StorageItem *item = std::get_if<StorageItem>(&resolved);
    if (!item) {
        return ManagementAnswer::failed(fileNotFoundMessage);
    }
    const QFileInfo info(item->path);
    if (info.isSymLink() || !info.isFile()) {
        return ManagementAnswer::failed(notAFileMessage);
    }

    // O_NONBLOCK: a named pipe put in its place meanwhile must not stall the phone until a writer comes;
    // O_NOFOLLOW: nor may a link put in its place lead elsewhere.
    const FileDescriptor file(
        ::open(QFile::encodeName(item->realPath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (file.get() < 0) {
        return ManagementAnswer::failed(errno == ELOOP ? notAFileMessage : cannotReadMessage.arg(systemError()));
    }
    struct stat status = {};
    if (::fstat(file.get(), &status) != 0) {
        return ManagementAnswer::failed(cannotReadMessage.arg(systemError()));
    }
    if (!S_ISREG(status.st_mode)) {
        return ManagementAnswer::failed(notAFileMessage);
    }
    if (mediaOnly) {
        // pread: the library sends from the descriptor's offset, which a read would move.
        QByteArray head(MediaFile::contentSniffBytes, Qt::Uninitialized);
        const ssize_t read = ::pread(file.get(), head.data(), static_cast<size_t>(head.size()), 0);
        if (read < 0) {
            return ManagementAnswer::failed(cannotReadMessage.arg(systemError()));
        }
        head.truncate(read);
        if (!MediaFile::kindOfContent(head)) {
            return ManagementAnswer::failed(notMediaMessage);
        }
    }

    // The library duplicates the descriptor; ours is closed when `file` goes away.
    try {
        m_client.sendFileDescriptorWithId(file.get(), info.fileName(), static_cast<uint64_t>(status.st_size),
                                          transferId);
    } catch (const TavrineCoreError &error) {
        return ManagementAnswer::failed(error.errorDescription());
    }
    return ManagementAnswer::succeeded({});
}
