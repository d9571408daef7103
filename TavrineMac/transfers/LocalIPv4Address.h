#pragma once

#include <QList>
#include <QString>

#include <optional>

struct ifaddrs;

// One IPv4 address of one network interface.
struct InterfaceAddressCandidate
{
    QString name;    // as the system names the interface, e.g. "en0"
    QString address; // dotted-quad text

    bool operator==(const InterfaceAddressCandidate &) const = default;
};

// This computer's address on the local network: the best of its interface addresses, or nothing when it
// has none (or the interfaces cannot be listed). Safe on any thread.
std::optional<QString> preferredLocalIPv4Address();

// The IPv4 addresses of the interfaces that are up, in the system's order; nothing when listing fails.
QList<InterfaceAddressCandidate> interfaceAddressCandidates();
// The candidates of an interface-address list as getifaddrs() gives it.
QList<InterfaceAddressCandidate> interfaceAddressCandidates(const ifaddrs *interfaces);

// The address of the candidate with the lowest score; the first listed among equals.
std::optional<QString> bestCandidate(const QList<InterfaceAddressCandidate> &candidates);

// Lower is better: a private address always outranks a public one, then "en0", "en1", other "en".
int interfacePreferenceScore(const QString &name, const QString &address);

// 10/8, 172.16/12 and 192.168/16.
bool isPrivateIPv4Address(const QString &address);

// Where the transfer store gets the address it advertises; tests answer with the loopback address.
class LocalAddressProvider
{
public:
    virtual ~LocalAddressProvider() = default;
    virtual std::optional<QString> localIPv4Address() const = 0;
};

class SystemLocalAddressProvider final : public LocalAddressProvider
{
public:
    std::optional<QString> localIPv4Address() const override;
};

class FixedLocalAddressProvider final : public LocalAddressProvider
{
public:
    explicit FixedLocalAddressProvider(std::optional<QString> address) : m_address(std::move(address)) {}

    std::optional<QString> localIPv4Address() const override { return m_address; }

private:
    std::optional<QString> m_address;
};
