#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <exception>
#include <optional>

// A stored trusted-device registry that cannot be read as JSON of the expected shape.
class TrustedDeviceDecodingError : public std::exception
{
public:
    enum class Case
    {
        malformedJson,
        missingValue,
        wrongType,
        invalidDate
    };

    // codingPath names the value, e.g. "devices[2].createdAt"; empty for the whole registry.
    // detail: the parser's message for malformedJson, the expected type for wrongType.
    TrustedDeviceDecodingError(Case errorCase, const QString &codingPath, const QString &detail = {});

    Case errorCase() const { return m_case; }
    const QString &codingPath() const { return m_codingPath; }
    // The same error seen from the value that contains this one under the name prefix.
    TrustedDeviceDecodingError inside(const QString &prefix) const;

    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Case m_case;
    QString m_codingPath;
    QString m_detail;
    QByteArray m_what;
};

struct TrustedDeviceRecord
{
    QString id;
    QString name;
    QString secret;
    std::optional<QString> peerID;
    std::optional<QString> usbSerial;
    QDateTime createdAt;
    QDateTime lastSeenAt;

    bool operator==(const TrustedDeviceRecord &) const = default;

    // The rules a peer id and a USB serial must meet to be stored: non-empty, at most 128 (256)
    // characters, no control or format characters.
    static bool isValidPeerID(const QString &peerID);
    static bool isValidUSBSerial(const QString &serial);

    // Throws TrustedDeviceDecodingError. Dates come back in UTC.
    static TrustedDeviceRecord fromJson(const QJsonObject &object);
    // Dates as ISO 8601 UTC with whole seconds; absent optionals are left out.
    QJsonObject toJson() const;
};
