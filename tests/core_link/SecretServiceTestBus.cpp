#include "SecretServiceTestBus.h"

#include <cstddef>
#include <cstdint>

// The tests of this folder do not get GLib's include path (only its libraries, through core_link), so
// the few GIO calls used here are declared by hand, exactly as GLib 2 declares them. Enumerations are
// passed as their int values; the types stay opaque apart from GError's public fields.
namespace gio {
struct Error
{
    uint32_t domain;
    int code;
    char *message;
};

extern "C" {
Connection *g_bus_get_sync(int busType, void *cancellable, Error **error);
Variant *g_dbus_connection_call_sync(Connection *connection, const char *busName, const char *objectPath,
                                     const char *interfaceName, const char *methodName, Variant *parameters,
                                     const void *replyType, int flags, int timeoutMilliseconds, void *cancellable,
                                     Error **error);
Variant *g_variant_new(const char *format, ...);
Variant *g_variant_new_parsed(const char *format, ...);
Variant *g_variant_new_fixed_array(const char *elementType, const void *elements, size_t count, size_t elementSize);
void g_variant_get(Variant *value, const char *format, ...);
Variant *g_variant_ref_sink(Variant *value);
void g_variant_unref(Variant *value);
void g_free(void *memory);
void g_strfreev(char **texts);
void g_error_free(Error *error);
void g_object_unref(void *object);
}

constexpr int sessionBus = 2;  // G_BUS_TYPE_SESSION
constexpr int noCallFlags = 0; // G_DBUS_CALL_FLAGS_NONE
} // namespace gio

namespace {

constexpr char secretsName[] = "org.freedesktop.secrets";
constexpr char servicePath[] = "/org/freedesktop/secrets";
constexpr char serviceInterface[] = "org.freedesktop.Secret.Service";
constexpr char keyringInterface[] = "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface";

// "^ay" would add a terminating zero byte to the password.
gio::Variant *bytes(const QByteArray &data)
{
    return gio::g_variant_new_fixed_array("y", data.constData(), size_t(data.size()), 1);
}

} // namespace

SecretServiceTestBus::SecretServiceTestBus()
{
    gio::Error *error = nullptr;
    m_connection = gio::g_bus_get_sync(gio::sessionBus, nullptr, &error);
    if (!m_connection) {
        m_lastError = QString::fromUtf8(error->message);
        gio::g_error_free(error);
    }
}

SecretServiceTestBus::~SecretServiceTestBus()
{
    if (!m_sessionPath.isEmpty())
        release(call(m_sessionPath, "org.freedesktop.Secret.Session", "Close", nullptr));
    if (m_connection)
        gio::g_object_unref(m_connection);
}

gio::Variant *SecretServiceTestBus::call(const QByteArray &objectPath, const char *interfaceName,
                                         const char *methodName, gio::Variant *parameters)
{
    if (!m_connection) {
        // The call does not happen, but the floating parameters must still be released.
        if (parameters)
            gio::g_variant_unref(gio::g_variant_ref_sink(parameters));
        return nullptr;
    }
    gio::Error *error = nullptr;
    gio::Variant *reply = gio::g_dbus_connection_call_sync(m_connection, secretsName, objectPath.constData(),
                                                           interfaceName, methodName, parameters, nullptr,
                                                           gio::noCallFlags, int(callTimeout.count()), nullptr, &error);
    if (!reply) {
        m_lastError = QString::fromUtf8(error->message);
        gio::g_error_free(error);
    }
    return reply;
}

void SecretServiceTestBus::release(gio::Variant *reply)
{
    if (reply)
        gio::g_variant_unref(reply);
}

// A plain session sends the password as it is; it belongs to this connection, so it is opened here.
bool SecretServiceTestBus::openPlainSession()
{
    if (!m_sessionPath.isEmpty())
        return true;
    gio::Variant *reply = call(servicePath, serviceInterface, "OpenSession",
                               gio::g_variant_new("(sv)", "plain", gio::g_variant_new("s", "")));
    if (!reply)
        return false;
    gio::Variant *output = nullptr;
    char *path = nullptr;
    gio::g_variant_get(reply, "(vo)", &output, &path);
    m_sessionPath = path;
    gio::g_free(path);
    gio::g_variant_unref(output);
    release(reply);
    return true;
}

QString SecretServiceTestBus::createCollection(const QString &label, const QByteArray &password)
{
    if (!openPlainSession())
        return {};
    const QByteArray labelBytes = label.toUtf8();
    gio::Variant *properties =
        gio::g_variant_new_parsed("{'org.freedesktop.Secret.Collection.Label': <%s>}", labelBytes.constData());
    gio::Variant *reply = call(servicePath, keyringInterface, "CreateWithMasterPassword",
                               gio::g_variant_new("(@a{sv}(o@ay@ays))", properties, m_sessionPath.constData(),
                                                  bytes({}), bytes(password), "text/plain"));
    if (!reply)
        return {};
    char *path = nullptr;
    gio::g_variant_get(reply, "(o)", &path);
    const QString collectionPath = QString::fromUtf8(path);
    gio::g_free(path);
    release(reply);
    return collectionPath;
}

bool SecretServiceTestBus::lockCollection(const QString &collectionPath)
{
    const QByteArray path = collectionPath.toUtf8();
    const char *paths[] = {path.constData(), nullptr};
    gio::Variant *reply = call(servicePath, serviceInterface, "Lock", gio::g_variant_new("(^ao)", paths));
    release(reply);
    return reply != nullptr;
}

bool SecretServiceTestBus::deleteCollection(const QString &collectionPath)
{
    gio::Variant *reply = call(collectionPath.toUtf8(), "org.freedesktop.Secret.Collection", "Delete", nullptr);
    release(reply);
    return reply != nullptr;
}

QString SecretServiceTestBus::defaultCollectionPath()
{
    gio::Variant *reply = call(servicePath, serviceInterface, "ReadAlias", gio::g_variant_new("(s)", "default"));
    if (!reply)
        return {};
    char *path = nullptr;
    gio::g_variant_get(reply, "(o)", &path);
    const QString collectionPath = QString::fromUtf8(path);
    gio::g_free(path);
    release(reply);
    return collectionPath;
}

int SecretServiceTestBus::deleteItems(const QString &service)
{
    const QByteArray serviceBytes = service.toUtf8();
    gio::Variant *reply = call(servicePath, serviceInterface, "SearchItems",
                               gio::g_variant_new_parsed("({'service': %s},)", serviceBytes.constData()));
    if (!reply)
        return -1;
    char **unlocked = nullptr;
    char **locked = nullptr;
    gio::g_variant_get(reply, "(^ao^ao)", &unlocked, &locked);
    int deleted = 0;
    bool failed = false;
    for (char **path = unlocked; *path; ++path) {
        gio::Variant *deleteReply = call(*path, "org.freedesktop.Secret.Item", "Delete", nullptr);
        failed = failed || !deleteReply;
        deleted += deleteReply ? 1 : 0;
        release(deleteReply);
    }
    gio::g_strfreev(unlocked);
    gio::g_strfreev(locked);
    release(reply);
    return failed ? -1 : deleted;
}
