#include "TransferClient.h"

using Functions = TavrineCoreFunctions;
using uniffi::expectNoError;
using uniffi::FfiConverterBool;
using uniffi::FfiConverterString;

TransferClient::~TransferClient()
{
    if (m_handle != 0) {
        uniffi::freeObjectHandle(&Functions::uniffi_tavrine_core_fn_free_transferclient, m_handle);
    }
}

template <typename Function, typename... Arguments>
auto TransferClient::call(uniffi::ErrorLift liftError, Function function, const Arguments &...arguments) const
{
    return uniffi::callMethod(liftError, &Functions::uniffi_tavrine_core_fn_clone_transferclient, function, m_handle,
                              arguments...);
}

std::unique_ptr<TransferClient> TransferClient::connect(const QString &pairingPayload,
                                                        const QString &connectionMaterial, const QString &deviceName,
                                                        const QString &inboxDirectory)
{
    const uint64_t handle = uniffi::callConstructor(
        liftAndThrowTavrineCoreError, &Functions::uniffi_tavrine_core_fn_constructor_transferclient_connect,
        pairingPayload, connectionMaterial, deviceName, inboxDirectory);
    return FfiConverterTypeTransferClient::lift(handle);
}

uint64_t TransferClient::cloneHandle() const
{
    return uniffi::cloneObjectHandle(&Functions::uniffi_tavrine_core_fn_clone_transferclient, m_handle);
}

bool TransferClient::acknowledgeReceivedTransfer(const QString &transferId)
{
    return FfiConverterBool::lift(
        call(liftAndThrowTavrineCoreError,
             &Functions::uniffi_tavrine_core_fn_method_transferclient_acknowledge_received_transfer, transferId));
}

bool TransferClient::cancelTransfer(const QString &transferId)
{
    return expectNoError([&] {
        return FfiConverterBool::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferclient_cancel_transfer, transferId));
    });
}

void TransferClient::confirmPairing()
{
    call(liftAndThrowTavrineCoreError, &Functions::uniffi_tavrine_core_fn_method_transferclient_confirm_pairing);
}

void TransferClient::disconnect()
{
    expectNoError([&] { call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferclient_disconnect); });
}

bool TransferClient::isConnected()
{
    return expectNoError([&] {
        return FfiConverterBool::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferclient_is_connected));
    });
}

bool TransferClient::pauseTransfer(const QString &transferId)
{
    return expectNoError([&] {
        return FfiConverterBool::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferclient_pause_transfer, transferId));
    });
}

std::optional<TransferEvent> TransferClient::pollEvent()
{
    return expectNoError([&] {
        return FfiConverterOptionTypeTransferEvent::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferclient_poll_event));
    });
}

std::optional<ManagementRequest> TransferClient::pollManagementRequest()
{
    return expectNoError([&] {
        return FfiConverterOptionTypeManagementRequest::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferclient_poll_management_request));
    });
}

bool TransferClient::respondManagement(const QString &requestId, bool success, const QString &payload,
                                       const QString &message)
{
    return expectNoError([&] {
        return FfiConverterBool::lift(call(nullptr,
                                           &Functions::uniffi_tavrine_core_fn_method_transferclient_respond_management,
                                           requestId, success, payload, message));
    });
}

QString TransferClient::sendFileDescriptor(int32_t fileDescriptor, const QString &fileName, uint64_t fileSize)
{
    return FfiConverterString::lift(call(liftAndThrowTavrineCoreError,
                                         &Functions::uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor,
                                         fileDescriptor, fileName, fileSize));
}

void TransferClient::sendFileDescriptorWithId(int32_t fileDescriptor, const QString &fileName, uint64_t fileSize,
                                              const QString &transferId)
{
    call(liftAndThrowTavrineCoreError,
         &Functions::uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor_with_id, fileDescriptor,
         fileName, fileSize, transferId);
}

std::optional<QString> TransferClient::trustedConnectionMaterial()
{
    return expectNoError([&] {
        return FfiConverterOptionString::lift(
            call(nullptr, &Functions::uniffi_tavrine_core_fn_method_transferclient_trusted_connection_material));
    });
}
