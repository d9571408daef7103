#include "SecretServiceKeychain.h"

// GLib names a structure member "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <QLibrary>

#include <memory>
#include <optional>
#include <utility>

namespace {

// libsecret and the GIO stack under it are loaded on first use rather than with the program, which then starts
// faster; the headers are included for their types only. Functions of GLib, GObject and GIO resolve through
// libsecret's own dependencies.
#define TAVRINE_SECRET_FUNCTIONS(X)                                                                                    \
    X(g_dbus_error_strip_remote_error)                                                                                 \
    X(g_dbus_proxy_call_sync)                                                                                          \
    X(g_error_free)                                                                                                    \
    X(g_error_matches)                                                                                                 \
    X(g_free)                                                                                                          \
    X(g_hash_table_unref)                                                                                              \
    X(g_object_unref)                                                                                                  \
    X(g_variant_builder_add)                                                                                           \
    X(g_variant_builder_init)                                                                                          \
    X(g_variant_get)                                                                                                   \
    X(g_variant_is_object_path)                                                                                        \
    X(g_variant_new)                                                                                                   \
    X(g_variant_unref)                                                                                                 \
    X(secret_attributes_build)                                                                                         \
    X(secret_collection_get_locked)                                                                                    \
    X(secret_collection_new_for_dbus_path_sync)                                                                        \
    X(secret_error_get_quark)                                                                                          \
    X(secret_item_create_sync)                                                                                         \
    X(secret_item_get_locked)                                                                                          \
    X(secret_item_get_secret)                                                                                          \
    X(secret_item_load_secret_sync)                                                                                    \
    X(secret_item_new_for_dbus_path_sync)                                                                              \
    X(secret_item_set_secret_sync)                                                                                     \
    X(secret_service_get_sync)                                                                                         \
    X(secret_service_disconnect)                                                                                       \
    X(secret_service_read_alias_dbus_path_sync)                                                                        \
    X(secret_value_get)                                                                                                \
    X(secret_value_new)                                                                                                \
    X(secret_value_unref)

struct SecretLibrary
{
#define TAVRINE_SECRET_MEMBER(name) decltype(&::name) name = nullptr;
    TAVRINE_SECRET_FUNCTIONS(TAVRINE_SECRET_MEMBER)
#undef TAVRINE_SECRET_MEMBER
    QString loadError;
};

// Loaded once and kept for the life of the process; every function is resolved or none is used. Every operation
// starts by opening the collection, which reports a failed load, so the functions are only called once loaded.
const SecretLibrary &secret()
{
    static const SecretLibrary library = [] {
        SecretLibrary loaded;
        QLibrary file(QStringLiteral("secret-1"), 0);
        if (!file.load()) {
            loaded.loadError = QStringLiteral("The Secret Service library could not be loaded: ") + file.errorString();
            return loaded;
        }
#define TAVRINE_SECRET_RESOLVE(name)                                                                                   \
    loaded.name = reinterpret_cast<decltype(&::name)>(file.resolve(#name));                                            \
    if (!loaded.name && loaded.loadError.isEmpty())                                                                    \
        loaded.loadError = QStringLiteral("The Secret Service library lacks ") + QLatin1String(#name);
        TAVRINE_SECRET_FUNCTIONS(TAVRINE_SECRET_RESOLVE)
#undef TAVRINE_SECRET_RESOLVE
        // Registers the Secret Service error names, so that a remote "is locked" error arrives as
        // SECRET_ERROR_IS_LOCKED.
        if (loaded.loadError.isEmpty())
            (void)loaded.secret_error_get_quark();
        return loaded;
    }();
    return library;
}

#undef TAVRINE_SECRET_FUNCTIONS

struct GObjectUnref
{
    void operator()(gpointer object) const { secret().g_object_unref(object); }
};
template <typename T> using GObjectPointer = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree
{
    void operator()(GError *error) const { secret().g_error_free(error); }
};
using ErrorPointer = std::unique_ptr<GError, GErrorFree>;

struct HashTableUnref
{
    void operator()(GHashTable *table) const { secret().g_hash_table_unref(table); }
};
using AttributesPointer = std::unique_ptr<GHashTable, HashTableUnref>;

struct SecretValueUnref
{
    void operator()(SecretValue *value) const { secret().secret_value_unref(value); }
};
using SecretValuePointer = std::unique_ptr<SecretValue, SecretValueUnref>;

constexpr char contentType[] = "text/plain";

const SecretSchema *credentialSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema value{};
        value.name = "com.drovan.tavrine.Credential";
        value.flags = SECRET_SCHEMA_NONE;
        value.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        value.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return value;
    }();
    return &schema;
}

AttributesPointer credentialAttributes(const QString &service, const QString &account)
{
    const QByteArray serviceBytes = service.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    return AttributesPointer(secret().secret_attributes_build(credentialSchema(), "service", serviceBytes.constData(),
                                                              "account", accountBytes.constData(), nullptr));
}

SecretValuePointer secretValue(const QByteArray &data)
{
    return SecretValuePointer(secret().secret_value_new(data.constData(), data.size(), contentType));
}

struct Failure
{
    int32_t status;
    QString message;
};

Failure failureFromError(ErrorPointer error)
{
    if (secret().g_error_matches(error.get(), secret().secret_error_get_quark(), SECRET_ERROR_IS_LOCKED))
        return {Keychain::interactionNotAllowed, {}};
    // The shared service connection keeps addressing the daemon it first found: it learns of a new one only through
    // signals on a worker thread's event loop context, which nothing runs. After a failure the next operation
    // connects afresh, so a keyring daemon that was restarted serves again.
    secret().secret_service_disconnect();
    return {SecretServiceKeychain::serviceFailure, QString::fromUtf8(error->message)};
}

// The service connection and the collection of one operation, with the collection's lock state
// read afresh, so that nothing is attempted that would make the service prompt.
struct OpenedCollection
{
    GObjectPointer<SecretService> service;
    GObjectPointer<SecretCollection> collection;
};

std::optional<Failure> openUnlockedCollection(const QString &collectionPath, OpenedCollection &opened)
{
    const SecretLibrary &library = secret();
    if (!library.loadError.isEmpty())
        return Failure{SecretServiceKeychain::serviceFailure, library.loadError};

    GError *error = nullptr;
    // The encrypted session that secrets travel in is opened when a secret is first read or written: a search that
    // finds nothing (no phone trusted yet) spares its key exchange.
    opened.service.reset(library.secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error));
    if (!opened.service)
        return failureFromError(ErrorPointer(error));

    QByteArray path = collectionPath.toUtf8();
    if (path.isEmpty()) {
        gchar *defaultPath =
            library.secret_service_read_alias_dbus_path_sync(opened.service.get(), "default", nullptr, &error);
        if (error)
            return failureFromError(ErrorPointer(error));
        if (!defaultPath)
            return Failure{SecretServiceKeychain::noDefaultCollection, {}};
        path = defaultPath;
        library.g_free(defaultPath);
    }
    if (!library.g_variant_is_object_path(path.constData()))
        return Failure{SecretServiceKeychain::serviceFailure,
                       QStringLiteral("Not a D-Bus object path: ") + QString::fromUtf8(path)};

    opened.collection.reset(library.secret_collection_new_for_dbus_path_sync(opened.service.get(), path.constData(),
                                                                             SECRET_COLLECTION_NONE, nullptr, &error));
    if (!opened.collection)
        return failureFromError(ErrorPointer(error));
    if (library.secret_collection_get_locked(opened.collection.get()))
        return Failure{Keychain::interactionNotAllowed, {}};
    return std::nullopt;
}

struct VariantUnref
{
    void operator()(GVariant *variant) const { secret().g_variant_unref(variant); }
};
using VariantPointer = std::unique_ptr<GVariant, VariantUnref>;

// Asks the collection itself rather than through secret_collection_search_sync, which loses its
// D-Bus reply. Searching never unlocks, so a locked item comes back as it is and is reported.
std::optional<Failure> findItem(SecretService *service, SecretCollection *collection, const QString &serviceName,
                                const QString &account, GObjectPointer<SecretItem> &item)
{
    const QByteArray serviceBytes = serviceName.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    const SecretLibrary &library = secret();
    GVariantBuilder attributes;
    // The unchecked forms of G_VARIANT_TYPE and G_DBUS_PROXY, whose checks would call into GLib directly;
    // a collection is a D-Bus proxy.
    library.g_variant_builder_init(&attributes, reinterpret_cast<const GVariantType *>("a{ss}"));
    library.g_variant_builder_add(&attributes, "{ss}", "service", serviceBytes.constData());
    library.g_variant_builder_add(&attributes, "{ss}", "account", accountBytes.constData());
    library.g_variant_builder_add(&attributes, "{ss}", "xdg:schema", credentialSchema()->name);

    GError *error = nullptr;
    const VariantPointer reply(library.g_dbus_proxy_call_sync(reinterpret_cast<GDBusProxy *>(collection), "SearchItems",
                                                              library.g_variant_new("(a{ss})", &attributes),
                                                              G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error));
    if (!reply) {
        library.g_dbus_error_strip_remote_error(error);
        return failureFromError(ErrorPointer(error));
    }
    const gchar **paths = nullptr;
    library.g_variant_get(reply.get(), "(^a&o)", &paths);
    const std::unique_ptr<const gchar *, decltype(&g_free)> pathsOwner(paths, library.g_free);
    if (!paths[0])
        return Failure{Keychain::itemNotFound, {}};

    item.reset(library.secret_item_new_for_dbus_path_sync(service, paths[0], SECRET_ITEM_NONE, nullptr, &error));
    if (!item)
        return failureFromError(ErrorPointer(error));
    if (library.secret_item_get_locked(item.get()))
        return Failure{Keychain::interactionNotAllowed, {}};
    return std::nullopt;
}

} // namespace

SecretServiceKeychain::SecretServiceKeychain(QString collectionPath) : m_collectionPath(std::move(collectionPath)) {}

int32_t SecretServiceKeychain::statusOf(int32_t status, const QString &message)
{
    if (status == serviceFailure) {
        const std::lock_guard lock(m_messageMutex);
        m_lastFailureMessage = message;
    }
    return status;
}

Keychain::CopyResult SecretServiceKeychain::copyMatching(const QString &service, const QString &account)
{
    auto answer = [this](const Failure &reason) {
        return CopyResult{statusOf(reason.status, reason.message), {}};
    };

    OpenedCollection opened;
    if (const auto reason = openUnlockedCollection(m_collectionPath, opened))
        return answer(*reason);
    GObjectPointer<SecretItem> item;
    if (const auto reason = findItem(opened.service.get(), opened.collection.get(), service, account, item))
        return answer(*reason);

    GError *error = nullptr;
    if (!secret().secret_item_load_secret_sync(item.get(), nullptr, &error))
        return answer(failureFromError(ErrorPointer(error)));

    // A missing value reads as empty data, which the credential store refuses as a damaged item.
    const SecretValuePointer value(secret().secret_item_get_secret(item.get()));
    if (!value)
        return CopyResult{success, {}};
    gsize length = 0;
    const gchar *bytes = secret().secret_value_get(value.get(), &length);
    return CopyResult{success, QByteArray(bytes, static_cast<qsizetype>(length))};
}

int32_t SecretServiceKeychain::update(const QString &service, const QString &account, const QByteArray &data)
{
    auto answer = [this](const Failure &reason) {
        return statusOf(reason.status, reason.message);
    };

    OpenedCollection opened;
    if (const auto reason = openUnlockedCollection(m_collectionPath, opened))
        return answer(*reason);
    GObjectPointer<SecretItem> item;
    if (const auto reason = findItem(opened.service.get(), opened.collection.get(), service, account, item))
        return answer(*reason);

    GError *error = nullptr;
    const SecretValuePointer value = secretValue(data);
    if (!secret().secret_item_set_secret_sync(item.get(), value.get(), nullptr, &error))
        return answer(failureFromError(ErrorPointer(error)));
    return success;
}

int32_t SecretServiceKeychain::add(const QString &service, const QString &account, const QByteArray &data)
{
    auto answer = [this](const Failure &reason) {
        return statusOf(reason.status, reason.message);
    };

    OpenedCollection opened;
    if (const auto reason = openUnlockedCollection(m_collectionPath, opened))
        return answer(*reason);

    GError *error = nullptr;
    const AttributesPointer attributes = credentialAttributes(service, account);
    const QByteArray label = (service + QStringLiteral(" (") + account + u')').toUtf8();
    const SecretValuePointer value = secretValue(data);
    // Replacing keeps a single item per service and account when another writer added one meanwhile.
    const GObjectPointer<SecretItem> item(
        secret().secret_item_create_sync(opened.collection.get(), credentialSchema(), attributes.get(),
                                         label.constData(), value.get(), SECRET_ITEM_CREATE_REPLACE, nullptr, &error));
    if (!item)
        return answer(failureFromError(ErrorPointer(error)));
    return success;
}

QString SecretServiceKeychain::messageForStatus(int32_t status) const
{
    // The service's own words are technical English; the user is told in the interface's language what to do.
    if (status == noDefaultCollection)
        return QStringLiteral("没有默认的密钥环，请在密钥环管理程序中创建“登录”密钥环后重试。");
    if (status != serviceFailure)
        return {};
    const std::lock_guard lock(m_messageMutex);
    return QStringLiteral("无法使用系统密钥环，请确认它已启动后重试。（") + m_lastFailureMessage + QStringLiteral("）");
}
