#include "TransferTaskRecord.h"

#include <QJsonValue>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

template <typename Enum, std::size_t count> using RawValueTable = std::array<std::pair<Enum, QStringView>, count>;

constexpr RawValueTable<TransferTaskRecord::Status, 9> statusRawValues{{
    {TransferTaskRecord::Status::queued, u"queued"},
    {TransferTaskRecord::Status::waitingForConnection, u"waitingForConnection"},
    {TransferTaskRecord::Status::sending, u"sending"},
    {TransferTaskRecord::Status::receiving, u"receiving"},
    {TransferTaskRecord::Status::paused, u"paused"},
    {TransferTaskRecord::Status::completed, u"completed"},
    {TransferTaskRecord::Status::failed, u"failed"},
    {TransferTaskRecord::Status::needsAttention, u"needsAttention"},
    {TransferTaskRecord::Status::cancelled, u"cancelled"},
}};

constexpr RawValueTable<TransferTaskRecord::Direction, 2> directionRawValues{{
    {TransferTaskRecord::Direction::sending, u"sending"},
    {TransferTaskRecord::Direction::receiving, u"receiving"},
}};

constexpr RawValueTable<TransferTaskRecord::DeliveryPurpose, 2> deliveryPurposeRawValues{{
    {TransferTaskRecord::DeliveryPurpose::export_, u"export"},
    {TransferTaskRecord::DeliveryPurpose::preview, u"preview"},
}};

template <typename Enum, std::size_t count> QString rawValueIn(const RawValueTable<Enum, count> &table, Enum value)
{
    const auto found = std::ranges::find(table, value, &std::pair<Enum, QStringView>::first);
    return found != table.end() ? found->second.toString() : QString();
}

template <typename Enum, std::size_t count>
std::optional<Enum> valueIn(const RawValueTable<Enum, count> &table, QStringView text)
{
    const auto found = std::ranges::find(table, text, &std::pair<Enum, QStringView>::second);
    return found != table.end() ? std::optional<Enum>(found->first) : std::nullopt;
}

[[noreturn]] void fail(TransferTaskRecordDecodingError::Case errorCase, const QString &key)
{
    throw TransferTaskRecordDecodingError(errorCase, key);
}

// A missing key and a null value both mean "absent".
std::optional<QJsonValue> presentValue(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return value;
}

QJsonValue requiredValue(const QJsonObject &object, const QString &key)
{
    const auto value = presentValue(object, key);
    if (!value)
        fail(TransferTaskRecordDecodingError::Case::missingKey, key);
    return *value;
}

QString stringValue(const QJsonValue &value, const QString &key)
{
    if (!value.isString())
        fail(TransferTaskRecordDecodingError::Case::wrongType, key);
    return value.toString();
}

qint64 integerValue(const QJsonValue &value, const QString &key)
{
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    constexpr qint64 highest = std::numeric_limits<qint64>::max();
    if (!value.isDouble())
        fail(TransferTaskRecordDecodingError::Case::wrongType, key);
    // toInteger() answers its fallback for a fraction or a number out of range; only a real value
    // comes back the same with two different fallbacks.
    const qint64 integer = value.toInteger(lowest);
    if (integer == lowest && value.toInteger(highest) == highest)
        fail(TransferTaskRecordDecodingError::Case::wrongType, key);
    return integer;
}

QByteArray bytesValue(const QJsonValue &value, const QString &key)
{
    const QString text = stringValue(value, key);
    // toLatin1() turns characters outside Latin-1 into '?', which the strict decoder rejects.
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(),
                                                  QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        fail(TransferTaskRecordDecodingError::Case::invalidValue, key);
    return std::move(*decoded);
}

// Internet date-time: whole seconds, "Z" or a numeric offset; no fractions, no date-only forms.
std::optional<QDateTime> dateFromText(const QString &text)
{
    static const QRegularExpression pattern(
        u"^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})(?:Z|([+-])([0-9]{2}):([0-9]{2}))$"_s);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = [&match](int group) {
        return match.capturedView(group).toInt();
    };
    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), number(6));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (match.hasCaptured(7)) {
        const int offsetHours = number(8);
        const int offsetMinutes = number(9);
        if (offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (match.capturedView(7) == u"-" ? -1 : 1);
    }
    const QDateTime utc = QDateTime(date, time, Qt::OffsetFromUTC, offsetSeconds).toUTC();
    // An offset can carry a date past the years that can be written back; such a record would be lost at the next save.
    if (utc.date().year() < 1 || utc.date().year() > 9999)
        return std::nullopt;
    return utc;
}

QDateTime dateValue(const QJsonValue &value, const QString &key)
{
    const auto date = dateFromText(stringValue(value, key));
    if (!date)
        fail(TransferTaskRecordDecodingError::Case::invalidValue, key);
    return *date;
}

QString dateText(const QDateTime &date)
{
    const QDateTime utc = date.toUTC();
    const QTime time = utc.time();
    return QDateTime(utc.date(), QTime(time.hour(), time.minute(), time.second()), Qt::UTC).toString(Qt::ISODate);
}

template <typename Enum, std::size_t count>
Enum enumValue(const RawValueTable<Enum, count> &table, const QJsonValue &value, const QString &key)
{
    const auto decoded = valueIn(table, stringValue(value, key));
    if (!decoded)
        fail(TransferTaskRecordDecodingError::Case::invalidValue, key);
    return *decoded;
}

template <typename Decode>
auto optionalValue(const QJsonObject &object, const QString &key, Decode decode)
    -> std::optional<decltype(decode(QJsonValue(), key))>
{
    const auto value = presentValue(object, key);
    if (!value)
        return std::nullopt;
    return decode(*value, key);
}

template <typename Value, typename Encode>
void insertOptional(QJsonObject &object, const QString &key, const std::optional<Value> &value, Encode encode)
{
    if (value)
        object.insert(key, encode(*value));
}

QString base64Text(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

TransferTaskRecordDecodingError::TransferTaskRecordDecodingError(Case errorCase, const QString &key)
    : m_case(errorCase), m_key(key), m_description(errorDescription().toUtf8())
{}

QString TransferTaskRecordDecodingError::errorDescription() const
{
    switch (m_case) {
    case Case::missingKey:
        return u"missing key \"%1\""_s.arg(m_key);
    case Case::wrongType:
        return u"key \"%1\" has the wrong type"_s.arg(m_key);
    case Case::invalidValue:
        return u"key \"%1\" has an invalid value"_s.arg(m_key);
    }
    return {};
}

double TransferTaskRecord::progress() const
{
    if (totalBytes >= 1)
        return std::clamp(static_cast<double>(transferredBytes) / static_cast<double>(totalBytes), 0.0, 1.0);
    return status == Status::completed ? 1.0 : 0.0;
}

bool TransferTaskRecord::isFinished(Status status)
{
    return status == Status::completed || status == Status::cancelled;
}

bool TransferTaskRecord::canPause() const
{
    // A file the phone sends of its own accord is the phone's to pause and to send again: this side could only stop
    // it, and the phone's next bytes would set it going once more.
    const bool sentByThePhone = direction == Direction::receiving && !remoteFileID;
    return !sentByThePhone && (status == Status::queued || status == Status::sending || status == Status::receiving);
}

bool TransferTaskRecord::canResume() const
{
    return status == Status::paused || status == Status::waitingForConnection;
}

bool TransferTaskRecord::canRetry() const
{
    return status == Status::failed || status == Status::needsAttention;
}

bool TransferTaskRecord::canCancel() const
{
    return !isFinished(status);
}

QString TransferTaskRecord::rawValue(Status status)
{
    return rawValueIn(statusRawValues, status);
}

QString TransferTaskRecord::rawValue(Direction direction)
{
    return rawValueIn(directionRawValues, direction);
}

QString TransferTaskRecord::rawValue(DeliveryPurpose purpose)
{
    return rawValueIn(deliveryPurposeRawValues, purpose);
}

std::optional<TransferTaskRecord::Status> TransferTaskRecord::statusFromRawValue(QStringView text)
{
    return valueIn(statusRawValues, text);
}

std::optional<TransferTaskRecord::Direction> TransferTaskRecord::directionFromRawValue(QStringView text)
{
    return valueIn(directionRawValues, text);
}

std::optional<TransferTaskRecord::DeliveryPurpose> TransferTaskRecord::deliveryPurposeFromRawValue(QStringView text)
{
    return valueIn(deliveryPurposeRawValues, text);
}

TransferTaskRecord TransferTaskRecord::fromJson(const QJsonObject &object)
{
    const auto directionValue = [](const QJsonValue &value, const QString &key) {
        return enumValue(directionRawValues, value, key);
    };
    const auto statusValue = [](const QJsonValue &value, const QString &key) {
        return enumValue(statusRawValues, value, key);
    };
    const auto purposeValue = [](const QJsonValue &value, const QString &key) {
        return enumValue(deliveryPurposeRawValues, value, key);
    };
    const auto required = [&object](const QString &key, auto decode) {
        return decode(requiredValue(object, key), key);
    };

    TransferTaskRecord record;
    record.id = required(u"id"_s, stringValue);
    record.direction = required(u"direction"_s, directionValue);
    record.peerName = required(u"peerName"_s, stringValue);
    record.trustedDeviceID = optionalValue(object, u"trustedDeviceID"_s, stringValue);
    record.fileName = required(u"fileName"_s, stringValue);
    record.sourceBookmark = optionalValue(object, u"sourceBookmark"_s, bytesValue);
    record.remoteDirectoryID = optionalValue(object, u"remoteDirectoryID"_s, stringValue);
    record.remoteFileID = optionalValue(object, u"remoteFileID"_s, stringValue);
    record.batchID = optionalValue(object, u"batchID"_s, stringValue);
    record.batchName = optionalValue(object, u"batchName"_s, stringValue);
    record.relativePath = optionalValue(object, u"relativePath"_s, stringValue);
    record.destinationBookmark = optionalValue(object, u"destinationBookmark"_s, bytesValue);
    record.destinationRelativePath = optionalValue(object, u"destinationRelativePath"_s, stringValue);
    record.chosenName = optionalValue(object, u"chosenName"_s, stringValue);
    record.deliveryPurpose = optionalValue(object, u"deliveryPurpose"_s, purposeValue);
    record.deliveryCompletedAt = optionalValue(object, u"deliveryCompletedAt"_s, dateValue);
    record.transferredBytes = required(u"transferredBytes"_s, integerValue);
    record.totalBytes = required(u"totalBytes"_s, integerValue);
    record.status = required(u"status"_s, statusValue);
    record.message = required(u"message"_s, stringValue);
    record.createdAt = required(u"createdAt"_s, dateValue);
    record.updatedAt = required(u"updatedAt"_s, dateValue);
    return record;
}

QJsonObject TransferTaskRecord::toJson() const
{
    const auto text = [](const QString &value) {
        return value;
    };
    const auto purposeText = [](DeliveryPurpose purpose) {
        return rawValue(purpose);
    };

    QJsonObject object;
    object.insert(u"id"_s, id);
    object.insert(u"direction"_s, rawValue(direction));
    object.insert(u"peerName"_s, peerName);
    insertOptional(object, u"trustedDeviceID"_s, trustedDeviceID, text);
    object.insert(u"fileName"_s, fileName);
    insertOptional(object, u"sourceBookmark"_s, sourceBookmark, base64Text);
    insertOptional(object, u"remoteDirectoryID"_s, remoteDirectoryID, text);
    insertOptional(object, u"remoteFileID"_s, remoteFileID, text);
    insertOptional(object, u"batchID"_s, batchID, text);
    insertOptional(object, u"batchName"_s, batchName, text);
    insertOptional(object, u"relativePath"_s, relativePath, text);
    insertOptional(object, u"destinationBookmark"_s, destinationBookmark, base64Text);
    insertOptional(object, u"destinationRelativePath"_s, destinationRelativePath, text);
    insertOptional(object, u"chosenName"_s, chosenName, text);
    insertOptional(object, u"deliveryPurpose"_s, deliveryPurpose, purposeText);
    insertOptional(object, u"deliveryCompletedAt"_s, deliveryCompletedAt, dateText);
    object.insert(u"transferredBytes"_s, transferredBytes);
    object.insert(u"totalBytes"_s, totalBytes);
    object.insert(u"status"_s, rawValue(status));
    object.insert(u"message"_s, message);
    object.insert(u"createdAt"_s, dateText(createdAt));
    object.insert(u"updatedAt"_s, dateText(updatedAt));
    return object;
}
