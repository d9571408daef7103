#include "Host.h"

namespace tavrine::core {

struct Host::Private
{
};

Host::Host(std::unique_ptr<Private> d) : d(std::move(d)) {}
Host::~Host() = default;

std::shared_ptr<Host> Host::start(const std::string &, const std::string &, const std::string &, const std::string &,
                                  const std::string &)
{
    throw CoreError(CoreError::Kind::ServiceStart, "not available yet");
}

bool Host::acknowledgeReceivedTransfer(const std::string &) { return false; }
bool Host::cancelTransfer(const std::string &) { return false; }
std::string Host::confirmationCode() const { return {}; }
std::string Host::identityMaterial() const { return {}; }
bool Host::isConnected() const { return false; }
std::string Host::pairingPayload() const { return {}; }
bool Host::pauseTransfer(const std::string &) { return false; }
std::optional<Event> Host::pollEvent() { return std::nullopt; }
std::optional<ManagementResponse> Host::pollManagementResponse() { return std::nullopt; }
std::string Host::requestManagement(const std::string &, const std::string &)
{
    throw CoreError(CoreError::Kind::NotConnected);
}
std::string Host::sendFile(const std::string &, const std::string &) { throw CoreError(CoreError::Kind::NotConnected); }
void Host::sendFileWithId(const std::string &, const std::string &, const std::string &)
{
    throw CoreError(CoreError::Kind::NotConnected);
}
std::optional<std::string> Host::trustedPeerSecret() const { return std::nullopt; }

} // namespace tavrine::core
