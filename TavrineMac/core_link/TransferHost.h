#pragma once

#include "ManagementMessages.h"
#include "TavrineCoreError.h"
#include "TransferEvent.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// The host side of the link: listens for the phone, offers pairing, moves files and carries management
// requests. Operations that may fail throw TavrineCoreError or UniffiInternalError; the others stop the
// process when the library breaks its contract.
class TransferHostProtocol
{
public:
    virtual ~TransferHostProtocol() = default;

    virtual uint64_t cloneHandle() const = 0;
    virtual bool acknowledgeReceivedTransfer(const QString &transferId) = 0;
    virtual bool cancelTransfer(const QString &transferId) = 0;
    virtual QString confirmationCode() = 0;
    virtual QString identityMaterial() = 0;
    virtual bool isConnected() = 0;
    virtual QString pairingPayload() = 0;
    virtual bool pauseTransfer(const QString &transferId) = 0;
    virtual std::optional<TransferEvent> pollEvent() = 0;
    virtual std::optional<ManagementResponse> pollManagementResponse() = 0;
    virtual QString requestManagement(const QString &action, const QString &payload) = 0;
    virtual QString sendFile(const QString &localPath, const QString &fileName) = 0;
    virtual void sendFileWithId(const QString &localPath, const QString &fileName, const QString &transferId) = 0;
    virtual std::optional<QString> trustedPeerSecret() = 0;
};

// Owns one handle of a core host object and frees it once, when the object goes away.
class TransferHost final : public TransferHostProtocol
{
public:
    struct NoHandle
    {
    };

    explicit TransferHost(uint64_t handle) noexcept : m_handle(handle) {}
    explicit TransferHost(NoHandle) noexcept {}
    ~TransferHost() override;
    TransferHost(const TransferHost &) = delete;
    TransferHost &operator=(const TransferHost &) = delete;

    static std::unique_ptr<TransferHost> start(const QString &advertisedHost, const QString &inboxDirectory,
                                               const QString &deviceName, const QString &identityMaterial,
                                               const QString &trustedPeerSecret);

    uint64_t handle() const { return m_handle; }

    uint64_t cloneHandle() const override;
    bool acknowledgeReceivedTransfer(const QString &transferId) override;
    bool cancelTransfer(const QString &transferId) override;
    QString confirmationCode() override;
    QString identityMaterial() override;
    bool isConnected() override;
    QString pairingPayload() override;
    bool pauseTransfer(const QString &transferId) override;
    std::optional<TransferEvent> pollEvent() override;
    std::optional<ManagementResponse> pollManagementResponse() override;
    QString requestManagement(const QString &action, const QString &payload) override;
    QString sendFile(const QString &localPath, const QString &fileName) override;
    void sendFileWithId(const QString &localPath, const QString &fileName, const QString &transferId) override;
    std::optional<QString> trustedPeerSecret() override;

private:
    template <typename Function, typename... Arguments>
    auto call(uniffi::ErrorLift liftError, Function function, const Arguments &...arguments) const;

    const uint64_t m_handle = 0;
};

struct FfiConverterTypeTransferHost
{
    static std::unique_ptr<TransferHost> lift(uint64_t handle) { return std::make_unique<TransferHost>(handle); }
    static uint64_t lower(const TransferHost &host) { return host.cloneHandle(); }
};
