#include "Client.h"

namespace tavrine::core {

struct Client::Private
{
};

Client::Client(std::unique_ptr<Private> d) : d(std::move(d)) {}
Client::~Client() = default;

std::shared_ptr<Client> Client::connect(const std::string &, const std::string &, const std::string &,
                                        const std::string &)
{
    throw CoreError(CoreError::Kind::InvalidPairingPayload);
}

bool Client::acknowledgeReceivedTransfer(const std::string &) { return false; }
bool Client::cancelTransfer(const std::string &) { return false; }
void Client::confirmPairing() { throw CoreError(CoreError::Kind::NotConnected); }
void Client::disconnect() {}
bool Client::isConnected() const { return false; }
bool Client::pauseTransfer(const std::string &) { return false; }
std::optional<Event> Client::pollEvent() { return std::nullopt; }
std::optional<ManagementRequest> Client::pollManagementRequest() { return std::nullopt; }
bool Client::respondManagement(const std::string &, bool, const std::string &, const std::string &) { return false; }
std::string Client::sendFileDescriptor(int, const std::string &, uint64_t) { throw CoreError(CoreError::Kind::NotConnected); }
void Client::sendFileDescriptorWithId(int, const std::string &, uint64_t, const std::string &)
{
    throw CoreError(CoreError::Kind::NotConnected);
}
std::optional<std::string> Client::trustedConnectionMaterial() const { return std::nullopt; }

} // namespace tavrine::core
