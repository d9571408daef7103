#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <optional>

class PairingWebLinkError : public std::exception
{
public:
    enum class Case
    {
        invalidPayload
    };

    explicit PairingWebLinkError(Case errorCase = Case::invalidPayload);

    Case errorCase() const { return m_case; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_description.constData(); }

    bool operator==(const PairingWebLinkError &other) const { return m_case == other.m_case; }

private:
    Case m_case;
    QByteArray m_description;
};

// Returns "https://<web pairing host>/connect/#payload=<base64url of payload>"; throws PairingWebLinkError.
QString makePairingWebLink(const QString &payload);

// Whether `link` is a web pairing link, whatever it carries.
bool isPairingWebLink(const QString &link);

// The pairing URL a web pairing link carries, as a phone that scans the code reads it back; nothing when `link` is
// not such a link or what it carries is not a valid pairing URL.
std::optional<QString> pairingPayloadFromWebLink(const QString &link);
