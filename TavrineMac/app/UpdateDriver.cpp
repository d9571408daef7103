#include "UpdateDriver.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#include <utility>

UpdateCheckOutcome UpdateCheckOutcome::of(const std::variant<UpdateFeed, UpdateFeedError> &feed,
                                          const QString &currentVersion)
{
    if (const auto *error = std::get_if<UpdateFeedError>(&feed)) {
        switch (*error) {
        case UpdateFeedError::tooLarge:
            return {Case::failed, QStringLiteral("更新信息过大，已拒绝。"), {}, {}};
        case UpdateFeedError::badSignature:
            return {Case::failed, QStringLiteral("更新信息的签名无效，已拒绝。"), {}, {}};
        case UpdateFeedError::outdated:
            return {Case::failed, QStringLiteral("收到的更新信息比之前检查到的旧，可能已被替换，已拒绝。"), {}, {}};
        case UpdateFeedError::malformed:
            break;
        }
        return {Case::failed, QStringLiteral("更新信息格式无效。"), {}, {}};
    }
    const UpdateFeed &latest = std::get<UpdateFeed>(feed);
    const std::optional<UpdateVersion> current = UpdateVersion::parse(currentVersion);
    if (!current) {
        return {Case::failed, QStringLiteral("无法读取当前版本。"), {}, {}};
    }
    if (UpdateVersion::compare(*UpdateVersion::parse(latest.version), *current) <= 0) {
        return {Case::upToDate,
                QStringLiteral("当前已是最新版本。"),
                QStringLiteral("当前版本为 %1。").arg(currentVersion),
                {}};
    }
    QString informative = QStringLiteral("当前版本为 %1。请通过系统的软件包管理器安装新版本，或前往 %2 获取。")
                              .arg(currentVersion, latest.downloadURL.toString());
    if (!latest.notes.isEmpty()) {
        informative += QStringLiteral("\n\n") + latest.notes;
    }
    return {Case::newerVersion, QStringLiteral("发现新版本 %1。").arg(latest.version), informative, latest.downloadURL};
}

UpdateCheckOutcome UpdateCheckOutcome::fetchFailed()
{
    return {Case::failed, QStringLiteral("无法获取更新信息，请稍后再试。"), {}, {}};
}

FeedUpdateDriver::FeedUpdateDriver(AppUpdateConfiguration configuration, QString currentVersion, Reporter reporter,
                                   std::unique_ptr<QSettings> settings, QObject *parent)
    : QObject(parent), m_configuration(std::move(configuration)),
      m_publicKey(QByteArray::fromBase64(m_configuration.publicKey.toLatin1())),
      m_currentVersion(std::move(currentVersion)), m_reporter(std::move(reporter)),
      m_settings(settings ? std::move(settings) : std::make_unique<QSettings>())
{
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(checkTimeout);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_reply) {
            m_reply->abort();
        }
    });
}

FeedUpdateDriver::~FeedUpdateDriver()
{
    if (m_reply) {
        // No outcome for a check that outlives its driver.
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

std::optional<QDateTime> FeedUpdateDriver::newestVerifiedFeed() const
{
    const QDateTime time = QDateTime::fromString(m_settings->value(newestFeedKey).toString(), Qt::ISODate);
    return time.isValid() ? std::optional(time) : std::nullopt;
}

void FeedUpdateDriver::observeCanCheckForUpdates(std::function<void(bool)> handler)
{
    m_handler = std::move(handler);
    publish(canCheckForUpdates());
}

void FeedUpdateDriver::publish(bool canCheck)
{
    // Values reach the handler through the event loop, never from inside the call that changed them.
    QMetaObject::invokeMethod(
        this,
        [this, canCheck] {
            if (m_handler) {
                m_handler(canCheck);
            }
        },
        Qt::QueuedConnection);
}

void FeedUpdateDriver::checkForUpdates()
{
    if (m_reply) {
        return;
    }
    QNetworkRequest request(m_configuration.feedURL);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(maximumRedirects);
    request.setTransferTimeout(int(transferTimeout.count()));
    if (m_sslConfiguration) {
        request.setSslConfiguration(*m_sslConfiguration);
    }
    m_body.clear();
    m_tooLarge = false;
    m_reply = m_network.get(request);
    m_reply->setReadBufferSize(UpdateFeed::maximumBytes + 1);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > UpdateFeed::maximumBytes) {
            m_tooLarge = true;
            m_reply->abort();
        }
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &FeedUpdateDriver::readAvailable);
    connect(m_reply, &QNetworkReply::finished, this, &FeedUpdateDriver::finish);
    m_deadline.start();
    publish(false);
}

void FeedUpdateDriver::readAvailable()
{
    if (!m_reply || m_tooLarge) {
        return;
    }
    m_body += m_reply->read(UpdateFeed::maximumBytes + 1 - m_body.size());
    if (m_body.size() > UpdateFeed::maximumBytes) {
        m_tooLarge = true;
        m_reply->abort();
    }
}

void FeedUpdateDriver::finish()
{
    if (!m_reply) {
        return;
    }
    readAvailable();
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->deleteLater();
    m_deadline.stop();

    UpdateCheckOutcome outcome;
    if (m_tooLarge) {
        outcome = UpdateCheckOutcome::of(UpdateFeedError::tooLarge, m_currentVersion);
    } else if (reply->error() != QNetworkReply::NoError ||
               reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200) {
        outcome = UpdateCheckOutcome::fetchFailed();
    } else {
        const auto feed = UpdateFeed::refuseOutdated(UpdateFeed::read(m_body, m_publicKey), newestVerifiedFeed());
        if (const auto *verified = std::get_if<UpdateFeed>(&feed)) {
            m_settings->setValue(newestFeedKey, verified->published.toString(Qt::ISODate));
        }
        outcome = UpdateCheckOutcome::of(feed, m_currentVersion);
    }
    m_body.clear();
    publish(true);
    if (m_reporter) {
        m_reporter(outcome);
    }
}
