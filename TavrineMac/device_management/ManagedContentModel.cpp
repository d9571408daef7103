#include "ManagedContentModel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMetaType>
#include <QVariant>

#include <tuple>
#include <type_traits>

ManagedDecodingError::ManagedDecodingError(Case errorCase, const QString &codingPath, const QString &detail)
    : m_case(errorCase), m_codingPath(codingPath), m_detail(detail)
{
    m_what = errorDescription().toUtf8();
}

ManagedDecodingError ManagedDecodingError::inside(const QString &prefix) const
{
    const bool index = m_codingPath.startsWith(u'[');
    const QString path =
        m_codingPath.isEmpty() ? prefix : prefix + (index ? QString() : QStringLiteral(".")) + m_codingPath;
    return ManagedDecodingError(m_case, path, m_detail);
}

QString ManagedDecodingError::errorDescription() const
{
    const QString where = m_codingPath.isEmpty() ? QStringLiteral("at the top level")
                                                 : QStringLiteral("at “%1”").arg(m_codingPath);
    switch (m_case) {
    case Case::notJson:
        return QStringLiteral("The phone's answer is not valid JSON: %1.").arg(m_detail);
    case Case::missingValue:
        return QStringLiteral("The phone's answer has no value %1.").arg(where);
    case Case::wrongType:
        return QStringLiteral("The phone's answer has a value of the wrong type %1: expected %2.").arg(where, m_detail);
    case Case::corruptedData:
        return QStringLiteral("The phone's answer has a value that is not valid %1: %2.").arg(where, m_detail);
    }
    Q_UNREACHABLE();
}

QString rawValue(ManagedMediaKind kind)
{
    return kind == ManagedMediaKind::photo ? QStringLiteral("photo") : QStringLiteral("video");
}

std::optional<ManagedMediaKind> managedMediaKindFromRawValue(const QString &text)
{
    if (text == u"photo") {
        return ManagedMediaKind::photo;
    }
    if (text == u"video") {
        return ManagedMediaKind::video;
    }
    return std::nullopt;
}

namespace {

// One declared key of a record and the member it fills.
template <typename Record, typename Member> struct Field
{
    const char *key;
    Member Record::*member;
    qsizetype maximumBytes = 0; // a text of at most this many UTF-8 bytes; 0: any length
    bool isFileName = false;    // the name of an item on the phone
};

template <typename Record, typename Member> constexpr Field<Record, Member> field(const char *key, Member Record::*member)
{
    return {key, member};
}

template <typename Record>
constexpr Field<Record, QString> boundedField(const char *key, QString Record::*member, qsizetype maximumBytes)
{
    return {key, member, maximumBytes};
}

template <typename Record> constexpr Field<Record, QString> fileNameField(const char *key, QString Record::*member)
{
    return {key, member, maximumFileNameBytes, true};
}

// The declared keys of each record, in declaration order.
template <typename Record> struct Fields;

#define TAVRINE_FIELDS(Record, ...)                                                                                    \
    template <> struct Fields<Record>                                                                                  \
    {                                                                                                                  \
        using R = Record;                                                                                              \
        static constexpr auto all = std::make_tuple(__VA_ARGS__);                                                      \
    }

TAVRINE_FIELDS(DeviceCapabilities, field("version", &R::version), field("allFilesGranted", &R::allFilesGranted),
               field("applicationInventory", &R::applicationInventory),
               field("wirelessApplicationInstall", &R::wirelessApplicationInstall), field("actions", &R::actions));
TAVRINE_FIELDS(ManagedDeviceSnapshot::Battery, field("percent", &R::percent), field("charging", &R::charging),
               field("plugged", &R::plugged), field("health", &R::health), field("cycleCount", &R::cycleCount),
               field("temperatureCelsius", &R::temperatureCelsius));
TAVRINE_FIELDS(ManagedDeviceSnapshot::Storage, field("totalBytes", &R::totalBytes),
               field("availableBytes", &R::availableBytes));
TAVRINE_FIELDS(ManagedDeviceSnapshot::Memory, field("totalBytes", &R::totalBytes),
               field("availableBytes", &R::availableBytes), field("freeBytes", &R::freeBytes), field("low", &R::low));
TAVRINE_FIELDS(ManagedDeviceSnapshot::Network, field("connected", &R::connected), field("wifi", &R::wifi),
               field("cellular", &R::cellular));
TAVRINE_FIELDS(ManagedDeviceSnapshot, field("version", &R::version), field("capturedAtMillis", &R::capturedAtMillis),
               field("manufacturer", &R::manufacturer), field("brand", &R::brand), field("model", &R::model),
               field("device", &R::device), field("androidVersion", &R::androidVersion),
               field("sdkLevel", &R::sdkLevel), field("securityPatch", &R::securityPatch),
               field("agentVersion", &R::agentVersion), field("uptimeMillis", &R::uptimeMillis),
               field("locked", &R::locked), field("battery", &R::battery), field("storage", &R::storage),
               field("memory", &R::memory), field("network", &R::network), field("capabilities", &R::capabilities));
TAVRINE_FIELDS(ManagedStorageRoots::Root, field("id", &R::id), field("name", &R::name),
               field("removable", &R::removable), field("availableBytes", &R::availableBytes),
               field("totalBytes", &R::totalBytes));
TAVRINE_FIELDS(ManagedStorageRoots, field("version", &R::version), field("roots", &R::roots));
TAVRINE_FIELDS(ManagedFileEntry, field("id", &R::id), fileNameField("name", &R::name),
               field("directory", &R::directory), field("size", &R::size),
               field("modifiedAtMillis", &R::modifiedAtMillis), field("hidden", &R::hidden),
               field("writable", &R::writable));
TAVRINE_FIELDS(ManagedFilePage, field("version", &R::version), field("parentId", &R::parentId),
               field("parentName", &R::parentName), field("parentParentId", &R::parentParentId),
               field("entries", &R::entries), field("nextPageToken", &R::nextPageToken));
TAVRINE_FIELDS(ManagedFileTreeEntry, field("id", &R::id), field("relativePath", &R::relativePath),
               field("directory", &R::directory), field("size", &R::size),
               field("modifiedAtMillis", &R::modifiedAtMillis));
TAVRINE_FIELDS(ManagedFileTreePage, field("version", &R::version), field("rootId", &R::rootId),
               field("rootName", &R::rootName), field("entries", &R::entries),
               field("nextPageToken", &R::nextPageToken));
TAVRINE_FIELDS(ManagedTrashEntry, field("id", &R::id), fileNameField("originalName", &R::originalName),
               field("originalParentId", &R::originalParentId), field("originalLocation", &R::originalLocation),
               field("rootId", &R::rootId), field("directory", &R::directory), field("size", &R::size),
               field("deletedAtMillis", &R::deletedAtMillis));
TAVRINE_FIELDS(ManagedTrashPage, field("version", &R::version), field("entries", &R::entries),
               field("nextPageToken", &R::nextPageToken));
TAVRINE_FIELDS(ManagedTrashEmptyResult, field("version", &R::version), field("deletedCount", &R::deletedCount),
               field("reclaimedBytes", &R::reclaimedBytes));
TAVRINE_FIELDS(ManagedMediaItem, field("id", &R::id), fileNameField("name", &R::name), field("kind", &R::kind),
               field("size", &R::size), field("modifiedAtMillis", &R::modifiedAtMillis),
               field("mimeType", &R::mimeType), field("width", &R::width), field("height", &R::height),
               field("orientationDegrees", &R::orientationDegrees), field("relativePath", &R::relativePath),
               field("durationMillis", &R::durationMillis));
TAVRINE_FIELDS(ManagedMediaPage, field("version", &R::version), field("items", &R::items),
               field("nextPageToken", &R::nextPageToken));
TAVRINE_FIELDS(ManagedMediaThumbnail, field("version", &R::version), field("id", &R::id),
               field("mimeType", &R::mimeType), field("pixelWidth", &R::pixelWidth),
               field("pixelHeight", &R::pixelHeight), field("dataBase64", &R::dataBase64));
TAVRINE_FIELDS(ManagedApplication, boundedField("packageName", &R::packageName, maximumPackageNameBytes),
               boundedField("name", &R::name, maximumApplicationTextBytes),
               boundedField("versionName", &R::versionName, maximumApplicationTextBytes),
               field("versionCode", &R::versionCode), field("firstInstalledAtMillis", &R::firstInstalledAtMillis),
               field("updatedAtMillis", &R::updatedAtMillis), field("system", &R::system),
               field("enabled", &R::enabled), field("launchable", &R::launchable));
TAVRINE_FIELDS(ManagedApplicationPage, field("version", &R::version), field("applications", &R::applications),
               field("nextPageToken", &R::nextPageToken));

#undef TAVRINE_FIELDS

template <typename T> struct IsOptional : std::false_type
{};
template <typename T> struct IsOptional<std::optional<T>> : std::true_type
{};
template <typename T> struct IsList : std::false_type
{};
template <typename T> struct IsList<QList<T>> : std::true_type
{};

[[noreturn]] void wrongType(const QString &expected)
{
    throw ManagedDecodingError(ManagedDecodingError::Case::wrongType, {}, expected);
}

void checkTextBytes(const QString &text, qsizetype maximumBytes, bool isFileName)
{
    // A UTF-16 unit takes one to three bytes in UTF-8, so only texts of middle length need counting.
    if (text.size() * 3 <= maximumBytes) {
        return;
    }
    const qsizetype bytes = text.size() > maximumBytes ? text.size() : text.toUtf8().size();
    if (bytes <= maximumBytes) {
        return;
    }
    throw ManagedDecodingError(
        ManagedDecodingError::Case::corruptedData, {},
        isFileName ? QStringLiteral("a name longer than %1 bytes, which no file system allows").arg(maximumBytes)
                   : QStringLiteral("a text longer than %1 bytes").arg(maximumBytes));
}

template <typename T> T decodeValue(const QJsonValue &value);

template <typename Record> Record decodeRecord(const QJsonValue &value)
{
    if (!value.isObject()) {
        wrongType(QStringLiteral("an object"));
    }
    const QJsonObject object = value.toObject();
    Record record;
    std::apply(
        [&](const auto &...fields) {
            const auto decodeField = [&](const auto &field) {
                using Member = std::remove_cvref_t<decltype(record.*(field.member))>;
                const QString key = QString::fromLatin1(field.key);
                const QJsonValue member = object.value(key);
                try {
                    if constexpr (IsOptional<Member>::value) {
                        if (member.isUndefined() || member.isNull()) {
                            record.*(field.member) = std::nullopt;
                        } else {
                            record.*(field.member) = decodeValue<typename Member::value_type>(member);
                        }
                    } else {
                        if (member.isUndefined() || member.isNull()) {
                            throw ManagedDecodingError(ManagedDecodingError::Case::missingValue, {});
                        }
                        record.*(field.member) = decodeValue<Member>(member);
                        if constexpr (std::is_same_v<Member, QString>) {
                            if (field.maximumBytes > 0) {
                                checkTextBytes(record.*(field.member), field.maximumBytes, field.isFileName);
                            }
                        }
                    }
                } catch (const ManagedDecodingError &error) {
                    throw error.inside(key);
                }
            };
            (decodeField(fields), ...);
        },
        Fields<Record>::all);
    return record;
}

template <typename T> T decodeValue(const QJsonValue &value)
{
    if constexpr (std::is_same_v<T, qint64>) {
        // Integral numbers only: the parser keeps a number with a fraction as a double.
        if (!value.isDouble() || value.toVariant().typeId() != QMetaType::LongLong) {
            wrongType(QStringLiteral("an integer"));
        }
        return value.toInteger();
    } else if constexpr (std::is_same_v<T, double>) {
        if (!value.isDouble()) {
            wrongType(QStringLiteral("a number"));
        }
        return value.toDouble();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!value.isBool()) {
            wrongType(QStringLiteral("true or false"));
        }
        return value.toBool();
    } else if constexpr (std::is_same_v<T, QString>) {
        if (!value.isString()) {
            wrongType(QStringLiteral("a string"));
        }
        return value.toString();
    } else if constexpr (std::is_same_v<T, ManagedMediaKind>) {
        const std::optional<ManagedMediaKind> kind = managedMediaKindFromRawValue(decodeValue<QString>(value));
        if (!kind) {
            throw ManagedDecodingError(ManagedDecodingError::Case::corruptedData, {},
                                       QStringLiteral("“%1” is neither photo nor video").arg(value.toString()));
        }
        return *kind;
    } else if constexpr (IsList<T>::value) {
        if (!value.isArray()) {
            wrongType(QStringLiteral("an array"));
        }
        const QJsonArray array = value.toArray();
        T list;
        list.reserve(array.size());
        for (qsizetype index = 0; index < array.size(); ++index) {
            try {
                list.append(decodeValue<typename T::value_type>(array.at(index)));
            } catch (const ManagedDecodingError &error) {
                throw error.inside(QStringLiteral("[%1]").arg(index));
            }
        }
        return list;
    } else {
        return decodeRecord<T>(value);
    }
}

template <typename T> QJsonValue encodeValue(const T &value)
{
    if constexpr (std::is_same_v<T, qint64> || std::is_same_v<T, double> || std::is_same_v<T, bool> ||
                  std::is_same_v<T, QString>) {
        return QJsonValue(value);
    } else if constexpr (std::is_same_v<T, ManagedMediaKind>) {
        return rawValue(value);
    } else if constexpr (IsList<T>::value) {
        QJsonArray array;
        for (const auto &element : value) {
            array.append(encodeValue(element));
        }
        return array;
    } else {
        QJsonObject object;
        std::apply(
            [&](const auto &...fields) {
                const auto encodeField = [&](const auto &field) {
                    const auto &member = value.*(field.member);
                    using Member = std::remove_cvref_t<decltype(member)>;
                    if constexpr (IsOptional<Member>::value) {
                        if (member) {
                            object.insert(QString::fromLatin1(field.key), encodeValue(*member));
                        }
                    } else {
                        object.insert(QString::fromLatin1(field.key), encodeValue(member));
                    }
                };
                (encodeField(fields), ...);
            },
            Fields<T>::all);
        return object;
    }
}

} // namespace

template <typename Record> Record decodeManaged(const QJsonValue &value)
{
    return decodeRecord<Record>(value);
}

template <typename Record> Record decodeManagedAnswer(const QString &answer)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(answer.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        throw ManagedDecodingError(ManagedDecodingError::Case::notJson, {}, parseError.errorString());
    }
    if (!document.isObject()) {
        wrongType(QStringLiteral("an object"));
    }
    return decodeRecord<Record>(document.object());
}

template <typename Record> QJsonObject encodeManaged(const Record &record)
{
    return encodeValue(record).toObject();
}

#define TAVRINE_INSTANTIATE(Record)                                                                                    \
    template Record decodeManaged<Record>(const QJsonValue &);                                                         \
    template Record decodeManagedAnswer<Record>(const QString &);                                                      \
    template QJsonObject encodeManaged<Record>(const Record &)

TAVRINE_INSTANTIATE(DeviceCapabilities);
TAVRINE_INSTANTIATE(ManagedDeviceSnapshot);
TAVRINE_INSTANTIATE(ManagedStorageRoots);
TAVRINE_INSTANTIATE(ManagedStorageRoots::Root);
TAVRINE_INSTANTIATE(ManagedFileEntry);
TAVRINE_INSTANTIATE(ManagedFilePage);
TAVRINE_INSTANTIATE(ManagedFileTreeEntry);
TAVRINE_INSTANTIATE(ManagedFileTreePage);
TAVRINE_INSTANTIATE(ManagedTrashEntry);
TAVRINE_INSTANTIATE(ManagedTrashPage);
TAVRINE_INSTANTIATE(ManagedTrashEmptyResult);
TAVRINE_INSTANTIATE(ManagedMediaItem);
TAVRINE_INSTANTIATE(ManagedMediaPage);
TAVRINE_INSTANTIATE(ManagedMediaThumbnail);
TAVRINE_INSTANTIATE(ManagedApplication);
TAVRINE_INSTANTIATE(ManagedApplicationPage);

#undef TAVRINE_INSTANTIATE
