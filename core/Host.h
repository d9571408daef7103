#pragma once

#include "CoreTypes.h"

#include <memory>
#include <optional>
#include <string>

namespace tavrine::core {

class Session;

// The host side of the link. It listens with TLS 1.3 on the address it is given, offers a pairing URL,
// accepts one phone (the paired one, or a new one that proves the pairing token), and moves files and
// management messages over the link. Every call returns at once: network and disk work run on the
// library's own threads; events and answers are queued for polling.
class Host
{
public:
    // Throws CoreError::ServiceStart when it cannot listen or read the identity material. An inbox folder that cannot
    // be used does not keep the host from starting: sending works, and each file offered meanwhile fails with the
    // reason until the folder can be used again.
    static std::shared_ptr<Host> start(const std::string &advertisedHost, const std::string &inboxDirectory,
                                       const std::string &deviceName, const std::string &identityMaterial,
                                       const std::string &trustedPeerSecret);
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // Removes the inbox copy of a received file. True when the transfer is known (also again), false for
    // an unknown id; throws CoreError::TransferCleanup when the copy cannot be removed.
    bool acknowledgeReceivedTransfer(const std::string &transferId);
    bool cancelTransfer(const std::string &transferId);
    std::string confirmationCode() const;
    std::string identityMaterial() const;
    bool isConnected() const;
    std::string pairingPayload() const;
    bool pauseTransfer(const std::string &transferId);
    std::optional<Event> pollEvent();
    std::optional<ManagementResponse> pollManagementResponse();
    // Throws CoreError::NotConnected without a paired phone, InvalidManagementRequest for an empty action.
    std::string requestManagement(const std::string &action, const std::string &payload);
    // Throws FileAccess for a file that cannot be read, NotConnected without a paired phone.
    std::string sendFile(const std::string &localPath, const std::string &fileName);
    void sendFileWithId(const std::string &localPath, const std::string &fileName, const std::string &transferId);
    std::optional<std::string> trustedPeerSecret() const;

private:
    struct Private;
    explicit Host(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace tavrine::core
