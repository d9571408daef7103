#include "TrustedDeviceRegistryStore.h"

#include <QChar>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <QTextBoundaryFinder>
#include <QUuid>

#include <algorithm>
#include <utility>

namespace {

using Account = TransferCredentialStore::Account;

constexpr qsizetype minimumSecretLength = 32;
constexpr qsizetype maximumPeerIDLength = 128;
constexpr qsizetype maximumUsbSerialLength = 256;

// User-perceived characters, so that a name in a script with combining marks is not cut short.
qsizetype characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

bool containsControlCharacter(const QString &text)
{
    const QList<uint> scalars = text.toUcs4();
    return std::any_of(scalars.cbegin(), scalars.cend(), [](uint scalar) {
        const QChar::Category category = QChar::category(char32_t(scalar));
        return category == QChar::Other_Control || category == QChar::Other_Format;
    });
}

bool isValidOptionalText(const std::optional<QString> &text, qsizetype maximumLength)
{
    if (!text)
        return true;
    return !text->isEmpty() && characterCount(*text) <= maximumLength && !containsControlCharacter(*text);
}

// The 8-4-4-4-12 hexadecimal form, digits of either case, without braces.
bool isUuidText(const QString &text)
{
    if (text.size() != 36)
        return false;
    for (qsizetype index = 0; index < text.size(); ++index) {
        const char16_t c = text[index].unicode();
        if (index == 8 || index == 13 || index == 18 || index == 23) {
            if (c != u'-')
                return false;
        } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) {
            return false;
        }
    }
    return true;
}

// A date the ISO 8601 text can carry; an unpaired surrogate would reach the keychain as a
// replacement character. Neither can come out of a load, so for loaded registries these always hold.
bool survivesJson(const TrustedDeviceRecord &record)
{
    auto isStorableDate = [](const QDateTime &date) {
        const int year = date.toUTC().date().year();
        return date.isValid() && year >= 1 && year <= 9999;
    };
    return isStorableDate(record.createdAt) && isStorableDate(record.lastSeenAt) && record.name.isValidUtf16() &&
           record.secret.isValidUtf16() && (!record.peerID || record.peerID->isValidUtf16()) &&
           (!record.usbSerial || record.usbSerial->isValidUtf16());
}

} // namespace

bool TrustedDeviceRecord::isValidPeerID(const QString &peerID)
{
    return isValidOptionalText(peerID, maximumPeerIDLength);
}

bool TrustedDeviceRecord::isValidUSBSerial(const QString &serial)
{
    return isValidOptionalText(serial, maximumUsbSerialLength);
}

namespace {

bool isValidRecord(const TrustedDeviceRecord &record)
{
    return isUuidText(record.id) && characterCount(record.secret) >= minimumSecretLength && !record.name.isEmpty() &&
           isValidOptionalText(record.peerID, maximumPeerIDLength) &&
           isValidOptionalText(record.usbSerial, maximumUsbSerialLength) && survivesJson(record);
}

// One set of rules for load and save, so that every registry written can be read back.
bool isValidRegistry(const TrustedDeviceRegistry &registry)
{
    if (registry.version != TrustedDeviceRegistry::currentVersion)
        return false;
    if (registry.devices.size() > TrustedDeviceRegistry::maximumDeviceCount)
        return false;

    QSet<QString> ids;
    for (const TrustedDeviceRecord &record : registry.devices)
        ids.insert(record.id);
    if (ids.size() != registry.devices.size())
        return false;

    if (registry.selectedDeviceID ? !ids.contains(*registry.selectedDeviceID) : !registry.devices.isEmpty())
        return false;

    return std::all_of(registry.devices.cbegin(), registry.devices.cend(), isValidRecord);
}

QDateTime currentTimeToTheSecond()
{
    return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
}

} // namespace

TrustedDeviceRegistryError::TrustedDeviceRegistryError(Case errorCase) : m_case(errorCase)
{
    m_what = errorDescription().toUtf8();
}

QString TrustedDeviceRegistryError::errorDescription() const
{
    switch (m_case) {
    case Case::invalidRecord:
        return QStringLiteral("保存的可信设备记录无效，请重新配对。");
    }
    Q_UNREACHABLE();
    return {};
}

TrustedDeviceRegistryStore::TrustedDeviceRegistryStore(TransferCredentialStore credentials)
    : m_credentials(std::move(credentials))
{}

TrustedDeviceRegistry TrustedDeviceRegistryStore::load() const
{
    const std::optional<QString> text = m_credentials.read(Account::trustedDeviceRegistry);
    if (!text)
        return migrateLegacyItems();

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text->toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw TrustedDeviceDecodingError(TrustedDeviceDecodingError::Case::malformedJson, {},
                                         parseError.errorString() + QStringLiteral(" at offset ") +
                                             QString::number(parseError.offset));
    if (!document.isObject())
        throw TrustedDeviceDecodingError(TrustedDeviceDecodingError::Case::wrongType, {}, QStringLiteral("an object"));

    TrustedDeviceRegistry registry = TrustedDeviceRegistry::fromJson(document.object());
    if (!isValidRegistry(registry))
        throw TrustedDeviceRegistryError::invalidRecord();
    return registry;
}

QString TrustedDeviceRegistryStore::encode(const TrustedDeviceRegistry &registry)
{
    if (!isValidRegistry(registry))
        throw TrustedDeviceRegistryError::invalidRecord();
    return QString::fromUtf8(QJsonDocument(registry.toJson()).toJson(QJsonDocument::Compact));
}

void TrustedDeviceRegistryStore::save(const TrustedDeviceRegistry &registry) const
{
    m_credentials.write(encode(registry), Account::trustedDeviceRegistry);
}

TrustedDeviceRegistry TrustedDeviceRegistryStore::migrateLegacyItems() const
{
    const std::optional<QString> secret = m_credentials.read(Account::trustedPeerSecret);
    if (!secret)
        return TrustedDeviceRegistry{};
    const std::optional<QString> name = m_credentials.read(Account::trustedPeerName);

    // Whole seconds, as stored, so the registry returned here equals the one the next load reads.
    const QDateTime now = currentTimeToTheSecond();
    TrustedDeviceRecord record{
        .id = QUuid::createUuid().toString(QUuid::WithoutBraces),
        .name = name.value_or(QStringLiteral("Android 手机")),
        .secret = *secret,
        .peerID = std::nullopt,
        .usbSerial = std::nullopt,
        .createdAt = now,
        .lastSeenAt = now,
    };
    TrustedDeviceRegistry registry;
    registry.selectedDeviceID = record.id;
    registry.devices.append(std::move(record));
    save(registry);
    return registry;
}
