#pragma once

#include "ManagementMessages.h"
#include "TavrineCoreError.h"
#include "TransferEvent.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// The phone side of the link, as the companion plays it. Same error rules as TransferHostProtocol.
class TransferClientProtocol
{
public:
    virtual ~TransferClientProtocol() = default;

    virtual uint64_t cloneHandle() const = 0;
    virtual bool acknowledgeReceivedTransfer(const QString &transferId) = 0;
    virtual bool cancelTransfer(const QString &transferId) = 0;
    virtual void confirmPairing() = 0;
    virtual void disconnect() = 0;
    virtual bool isConnected() = 0;
    virtual bool pauseTransfer(const QString &transferId) = 0;
    virtual std::optional<TransferEvent> pollEvent() = 0;
    virtual std::optional<ManagementRequest> pollManagementRequest() = 0;
    virtual bool respondManagement(const QString &requestId, bool success, const QString &payload,
                                   const QString &message) = 0;
    virtual QString sendFileDescriptor(int32_t fileDescriptor, const QString &fileName, uint64_t fileSize) = 0;
    virtual void sendFileDescriptorWithId(int32_t fileDescriptor, const QString &fileName, uint64_t fileSize,
                                          const QString &transferId) = 0;
    virtual std::optional<QString> trustedConnectionMaterial() = 0;
};

// Owns one handle of a core client object and frees it once, when the object goes away.
class TransferClient final : public TransferClientProtocol
{
public:
    struct NoHandle
    {
    };

    explicit TransferClient(uint64_t handle) noexcept : m_handle(handle) {}
    explicit TransferClient(NoHandle) noexcept {}
    ~TransferClient() override;
    TransferClient(const TransferClient &) = delete;
    TransferClient &operator=(const TransferClient &) = delete;

    // `pairingPayload` is the host's pairing URL for a first pairing and empty when reconnecting with
    // `connectionMaterial` from an earlier pairing.
    static std::unique_ptr<TransferClient> connect(const QString &pairingPayload, const QString &connectionMaterial,
                                                   const QString &deviceName, const QString &inboxDirectory);

    uint64_t handle() const { return m_handle; }

    uint64_t cloneHandle() const override;
    bool acknowledgeReceivedTransfer(const QString &transferId) override;
    bool cancelTransfer(const QString &transferId) override;
    void confirmPairing() override;
    void disconnect() override;
    bool isConnected() override;
    bool pauseTransfer(const QString &transferId) override;
    std::optional<TransferEvent> pollEvent() override;
    std::optional<ManagementRequest> pollManagementRequest() override;
    bool respondManagement(const QString &requestId, bool success, const QString &payload,
                           const QString &message) override;
    QString sendFileDescriptor(int32_t fileDescriptor, const QString &fileName, uint64_t fileSize) override;
    void sendFileDescriptorWithId(int32_t fileDescriptor, const QString &fileName, uint64_t fileSize,
                                  const QString &transferId) override;
    std::optional<QString> trustedConnectionMaterial() override;

private:
    template <typename Function, typename... Arguments>
    auto call(uniffi::ErrorLift liftError, Function function, const Arguments &...arguments) const;

    const uint64_t m_handle = 0;
};

struct FfiConverterTypeTransferClient
{
    static std::unique_ptr<TransferClient> lift(uint64_t handle) { return std::make_unique<TransferClient>(handle); }
    static uint64_t lower(const TransferClient &client) { return client.cloneHandle(); }
};
