#include "UpdateConfiguration.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>

#include <optional>

namespace {

constexpr qsizetype ed25519PublicKeyBytes = 32;
constexpr qint64 applicationInfoMaximumBytes = 64 * 1024;

// A text value that is not blank once white space and line breaks are trimmed from both ends.
std::optional<QString> nonBlankText(const QJsonValue &value)
{
    if (!value.isString() || value.toString().trimmed().isEmpty()) {
        return std::nullopt;
    }
    return value.toString();
}

} // namespace

bool AppUpdateConfiguration::isEnabled(const QJsonValue &value)
{
    if (value.isBool()) {
        return value.toBool();
    }
    if (value.isString()) {
        const QString lowered = value.toString().toLower();
        return lowered == u"1" || lowered == u"true" || lowered == u"yes";
    }
    return false;
}

AppUpdateResolution AppUpdateConfiguration::resolve(const QJsonObject &infoDictionary)
{
    if (!isEnabled(infoDictionary.value(u"TavrineUpdateEnabled"))) {
        return Resolution::disabled();
    }

    const std::optional<QString> feedText = nonBlankText(infoDictionary.value(u"SUFeedURL"));
    if (!feedText) {
        return Resolution::invalid(ConfigurationError::missingFeedURL);
    }
    // Strict parsing: a URL with blanks around it does not parse, it is not quietly trimmed.
    const QUrl feedURL(*feedText, QUrl::StrictMode);
    if (!feedURL.isValid()) {
        return Resolution::invalid(ConfigurationError::missingFeedURL);
    }
    if (feedURL.scheme().isEmpty() || feedURL.scheme().toLower() != u"https" || feedURL.host().isEmpty()) {
        return Resolution::invalid(ConfigurationError::insecureFeedURL);
    }

    const std::optional<QString> keyText = nonBlankText(infoDictionary.value(u"SUPublicEDKey"));
    if (!keyText) {
        return Resolution::invalid(ConfigurationError::missingPublicKey);
    }
    // Standard padded Base64 and nothing else: a blank, a line break or a missing pad makes the key unusable.
    const QByteArray keyBytes = keyText->toLatin1();
    const auto decoded = QByteArray::fromBase64Encoding(keyBytes, QByteArray::AbortOnBase64DecodingErrors);
    if (keyBytes.size() % 4 != 0 || !decoded || decoded.decoded.size() != ed25519PublicKeyBytes) {
        return Resolution::invalid(ConfigurationError::invalidPublicKey);
    }
    return Resolution::ready({feedURL, *keyText});
}

QString AppUpdateConfiguration::description(ConfigurationError error)
{
    switch (error) {
    case ConfigurationError::missingFeedURL:
        return QStringLiteral("更新地址尚未配置。");
    case ConfigurationError::insecureFeedURL:
        return QStringLiteral("更新地址必须使用 HTTPS。");
    case ConfigurationError::missingPublicKey:
        return QStringLiteral("更新签名公钥尚未配置。");
    case ConfigurationError::invalidPublicKey:
        return QStringLiteral("更新签名公钥格式无效。");
    }
    return {};
}

QJsonObject loadApplicationInfo(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > applicationInfoMaximumBytes) {
        return {};
    }
    return QJsonDocument::fromJson(file.read(applicationInfoMaximumBytes)).object();
}
