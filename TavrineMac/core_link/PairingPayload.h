#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

class PairingPayloadError : public std::exception
{
public:
    enum class Case
    {
        missingParameter,
        duplicateParameter,
        unsupportedFormat,
        secretTooShort,
        invalidConfirmationCode
    };

    // itemName belongs to missingParameter and duplicateParameter only; other cases drop it.
    explicit PairingPayloadError(Case errorCase, const QString &itemName = {});

    Case errorCase() const { return m_case; }
    QString itemName() const { return m_itemName; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_description.constData(); }

    bool operator==(const PairingPayloadError &other) const;

private:
    Case m_case;
    QString m_itemName;
    QByteArray m_description;
};

struct PairingPayload
{
    QString deviceID;
    QString publicKey;
    QString token;
    QString endpoint;
    QString confirmationCode;

    bool operator==(const PairingPayload &) const = default;

    // Throws PairingPayloadError.
    static PairingPayload parse(const QString &url);
};
