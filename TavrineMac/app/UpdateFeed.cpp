#include "UpdateFeed.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <openssl/evp.h>

#include <memory>

namespace {

constexpr qsizetype ed25519PublicKeyBytes = 32;
constexpr qsizetype ed25519SignatureBytes = 64;
constexpr qsizetype maximumVersionComponents = 4;
constexpr qsizetype maximumComponentDigits = 9;

struct KeyDeleter
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct DigestContextDeleter
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

// "YYYY-MM-DDTHH:MM:SSZ" and nothing else: one spelling of one time, so that times compare as signed.
std::optional<QDateTime> parseTime(const QString &text)
{
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (!time.isValid() || time.timeSpec() != Qt::UTC || time.toString(Qt::ISODate) != text) {
        return std::nullopt;
    }
    return time;
}

} // namespace

std::optional<UpdateVersion> UpdateVersion::parse(QStringView text)
{
    UpdateVersion version;
    for (const QStringView part : text.split(u'.')) {
        if (part.isEmpty() || part.size() > maximumComponentDigits ||
            version.components.size() == maximumVersionComponents) {
            return std::nullopt;
        }
        quint32 value = 0;
        for (const QChar character : part) {
            if (character < u'0' || character > u'9') {
                return std::nullopt;
            }
            value = value * 10 + quint32(character.unicode() - u'0');
        }
        version.components.append(value);
    }
    return version;
}

int UpdateVersion::compare(const UpdateVersion &left, const UpdateVersion &right)
{
    const qsizetype count = std::max(left.components.size(), right.components.size());
    for (qsizetype index = 0; index < count; ++index) {
        const quint32 leftValue = left.components.value(index, 0);
        const quint32 rightValue = right.components.value(index, 0);
        if (leftValue != rightValue) {
            return leftValue < rightValue ? -1 : 1;
        }
    }
    return 0;
}

std::variant<UpdateFeed, UpdateFeedError> UpdateFeed::read(const QByteArray &feed, const QByteArray &publicKey)
{
    if (feed.size() > maximumBytes) {
        return UpdateFeedError::tooLarge;
    }
    if (feed.size() <= signatureLineLength || feed.at(signatureLineLength) != '\n') {
        return UpdateFeedError::malformed;
    }
    const auto signature =
        QByteArray::fromBase64Encoding(feed.left(signatureLineLength), QByteArray::AbortOnBase64DecodingErrors);
    if (!signature || signature.decoded.size() != ed25519SignatureBytes) {
        return UpdateFeedError::malformed;
    }
    const QByteArray document = feed.mid(signatureLineLength + 1);
    if (!verifySignature(document, signature.decoded, publicKey)) {
        return UpdateFeedError::badSignature;
    }
    std::optional<UpdateFeed> parsed = parseDocument(document);
    if (!parsed) {
        return UpdateFeedError::malformed;
    }
    return *std::move(parsed);
}

std::optional<UpdateFeed> UpdateFeed::parseDocument(const QByteArray &document)
{
    if (document.size() > maximumBytes) {
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(document, &error);
    if (error.error != QJsonParseError::NoError || !json.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = json.object();
    const QJsonValue version = object.value(u"version");
    const QJsonValue url = object.value(u"url");
    const QJsonValue notes = object.value(u"notes");
    const QJsonValue published = object.value(u"published");
    const std::optional<QDateTime> publishedAt = published.isString() ? parseTime(published.toString()) : std::nullopt;
    if (!version.isString() || !UpdateVersion::parse(version.toString()) || !url.isString() || !publishedAt ||
        !(notes.isUndefined() || notes.isString()) || notes.toString().size() > maximumNotesLength) {
        return std::nullopt;
    }
    // The user is sent to this address, so it must be a secure one with a host.
    const QUrl downloadURL(url.toString(), QUrl::StrictMode);
    if (!downloadURL.isValid() || downloadURL.scheme() != u"https" || downloadURL.host().isEmpty()) {
        return std::nullopt;
    }
    return UpdateFeed{version.toString(), downloadURL, *publishedAt, notes.toString()};
}

std::variant<UpdateFeed, UpdateFeedError> UpdateFeed::refuseOutdated(std::variant<UpdateFeed, UpdateFeedError> feed,
                                                                     const std::optional<QDateTime> &newestVerified)
{
    const auto *read = std::get_if<UpdateFeed>(&feed);
    if (read && newestVerified && read->published < *newestVerified) {
        return UpdateFeedError::outdated;
    }
    return feed;
}

bool UpdateFeed::verifySignature(const QByteArray &document, const QByteArray &signature, const QByteArray &publicKey)
{
    if (publicKey.size() != ed25519PublicKeyBytes || signature.size() != ed25519SignatureBytes) {
        return false;
    }
    const std::unique_ptr<EVP_PKEY, KeyDeleter> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(publicKey.constData()),
        size_t(publicKey.size())));
    const std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                            size_t(signature.size()), reinterpret_cast<const unsigned char *>(document.constData()),
                            size_t(document.size())) == 1;
}
