#include "PhoneFileMimeData.h"

#include "DeviceManagementStore.h"
#include "ManagedPreviewCache.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

const QString uriListFormat = QStringLiteral("text/uri-list");
// The name a file manager gives the dropped file, offered without fetching anything.
const QString suggestedNameFormat = QStringLiteral("application/x-kde-suggestedfilename");

// Shared by a wait and the fetch it waits for, which may finish after the wait gave up or the data is gone.
struct FetchOutcome
{
    bool finished = false;
    std::optional<QString> path;
    QEventLoop loop;
};

QCoro::Task<void> fetchInto(DeviceManagementStore *store, ManagedFileEntry entry, std::shared_ptr<FetchOutcome> outcome)
{
    outcome->path = co_await store->previewFile(std::move(entry));
    outcome->finished = true;
    outcome->loop.quit();
}

} // namespace

FileExportError makeFileExportError()
{
    return {QStringLiteral("com.drovan.tavrine.file-export"), 1, QStringLiteral("无法从手机准备这个文件")};
}

PhoneFileMimeData::PhoneFileMimeData(DeviceManagementStore *store, ManagedFileEntry entry,
                                     std::chrono::milliseconds timeout)
    : m_store(store), m_entry(std::move(entry)), m_timeout(timeout)
{}

bool PhoneFileMimeData::hasFormat(const QString &mimeType) const
{
    return formats().contains(mimeType);
}

QStringList PhoneFileMimeData::formats() const
{
    return {uriListFormat, suggestedNameFormat};
}

QVariant PhoneFileMimeData::retrieveData(const QString &mimeType, QMetaType) const
{
    if (mimeType == suggestedNameFormat) {
        return m_entry.name.toUtf8();
    }
    if (mimeType != uriListFormat) {
        return {};
    }
    if (!m_fetchedPath && !m_exportError && !m_fetching) {
        m_fetching = true;
        m_fetchedPath = fetch();
        m_fetching = false;
        if (!m_fetchedPath) {
            m_exportError = makeFileExportError();
        }
    }
    if (!m_fetchedPath) {
        return {};
    }
    return QVariantList{QUrl::fromLocalFile(*m_fetchedPath)};
}

std::optional<QString> PhoneFileMimeData::fetch() const
{
    if (!m_store || m_entry.directory) {
        return std::nullopt;
    }
    auto outcome = std::make_shared<FetchOutcome>();
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &outcome->loop, &QEventLoop::quit);
    fetchInto(m_store, m_entry, outcome);
    if (!outcome->finished) {
        timeout.start(m_timeout);
        outcome->loop.exec();
    }
    // Only a regular file that is really there is handed on.
    if (!outcome->finished || !outcome->path) {
        return std::nullopt;
    }
    const QFileInfo file(*outcome->path);
    if (file.isSymLink() || !file.isFile()) {
        return std::nullopt;
    }
    // Most file managers keep the name of the file they are given: it is the phone's, unless it cannot be made.
    try {
        return ManagedPreviewCache::namedCopy(file.absoluteFilePath(), m_entry.name);
    } catch (const std::exception &) {
        return file.absoluteFilePath();
    }
}
