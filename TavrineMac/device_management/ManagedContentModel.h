#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>

// The records the phone answers management actions with. Each decodes strictly from JSON: a required key
// that is missing, null or of the wrong type fails, and so does an integer written with a fraction or an
// exponent; one bad element fails the whole answer; keys a record does not declare are ignored. Encoding
// writes the declared keys and leaves absent optionals out.

class ManagedDecodingError : public std::exception
{
public:
    enum class Case
    {
        notJson,       // the answer text is not JSON
        missingValue,  // a required key is missing or null
        wrongType,     // a value of another JSON type, or a number that is not an integer
        corruptedData, // a text outside the values the field takes
    };

    // `codingPath` names the value, e.g. "entries[3].modifiedAtMillis"; `detail` the expected type or the
    // parser's message.
    ManagedDecodingError(Case errorCase, const QString &codingPath, const QString &detail = {});

    Case errorCase() const { return m_case; }
    const QString &codingPath() const { return m_codingPath; }
    ManagedDecodingError inside(const QString &prefix) const;
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Case m_case;
    QString m_codingPath;
    QString m_detail;
    QByteArray m_what;
};

enum class ManagedMediaKind
{
    photo,
    video,
};

QString rawValue(ManagedMediaKind kind);
std::optional<ManagedMediaKind> managedMediaKindFromRawValue(const QString &text);
inline size_t qHash(ManagedMediaKind kind, size_t seed = 0)
{
    return qHash(rawValue(kind), seed);
}

struct DeviceCapabilities
{
    qint64 version = 0;
    bool allFilesGranted = false;
    bool applicationInventory = false;
    bool wirelessApplicationInstall = false;
    QStringList actions;

    bool operator==(const DeviceCapabilities &) const = default;
};

struct ManagedDeviceSnapshot
{
    struct Battery
    {
        std::optional<qint64> percent;
        bool charging = false;
        qint64 plugged = 0;
        qint64 health = 0;
        qint64 cycleCount = 0;
        std::optional<double> temperatureCelsius;

        bool operator==(const Battery &) const = default;
    };

    struct Storage
    {
        qint64 totalBytes = 0;
        qint64 availableBytes = 0;

        bool operator==(const Storage &) const = default;
    };

    struct Memory
    {
        qint64 totalBytes = 0;
        qint64 availableBytes = 0;
        std::optional<qint64> freeBytes;
        bool low = false;

        bool operator==(const Memory &) const = default;
    };

    struct Network
    {
        bool connected = false;
        bool wifi = false;
        bool cellular = false;

        bool operator==(const Network &) const = default;
    };

    qint64 version = 0;
    qint64 capturedAtMillis = 0;
    QString manufacturer;
    QString brand;
    QString model;
    QString device;
    QString androidVersion;
    qint64 sdkLevel = 0;
    QString securityPatch;
    QString agentVersion;
    qint64 uptimeMillis = 0;
    bool locked = false;
    Battery battery;
    Storage storage;
    Memory memory;
    Network network;
    DeviceCapabilities capabilities;

    bool operator==(const ManagedDeviceSnapshot &) const = default;
};

struct ManagedStorageRoots
{
    struct Root
    {
        QString id;
        QString name;
        bool removable = false;
        qint64 availableBytes = 0;
        qint64 totalBytes = 0;

        bool operator==(const Root &) const = default;
    };

    qint64 version = 0;
    QList<Root> roots;

    bool operator==(const ManagedStorageRoots &) const = default;
};

struct ManagedFileEntry
{
    QString id;
    QString name;
    bool directory = false;
    std::optional<qint64> size;
    qint64 modifiedAtMillis = 0;
    bool hidden = false;
    bool writable = false;

    bool operator==(const ManagedFileEntry &) const = default;
};

struct ManagedFilePage
{
    qint64 version = 0;
    QString parentId;
    QString parentName;
    std::optional<QString> parentParentId;
    QList<ManagedFileEntry> entries;
    std::optional<qint64> nextPageToken;

    bool operator==(const ManagedFilePage &) const = default;
};

struct ManagedFileTreeEntry
{
    QString id;
    QString relativePath;
    bool directory = false;
    std::optional<qint64> size;
    qint64 modifiedAtMillis = 0;

    bool operator==(const ManagedFileTreeEntry &) const = default;
};

struct ManagedFileTreePage
{
    qint64 version = 0;
    QString rootId;
    QString rootName;
    QList<ManagedFileTreeEntry> entries;
    std::optional<qint64> nextPageToken;

    bool operator==(const ManagedFileTreePage &) const = default;
};

struct ManagedTrashEntry
{
    QString id;
    QString originalName;
    QString originalParentId;
    QString originalLocation;
    QString rootId;
    bool directory = false;
    std::optional<qint64> size;
    qint64 deletedAtMillis = 0;

    bool operator==(const ManagedTrashEntry &) const = default;
};

struct ManagedTrashPage
{
    qint64 version = 0;
    QList<ManagedTrashEntry> entries;
    std::optional<qint64> nextPageToken;

    bool operator==(const ManagedTrashPage &) const = default;
};

struct ManagedTrashEmptyResult
{
    qint64 version = 0;
    qint64 deletedCount = 0;
    qint64 reclaimedBytes = 0;

    bool operator==(const ManagedTrashEmptyResult &) const = default;
};

struct ManagedMediaItem
{
    QString id;
    QString name;
    ManagedMediaKind kind = ManagedMediaKind::photo;
    qint64 size = 0;
    qint64 modifiedAtMillis = 0;
    QString mimeType;
    qint64 width = 0;
    qint64 height = 0;
    std::optional<qint64> orientationDegrees;
    QString relativePath;
    std::optional<qint64> durationMillis;

    bool operator==(const ManagedMediaItem &) const = default;
};

struct ManagedMediaPage
{
    qint64 version = 0;
    QList<ManagedMediaItem> items;
    std::optional<qint64> nextPageToken;

    bool operator==(const ManagedMediaPage &) const = default;
};

struct ManagedMediaThumbnail
{
    qint64 version = 0;
    QString id;
    QString mimeType;
    qint64 pixelWidth = 0;
    qint64 pixelHeight = 0;
    QString dataBase64;

    bool operator==(const ManagedMediaThumbnail &) const = default;
};

struct ManagedApplication
{
    QString packageName;
    QString name;
    QString versionName;
    qint64 versionCode = 0;
    qint64 firstInstalledAtMillis = 0;
    qint64 updatedAtMillis = 0;
    bool system = false;
    bool enabled = false;
    bool launchable = false;

    bool operator==(const ManagedApplication &) const = default;
};

struct ManagedApplicationPage
{
    qint64 version = 0;
    QList<ManagedApplication> applications;
    std::optional<qint64> nextPageToken;

    bool operator==(const ManagedApplicationPage &) const = default;
};

// The longest name a file system takes for one item, in UTF-8 bytes. Decoding refuses the name of a file, folder,
// trashed item or media item that is longer, as corrupted data.
constexpr qsizetype maximumFileNameBytes = 255;
// An application's package name is at most as long as Android allows; its name and version name are a few lines
// of text at most. Decoding refuses longer ones as corrupted data.
constexpr qsizetype maximumPackageNameBytes = 255;
constexpr qsizetype maximumApplicationTextBytes = 4096;

// A name typed for a new folder or a rename that shows nothing: empty, or white space only. The computer refuses it
// before it asks the phone, and the phone refuses it as it refuses a name that would leave its folder, both with
// invalidNameMessage.
inline bool isBlankName(const QString &name)
{
    return name.trimmed().isEmpty();
}
inline const QString invalidNameMessage = QStringLiteral("名称无效。");

// Decoding and encoding of every record. decodeManaged<T> throws ManagedDecodingError.
template <typename Record> Record decodeManaged(const QJsonValue &value);
// The answer text as the phone sent it (UTF-8 JSON).
template <typename Record> Record decodeManagedAnswer(const QString &answer);
template <typename Record> QJsonObject encodeManaged(const Record &record);

// Identities that views key lists and selections by.
inline const QString &identity(const ManagedFileEntry &entry) { return entry.id; }
inline const QString &identity(const ManagedFileTreeEntry &entry) { return entry.id; }
inline const QString &identity(const ManagedTrashEntry &entry) { return entry.id; }
inline const QString &identity(const ManagedMediaItem &item) { return item.id; }
inline const QString &identity(const ManagedStorageRoots::Root &root) { return root.id; }
inline const QString &identity(const ManagedApplication &application) { return application.packageName; }
