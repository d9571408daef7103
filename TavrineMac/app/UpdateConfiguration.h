#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUrl>

struct AppUpdateResolution;

// Where updates come from and the key their feed is signed with, read from the application info.
struct AppUpdateConfiguration
{
    enum class ConfigurationError
    {
        missingFeedURL,
        insecureFeedURL,
        missingPublicKey,
        invalidPublicKey,
    };
    using Resolution = AppUpdateResolution;

    QUrl feedURL;
    // The key exactly as written in the application info: standard Base64 of 32 raw Ed25519 bytes.
    QString publicKey;

    bool operator==(const AppUpdateConfiguration &) const = default;

    // Whether the switch value "TavrineUpdateEnabled" turns updates on; an undefined value is an absent one.
    static bool isEnabled(const QJsonValue &value);
    static Resolution resolve(const QJsonObject &infoDictionary);
    static QString description(ConfigurationError error);
};

struct AppUpdateResolution
{
    enum class Case
    {
        ready,
        invalid,
        disabled,
    };

    Case kind = Case::disabled;
    AppUpdateConfiguration configuration;
    AppUpdateConfiguration::ConfigurationError error = {};

    static AppUpdateResolution ready(AppUpdateConfiguration configuration)
    {
        return {Case::ready, std::move(configuration), {}};
    }
    static AppUpdateResolution invalid(AppUpdateConfiguration::ConfigurationError error)
    {
        return {Case::invalid, {}, error};
    }
    static AppUpdateResolution disabled() { return {}; }
    bool operator==(const AppUpdateResolution &) const = default;
};

// The application info compiled into the program (the keys of an information property list).
inline constexpr auto applicationInfoResource = ":/TavrineMac/ApplicationInfo.json";

// The JSON object stored at `path`; an empty object when it is missing, too large or not an object.
QJsonObject loadApplicationInfo(const QString &path = QString::fromLatin1(applicationInfoResource));
