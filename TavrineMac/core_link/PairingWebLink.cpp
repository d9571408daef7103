#include "PairingWebLink.h"

#include "PairingConfiguration.h"
#include "PairingPayload.h"

namespace {

constexpr qsizetype maximumPackedPayloadLength = 8192;

QString webLinkPrefix()
{
    return QStringLiteral("https://") + QLatin1String(webPairingHost) + QStringLiteral("/connect/#payload=");
}

} // namespace

PairingWebLinkError::PairingWebLinkError(Case errorCase) : m_case(errorCase)
{
    m_description = errorDescription().toUtf8();
}

QString PairingWebLinkError::errorDescription() const
{
    switch (m_case) {
    case Case::invalidPayload:
        return QStringLiteral("无法生成安全的网页配对链接。");
    }
    Q_UNREACHABLE();
}

QString makePairingWebLink(const QString &payload)
{
    try {
        PairingPayload::parse(payload);
    } catch (const PairingPayloadError &) {
        throw PairingWebLinkError(PairingWebLinkError::Case::invalidPayload);
    }

    // The page reads the pairing URL from the fragment, which browsers never send to the server.
    const QByteArray packed = payload.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    if (packed.size() > maximumPackedPayloadLength)
        throw PairingWebLinkError(PairingWebLinkError::Case::invalidPayload);

    return webLinkPrefix() + QLatin1String(packed);
}

bool isPairingWebLink(const QString &link)
{
    return link.startsWith(webLinkPrefix());
}

std::optional<QString> pairingPayloadFromWebLink(const QString &link)
{
    const QString prefix = webLinkPrefix();
    if (!isPairingWebLink(link) || link.size() - prefix.size() > maximumPackedPayloadLength)
        return std::nullopt;
    const QByteArray packed = link.mid(prefix.size()).toLatin1();
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(packed, QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals |
                                                   QByteArray::AbortOnBase64DecodingErrors);
    const QString payload = QString::fromUtf8(decoded.decoded);
    if (!decoded || payload.toUtf8() != decoded.decoded)
        return std::nullopt;
    try {
        PairingPayload::parse(payload);
    } catch (const PairingPayloadError &) {
        return std::nullopt;
    }
    return payload;
}
