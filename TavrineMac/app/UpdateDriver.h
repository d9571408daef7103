#pragma once

#include "UpdateCheckOutcome.h"
#include "UpdateConfiguration.h"
#include "UpdateController.h"
#include "UpdateFeed.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QSslConfiguration>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Our updater: fetches the signed feed over HTTPS, checks its signature and version, and tells the user
// where a newer version is. Installing it is left to the system's package manager.
class FeedUpdateDriver : public QObject, public AppUpdateDriving
{
    Q_OBJECT

public:
    using Reporter = std::function<void(const UpdateCheckOutcome &)>;

    static constexpr std::chrono::milliseconds transferTimeout{15000};
    static constexpr std::chrono::milliseconds checkTimeout{30000};
    static constexpr int maximumRedirects = 3;
    // The publication time of the newest feed verified here, so that an older one served later is refused.
    static constexpr char newestFeedKey[] = "update.newestFeedPublishedAt";

    // `settings`: where the newest publication time is kept; the application's settings when none is given.
    FeedUpdateDriver(AppUpdateConfiguration configuration, QString currentVersion, Reporter reporter,
                     std::unique_ptr<QSettings> settings = nullptr, QObject *parent = nullptr);
    ~FeedUpdateDriver() override;

    bool canCheckForUpdates() const override { return !m_reply; }
    void observeCanCheckForUpdates(std::function<void(bool)> handler) override;
    void checkForUpdates() override;

    // Tests serve the feed with a certificate of their own and trust it here.
    void setSslConfigurationForTesting(const QSslConfiguration &configuration) { m_sslConfiguration = configuration; }

private:
    std::optional<QDateTime> newestVerifiedFeed() const;
    void readAvailable();
    void finish();
    void publish(bool canCheck);

    const AppUpdateConfiguration m_configuration;
    const QByteArray m_publicKey;
    const QString m_currentVersion;
    const Reporter m_reporter;
    const std::unique_ptr<QSettings> m_settings;
    std::function<void(bool)> m_handler;
    std::optional<QSslConfiguration> m_sslConfiguration;
    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    bool m_tooLarge = false;
    QTimer m_deadline;
};
