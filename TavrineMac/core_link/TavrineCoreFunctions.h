#pragma once

#include "tavrine_core.h"
#include "tavrine_core_contract.h"

#include <QString>

#include <functional>
#include <optional>

// Every C function of the core library in lists, so the function table, the loader and test fakes
// cannot drift apart.
#define TAVRINE_CORE_CALL_FUNCTIONS(X)                                                                                 \
    X(ffi_tavrine_core_rustbuffer_from_bytes)                                                                          \
    X(ffi_tavrine_core_rustbuffer_free)                                                                                \
    X(uniffi_tavrine_core_fn_clone_transferhost)                                                                       \
    X(uniffi_tavrine_core_fn_free_transferhost)                                                                        \
    X(uniffi_tavrine_core_fn_clone_transferclient)                                                                     \
    X(uniffi_tavrine_core_fn_free_transferclient)                                                                      \
    X(uniffi_tavrine_core_fn_constructor_transferhost_start)                                                           \
    X(uniffi_tavrine_core_fn_constructor_transferclient_connect)                                                       \
    X(uniffi_tavrine_core_fn_method_transferhost_acknowledge_received_transfer)                                        \
    X(uniffi_tavrine_core_fn_method_transferhost_cancel_transfer)                                                      \
    X(uniffi_tavrine_core_fn_method_transferhost_confirmation_code)                                                    \
    X(uniffi_tavrine_core_fn_method_transferhost_identity_material)                                                    \
    X(uniffi_tavrine_core_fn_method_transferhost_is_connected)                                                         \
    X(uniffi_tavrine_core_fn_method_transferhost_pairing_payload)                                                      \
    X(uniffi_tavrine_core_fn_method_transferhost_pause_transfer)                                                       \
    X(uniffi_tavrine_core_fn_method_transferhost_poll_event)                                                           \
    X(uniffi_tavrine_core_fn_method_transferhost_poll_management_response)                                             \
    X(uniffi_tavrine_core_fn_method_transferhost_request_management)                                                   \
    X(uniffi_tavrine_core_fn_method_transferhost_send_file)                                                            \
    X(uniffi_tavrine_core_fn_method_transferhost_send_file_with_id)                                                    \
    X(uniffi_tavrine_core_fn_method_transferhost_trusted_peer_secret)                                                  \
    X(uniffi_tavrine_core_fn_method_transferclient_acknowledge_received_transfer)                                      \
    X(uniffi_tavrine_core_fn_method_transferclient_cancel_transfer)                                                    \
    X(uniffi_tavrine_core_fn_method_transferclient_confirm_pairing)                                                    \
    X(uniffi_tavrine_core_fn_method_transferclient_disconnect)                                                         \
    X(uniffi_tavrine_core_fn_method_transferclient_is_connected)                                                       \
    X(uniffi_tavrine_core_fn_method_transferclient_pause_transfer)                                                     \
    X(uniffi_tavrine_core_fn_method_transferclient_poll_event)                                                         \
    X(uniffi_tavrine_core_fn_method_transferclient_poll_management_request)                                            \
    X(uniffi_tavrine_core_fn_method_transferclient_respond_management)                                                 \
    X(uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor)                                               \
    X(uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor_with_id)                                       \
    X(uniffi_tavrine_core_fn_method_transferclient_trusted_connection_material)

// X(name) for every function but the checksum functions, which TAVRINE_CORE_CHECKSUMS lists.
#define TAVRINE_CORE_FUNCTIONS(X)                                                                                      \
    X(ffi_tavrine_core_uniffi_contract_version)                                                                        \
    TAVRINE_CORE_CALL_FUNCTIONS(X)

// The table through which the binding layer reaches the core library. The application fills it from
// the shared library; tests fill it with a fake.
struct TavrineCoreFunctions
{
#define TAVRINE_CORE_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;
#define TAVRINE_CORE_CHECKSUM_POINTER(operation, checksum)                                                             \
    TAVRINE_CORE_FUNCTION_POINTER(uniffi_tavrine_core_checksum_##operation)
    TAVRINE_CORE_FUNCTIONS(TAVRINE_CORE_FUNCTION_POINTER)
    TAVRINE_CORE_CHECKSUMS(TAVRINE_CORE_CHECKSUM_POINTER)
#undef TAVRINE_CORE_CHECKSUM_POINTER
#undef TAVRINE_CORE_FUNCTION_POINTER
};

// Installs the table that every later core call goes through. Install it before the first call.
void installTavrineCoreFunctions(const TavrineCoreFunctions &functions);

// Installs what gives the table on the first core call, once, unless a table was installed by then: the library
// is loaded only when something needs it. Install it before the first call.
void installTavrineCoreLoader(std::function<std::optional<TavrineCoreFunctions>()> loader);

// The installed table, or the loader's; stops the process when there is none.
const TavrineCoreFunctions &tavrineCoreFunctions();

// Resolves every function from the shared library at `libraryPath` (a path or a name that the
// dynamic loader finds). Gives nothing, with a reason in `errorMessage`, when the library cannot be
// loaded or lacks a function.
std::optional<TavrineCoreFunctions> loadTavrineCoreFunctions(const QString &libraryPath,
                                                             QString *errorMessage = nullptr);
