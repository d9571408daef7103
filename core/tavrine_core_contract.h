/*
 * The contract between libtavrine_core and its callers: the contract version and one checksum per
 * operation, listed in the order in which callers check them.
 */
#ifndef TAVRINE_CORE_CONTRACT_H
#define TAVRINE_CORE_CONTRACT_H

#define TAVRINE_CORE_CONTRACT_VERSION 30

/* X(operation, checksum): the checksum function is "uniffi_tavrine_core_checksum_" operation. */
#define TAVRINE_CORE_CHECKSUMS(X)                                                                                      \
    X(method_transferclient_acknowledge_received_transfer, 46978)                                                      \
    X(method_transferclient_cancel_transfer, 15751)                                                                    \
    X(method_transferclient_confirm_pairing, 33250)                                                                    \
    X(method_transferclient_disconnect, 56043)                                                                         \
    X(method_transferclient_is_connected, 25645)                                                                       \
    X(method_transferclient_pause_transfer, 24481)                                                                     \
    X(method_transferclient_poll_event, 19118)                                                                         \
    X(method_transferclient_poll_management_request, 13034)                                                            \
    X(method_transferclient_respond_management, 61330)                                                                 \
    X(method_transferclient_send_file_descriptor, 41735)                                                               \
    X(method_transferclient_send_file_descriptor_with_id, 4566)                                                        \
    X(method_transferclient_trusted_connection_material, 46490)                                                        \
    X(method_transferhost_acknowledge_received_transfer, 26363)                                                        \
    X(method_transferhost_cancel_transfer, 60610)                                                                      \
    X(method_transferhost_confirmation_code, 9369)                                                                     \
    X(method_transferhost_identity_material, 53720)                                                                    \
    X(method_transferhost_is_connected, 2943)                                                                          \
    X(method_transferhost_pairing_payload, 61578)                                                                      \
    X(method_transferhost_pause_transfer, 48656)                                                                       \
    X(method_transferhost_poll_event, 53214)                                                                           \
    X(method_transferhost_poll_management_response, 49835)                                                             \
    X(method_transferhost_request_management, 37235)                                                                   \
    X(method_transferhost_send_file, 30136)                                                                            \
    X(method_transferhost_send_file_with_id, 64272)                                                                    \
    X(method_transferhost_trusted_peer_secret, 36623)                                                                  \
    X(constructor_transferclient_connect, 29859)                                                                       \
    X(constructor_transferhost_start, 25153)

#endif
