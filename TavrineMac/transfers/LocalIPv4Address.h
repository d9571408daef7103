#pragma once

#include <QList>
#include <QString>

#include <optional>

struct ifaddrs;

// What the kernel says of a network interface, in the order its addresses are preferred for the local network.
enum class InterfaceKind
{
    defaultRoute,  // the physical interface that carries the default route
    wireless,      // another wireless interface
    physical,      // another interface with a device behind it
    virtualDevice, // bridges, veth pairs, container and virtual-machine networks
    tunnel,        // tun, WireGuard, point-to-point links: never the local network
};

// Reads what the kernel tells of network interfaces: their entries in sysfs and the IPv4 routing table. Tests
// point it at a fake tree.
class NetworkInterfaceInspector
{
public:
    explicit NetworkInterfaceInspector(QString interfaceFolder = QStringLiteral("/sys/class/net"),
                                       const QString &routeTable = QStringLiteral("/proc/net/route"));

    // `flags` are the interface flags of the address listing.
    InterfaceKind kind(const QString &name, unsigned flags) const;
    QString defaultRouteInterface() const { return m_defaultRouteInterface; }

private:
    bool has(const QString &name, const QString &entry) const;
    QString text(const QString &name, const QString &entry) const;

    QString m_interfaceFolder;
    QString m_defaultRouteInterface;
};

// One IPv4 address of one network interface.
struct InterfaceAddressCandidate
{
    QString name;    // as the system names the interface, e.g. "wlp2s0"
    QString address; // dotted-quad text
    InterfaceKind kind = InterfaceKind::virtualDevice;

    bool operator==(const InterfaceAddressCandidate &) const = default;
};

// This computer's address on the local network: the best of its interface addresses, or nothing when it
// has none (or the interfaces cannot be listed). Safe on any thread.
std::optional<QString> preferredLocalIPv4Address();

// The IPv4 addresses of the interfaces that are up and not tunnels, in the system's order; nothing when listing
// fails.
QList<InterfaceAddressCandidate> interfaceAddressCandidates();
// The candidates of an interface-address list as getifaddrs() gives it.
QList<InterfaceAddressCandidate> interfaceAddressCandidates(const ifaddrs *interfaces,
                                                            const NetworkInterfaceInspector &inspector);

// The address of the candidate with the lowest score; the first listed among equals.
std::optional<QString> bestCandidate(const QList<InterfaceAddressCandidate> &candidates);

// Lower is better: a private address always outranks a public one, then the interface's kind decides.
int interfacePreferenceScore(const InterfaceAddressCandidate &candidate);

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
