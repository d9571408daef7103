#include "TransferHost.h"

using Functions = TavrineCoreFunctions;
using uniffi::expectNoError;
using uniffi::FfiConverterBool;
using uniffi::FfiConverterString;

TransferHost::~TransferHost()
{
    if (m_handle != 0) {
        uniffi::freeObjectHandle(&Functions::uniffi_tavrine_core_fn_free_transferhost, m_handle);
    }
}

template <typename Function, typename... Arguments>
auto TransferHost::call(uniffi::ErrorLift liftError, Function function, const Arguments &...arguments) const
{
    return uniffi::callMethod(liftError, &Functions::uniffi_tavrine_core_fn_clone_transferhost, function, m_handle,
                              arguments...);
}

std::unique_ptr<TransferHost> TransferHost::start(const QString &advertisedHost, const QString &inboxDirectory,
                                                  const QString &deviceName, const QString &identityMaterial,
                                                  const QString &trustedPeerSecret)
{
    const uint64_t handle = uniffi::callConstructor(
        liftAndThrowTavrineCoreError, &Functions::uniffi_tavrine_core_fn_constructor_transferhost_start, advertisedHost,
        inboxDirectory, deviceName, identityMaterial, trustedPeerSecret);
    return FfiConverterTypeTransferHost::lift(handle);
}

uint64_t TransferHost::cloneHandle() const
{
    return uniffi::cloneObjectHandle(&Functions::uniffi_tavrine_core_fn_clone_transferhost, m_handle);
}

bool TransferHost::acknowledgeReceivedTransfer(const QString &transferId)
{
    return FfiConverterBool::lift(
        call(liftAndThrowTavrineCoreError,
             &Functions::uniffi_tavrine_core_fn_method_transferhost_acknowledge_received_transfer, transferId));
}

bool TransferHost::cancelTransfer(const QString &transferId)
{
    return expectNoError([&] {
        return FfiConverterBool::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferhost_cancel_transfer, transferId));
    });
}

QString TransferHost::confirmationCode()
{
    return expectNoError([&] {
        return FfiConverterString::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferhost_confirmation_code));
    });
}

QString TransferHost::identityMaterial()
{
    return expectNoError([&] {
        return FfiConverterString::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferhost_identity_material));
    });
}

bool TransferHost::isConnected()
{
    return expectNoError([&] {
        return FfiConverterBool::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferhost_is_connected));
    });
}

QString TransferHost::pairingPayload()
{
    return expectNoError([&] {
        return FfiConverterString::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferhost_pairing_payload));
    });
}

bool TransferHost::pauseTransfer(const QString &transferId)
{
    return expectNoError([&] {
        return FfiConverterBool::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferhost_pause_transfer, transferId));
    });
}

std::optional<TransferEvent> TransferHost::pollEvent()
{
    return expectNoError([&] {
        return FfiConverterOptionTypeTransferEvent::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferhost_poll_event));
    });
}

std::optional<ManagementResponse> TransferHost::pollManagementResponse()
{
    return expectNoError([&] {
        return FfiConverterOptionTypeManagementResponse::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferhost_poll_management_response));
    });
}

QString TransferHost::requestManagement(const QString &action, const QString &payload)
{
    return FfiConverterString::lift(call(liftAndThrowTavrineCoreError,
                                         &Functions::uniffi_tavrine_core_fn_method_transferhost_request_management,
                                         action, payload));
}

QString TransferHost::sendFile(const QString &localPath, const QString &fileName)
{
    return FfiConverterString::lift(call(liftAndThrowTavrineCoreError,
                                         &Functions::uniffi_tavrine_core_fn_method_transferhost_send_file, localPath,
                                         fileName));
}

void TransferHost::sendFileWithId(const QString &localPath, const QString &fileName, const QString &transferId)
{
    call(liftAndThrowTavrineCoreError, &Functions::uniffi_tavrine_core_fn_method_transferhost_send_file_with_id,
         localPath, fileName, transferId);
}

std::optional<QString> TransferHost::trustedPeerSecret()
{
    return expectNoError([&] {
        return FfiConverterOptionString::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferhost_trusted_peer_secret));
    });
}
