#pragma once

#include "CoreTypes.h"

#include <memory>
#include <optional>
#include <string>

namespace tavrine::core {

// The phone side of the link. It connects to the host named by a pairing URL (first pairing) or by the
// connection material of an earlier pairing (reconnection), pins the host's public key, and reconnects
// by itself with backoff when the link drops. Every call returns at once.
class Client
{
public:
    // `pairingPayload` non-empty: pair anew (throws CoreError::InvalidPairingPayload when it does not
    // parse). Otherwise `connectionMaterial` from trustedConnectionMaterial() (throws
    // InvalidPairingPayload when it is not valid material). The first events are the completions of files an earlier
    // run received into `inboxDirectory` that still wait there unacknowledged.
    static std::shared_ptr<Client> connect(const std::string &pairingPayload, const std::string &connectionMaterial,
                                           const std::string &deviceName, const std::string &inboxDirectory);
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool acknowledgeReceivedTransfer(const std::string &transferId);
    bool cancelTransfer(const std::string &transferId);
    // Confirms a pairing that awaits confirmation; throws NotConnected when none does.
    void confirmPairing();
    // Closes the link and stops reconnecting.
    void disconnect();
    bool isConnected() const;
    bool pauseTransfer(const std::string &transferId);
    std::optional<Event> pollEvent();
    std::optional<ManagementRequest> pollManagementRequest();
    // False when the link is down or the request is unknown.
    bool respondManagement(const std::string &requestId, bool success, const std::string &payload,
                           const std::string &message);
    // The descriptor is duplicated: the caller keeps and closes its own.
    std::string sendFileDescriptor(int fileDescriptor, const std::string &fileName, uint64_t fileSize);
    void sendFileDescriptorWithId(int fileDescriptor, const std::string &fileName, uint64_t fileSize,
                                  const std::string &transferId);
    std::optional<std::string> trustedConnectionMaterial() const;

private:
    struct Private;
    explicit Client(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace tavrine::core
