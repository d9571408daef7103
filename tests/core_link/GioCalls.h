#pragma once

#include <cstdint>

// This folder's tests link libsecret's GLib stack but get no include path for it: the few GIO calls its tests make
// themselves, declared as GLib 2 declares them (enumerations as int, types opaque but for GError's public fields).
namespace gio {
struct Connection;
struct Variant;
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
Variant *g_variant_new_parsed(const char *format, ...);
void g_variant_get(Variant *value, const char *format, ...);
void g_variant_unref(Variant *value);
void g_free(void *memory);
void g_error_free(Error *error);
}
} // namespace gio
