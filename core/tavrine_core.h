/*
 * The C interface of libtavrine_core.
 *
 * Texts travel as RustBuffers holding bare UTF-8; records as RustBuffers in the big-endian layout
 * that the binding layer reads and writes. Every function but the contract functions takes a
 * zeroed RustCallStatus as its last argument: code 0 is success, 1 an error (an encoded
 * TavrineCoreError in errorBuf) and 2 an internal failure (an optional UTF-8 message in errorBuf).
 *
 * Every RustBuffer argument passes to the library; every returned RustBuffer (result or errorBuf)
 * is the caller's and goes back through ffi_tavrine_core_rustbuffer_free. A method consumes the
 * handle it is given, so callers pass a fresh clone each time.
 */
#ifndef TAVRINE_CORE_H
#define TAVRINE_CORE_H

#include <stdint.h>

#if defined(_WIN32)
#define TAVRINE_CORE_EXPORT __declspec(dllexport)
#else
#define TAVRINE_CORE_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RustBuffer
{
    uint64_t capacity;
    uint64_t len;
    uint8_t *data;
} RustBuffer;

typedef struct ForeignBytes
{
    int32_t len;
    const uint8_t *data;
} ForeignBytes;

typedef struct RustCallStatus
{
    int8_t code;
    RustBuffer errorBuf;
} RustCallStatus;

/* Contract */
TAVRINE_CORE_EXPORT uint32_t ffi_tavrine_core_uniffi_contract_version(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_acknowledge_received_transfer(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_cancel_transfer(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_confirm_pairing(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_disconnect(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_is_connected(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_pause_transfer(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_poll_event(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_poll_management_request(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_respond_management(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_send_file_descriptor(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_send_file_descriptor_with_id(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferclient_trusted_connection_material(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_acknowledge_received_transfer(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_cancel_transfer(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_confirmation_code(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_identity_material(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_is_connected(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_pairing_payload(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_pause_transfer(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_poll_event(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_poll_management_response(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_request_management(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_send_file(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_send_file_with_id(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_method_transferhost_trusted_peer_secret(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_constructor_transferclient_connect(void);
TAVRINE_CORE_EXPORT uint16_t uniffi_tavrine_core_checksum_constructor_transferhost_start(void);

/* Buffers */
TAVRINE_CORE_EXPORT RustBuffer ffi_tavrine_core_rustbuffer_from_bytes(ForeignBytes bytes, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT void ffi_tavrine_core_rustbuffer_free(RustBuffer buffer, RustCallStatus *out_status);

/* Object handles */
TAVRINE_CORE_EXPORT uint64_t uniffi_tavrine_core_fn_clone_transferhost(uint64_t handle, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT void uniffi_tavrine_core_fn_free_transferhost(uint64_t handle, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT uint64_t uniffi_tavrine_core_fn_clone_transferclient(uint64_t handle, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT void uniffi_tavrine_core_fn_free_transferclient(uint64_t handle, RustCallStatus *out_status);

/* Constructors */
TAVRINE_CORE_EXPORT uint64_t uniffi_tavrine_core_fn_constructor_transferhost_start(
    RustBuffer advertised_host, RustBuffer inbox_directory, RustBuffer device_name, RustBuffer identity_material,
    RustBuffer trusted_peer_secret, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT uint64_t uniffi_tavrine_core_fn_constructor_transferclient_connect(RustBuffer pairing_payload,
                                                                                       RustBuffer connection_material,
                                                                                       RustBuffer device_name,
                                                                                       RustBuffer inbox_directory,
                                                                                       RustCallStatus *out_status);

/* TransferHost */
TAVRINE_CORE_EXPORT int8_t uniffi_tavrine_core_fn_method_transferhost_acknowledge_received_transfer(
    uint64_t handle, RustBuffer transfer_id, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT int8_t uniffi_tavrine_core_fn_method_transferhost_cancel_transfer(uint64_t handle,
                                                                                      RustBuffer transfer_id,
                                                                                      RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer uniffi_tavrine_core_fn_method_transferhost_confirmation_code(uint64_t handle,
                                                                                            RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer uniffi_tavrine_core_fn_method_transferhost_identity_material(uint64_t handle,
                                                                                            RustCallStatus *out_status);
TAVRINE_CORE_EXPORT int8_t uniffi_tavrine_core_fn_method_transferhost_is_connected(uint64_t handle,
                                                                                   RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer uniffi_tavrine_core_fn_method_transferhost_pairing_payload(uint64_t handle,
                                                                                          RustCallStatus *out_status);
TAVRINE_CORE_EXPORT int8_t uniffi_tavrine_core_fn_method_transferhost_pause_transfer(uint64_t handle,
                                                                                     RustBuffer transfer_id,
                                                                                     RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer uniffi_tavrine_core_fn_method_transferhost_poll_event(uint64_t handle,
                                                                                     RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer
uniffi_tavrine_core_fn_method_transferhost_poll_management_response(uint64_t handle, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer uniffi_tavrine_core_fn_method_transferhost_request_management(
    uint64_t handle, RustBuffer action, RustBuffer payload, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer uniffi_tavrine_core_fn_method_transferhost_send_file(uint64_t handle,
                                                                                    RustBuffer local_path,
                                                                                    RustBuffer file_name,
                                                                                    RustCallStatus *out_status);
TAVRINE_CORE_EXPORT void uniffi_tavrine_core_fn_method_transferhost_send_file_with_id(
    uint64_t handle, RustBuffer local_path, RustBuffer file_name, RustBuffer transfer_id, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer
uniffi_tavrine_core_fn_method_transferhost_trusted_peer_secret(uint64_t handle, RustCallStatus *out_status);

/* TransferClient */
TAVRINE_CORE_EXPORT int8_t uniffi_tavrine_core_fn_method_transferclient_acknowledge_received_transfer(
    uint64_t handle, RustBuffer transfer_id, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT int8_t uniffi_tavrine_core_fn_method_transferclient_cancel_transfer(uint64_t handle,
                                                                                        RustBuffer transfer_id,
                                                                                        RustCallStatus *out_status);
TAVRINE_CORE_EXPORT void uniffi_tavrine_core_fn_method_transferclient_confirm_pairing(uint64_t handle,
                                                                                      RustCallStatus *out_status);
TAVRINE_CORE_EXPORT void uniffi_tavrine_core_fn_method_transferclient_disconnect(uint64_t handle,
                                                                                 RustCallStatus *out_status);
TAVRINE_CORE_EXPORT int8_t uniffi_tavrine_core_fn_method_transferclient_is_connected(uint64_t handle,
                                                                                     RustCallStatus *out_status);
TAVRINE_CORE_EXPORT int8_t uniffi_tavrine_core_fn_method_transferclient_pause_transfer(uint64_t handle,
                                                                                       RustBuffer transfer_id,
                                                                                       RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer uniffi_tavrine_core_fn_method_transferclient_poll_event(uint64_t handle,
                                                                                       RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer
uniffi_tavrine_core_fn_method_transferclient_poll_management_request(uint64_t handle, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT int8_t uniffi_tavrine_core_fn_method_transferclient_respond_management(
    uint64_t handle, RustBuffer request_id, int8_t success, RustBuffer payload, RustBuffer message,
    RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor(
    uint64_t handle, int32_t file_descriptor, RustBuffer file_name, uint64_t file_size, RustCallStatus *out_status);
TAVRINE_CORE_EXPORT void uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor_with_id(
    uint64_t handle, int32_t file_descriptor, RustBuffer file_name, uint64_t file_size, RustBuffer transfer_id,
    RustCallStatus *out_status);
TAVRINE_CORE_EXPORT RustBuffer
uniffi_tavrine_core_fn_method_transferclient_trusted_connection_material(uint64_t handle, RustCallStatus *out_status);

#ifdef __cplusplus
}
#endif

#endif
