#include "TrustedDeviceRecord.h"

#include <QJsonValue>
#include <QRegularExpression>

#include "TrustedDeviceJson.h"

namespace {

using trustedDeviceJson::optionalText;
using trustedDeviceJson::requiredValue;

using Case = TrustedDeviceDecodingError::Case;

QString requiredText(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = requiredValue(object, key);
    if (!value.isString())
        throw TrustedDeviceDecodingError(Case::wrongType, key, QStringLiteral("a string"));
    return value.toString();
}

// Only the internet date-time form that the encoder writes (and an offset instead of "Z"); Qt's own
// ISO reader would also take dates without a time or a zone, the latter silently as local time.
QDateTime requiredDate(const QJsonObject &object, const QString &key)
{
    static const QRegularExpression internetDateTime(
        QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(Z|[+-][0-9]{2}:[0-9]{2})$"));

    const QJsonValue value = requiredValue(object, key);
    if (!value.isString())
        throw TrustedDeviceDecodingError(Case::wrongType, key, QStringLiteral("a date string"));
    const QString text = value.toString();
    const QDateTime date =
        internetDateTime.match(text).hasMatch() ? QDateTime::fromString(text, Qt::ISODate) : QDateTime();
    if (!date.isValid())
        throw TrustedDeviceDecodingError(Case::invalidDate, key);
    return date.toUTC();
}

QString dateText(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODate);
}

} // namespace

TrustedDeviceDecodingError::TrustedDeviceDecodingError(Case errorCase, const QString &codingPath, const QString &detail)
    : m_case(errorCase), m_codingPath(codingPath), m_detail(detail)
{
    m_what = errorDescription().toUtf8();
}

TrustedDeviceDecodingError TrustedDeviceDecodingError::inside(const QString &prefix) const
{
    const QString path = m_codingPath.isEmpty() ? prefix : prefix + u'.' + m_codingPath;
    return TrustedDeviceDecodingError(m_case, path, m_detail);
}

QString TrustedDeviceDecodingError::errorDescription() const
{
    const QString where = m_codingPath.isEmpty() ? QStringLiteral("at the top level")
                                                 : QStringLiteral("at \u201C%1\u201D").arg(m_codingPath);
    switch (m_case) {
    case Case::malformedJson:
        return QStringLiteral("The trusted-device registry is not valid JSON: %1.").arg(m_detail);
    case Case::missingValue:
        return QStringLiteral("The trusted-device registry has no value %1.").arg(where);
    case Case::wrongType:
        return QStringLiteral("The trusted-device registry has a value of the wrong type %1: expected %2.")
            .arg(where, m_detail);
    case Case::invalidDate:
        return QStringLiteral("The trusted-device registry has a date that is not in ISO 8601 form %1.").arg(where);
    }
    Q_UNREACHABLE();
    return {};
}

TrustedDeviceRecord TrustedDeviceRecord::fromJson(const QJsonObject &object)
{
    TrustedDeviceRecord record;
    record.id = requiredText(object, QStringLiteral("id"));
    record.name = requiredText(object, QStringLiteral("name"));
    record.secret = requiredText(object, QStringLiteral("secret"));
    record.peerID = optionalText(object, QStringLiteral("peerID"));
    record.usbSerial = optionalText(object, QStringLiteral("usbSerial"));
    record.createdAt = requiredDate(object, QStringLiteral("createdAt"));
    record.lastSeenAt = requiredDate(object, QStringLiteral("lastSeenAt"));
    return record;
}

QJsonObject TrustedDeviceRecord::toJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("secret"), secret},
        {QStringLiteral("createdAt"), dateText(createdAt)},
        {QStringLiteral("lastSeenAt"), dateText(lastSeenAt)},
    };
    if (peerID)
        object.insert(QStringLiteral("peerID"), *peerID);
    if (usbSerial)
        object.insert(QStringLiteral("usbSerial"), *usbSerial);
    return object;
}
