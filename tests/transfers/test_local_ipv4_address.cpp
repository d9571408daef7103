#include "LocalIPv4Address.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <vector>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

using namespace Qt::StringLiterals;

namespace {

struct FakeInterface
{
    ifaddrs entry{};
    sockaddr_in address{};
    QByteArray name;
};

// A laptop with Wi-Fi, a dock's Ethernet, containers, virtual machines and a VPN: its sysfs entries as the kernel
// shows them, its routing table from lines "interface metric" for default routes (others verbatim), and its
// interface-address list as getifaddrs() gives it, from lines "name flags address": flags is "up", "down",
// "up,loopback" or "up,ptp" (the running flag is never set: only the up flag counts), address is dotted IPv4, "v6"
// or "none".
struct FakeLaptop
{
    QTemporaryDir root;
    std::vector<FakeInterface> interfaces;

    FakeLaptop(const QStringList &routes, const QStringList &addresses)
    {
        add(u"lo"_s, {}, "772");
        add(u"wlp2s0"_s, {u"device"_s, u"wireless"_s, u"phy80211"_s});
        add(u"wlan1"_s, {u"device"_s, u"phy80211"_s});
        add(u"enx00e04c680001"_s, {u"device"_s});
        add(u"enp0s31f6"_s, {u"device"_s});
        add(u"docker0"_s, {u"bridge"_s});
        add(u"virbr0"_s, {u"bridge"_s});
        add(u"veth1a2b"_s, {});
        add(u"wg0"_s, {}, "65534", "DEVTYPE=wireguard\n");
        add(u"tun0"_s, {u"tun_flags"_s}, "65534");
        add(u"ppp0"_s, {}, "512");
        QByteArray table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
        for (const QString &route : routes) {
            const QStringList parts = route.split(u' ');
            table += parts.size() == 2 ? parts[0].toUtf8() + "\t00000000\t0101A8C0\t0003\t0\t0\t" + parts[1].toUtf8() +
                                             "\t00000000\t0\t0\t0\n"
                                       : route.toUtf8() + '\n';
        }
        QVERIFY(writeFile(root.filePath(u"route"_s), table));
        interfaces.resize(addresses.size());
        for (qsizetype i = 0; i < addresses.size(); ++i) {
            const QStringList parts = addresses[i].split(u' ');
            FakeInterface &interface = interfaces[i];
            interface.name = parts[0].toUtf8();
            interface.entry.ifa_name = interface.name.data();
            interface.entry.ifa_flags = (parts[1].startsWith(u"up") ? IFF_UP : 0) |
                                        (parts[1].contains(u"loopback") ? IFF_LOOPBACK : 0) |
                                        (parts[1].contains(u"ptp") ? IFF_POINTOPOINT : 0);
            if (parts[2] != u"none") {
                interface.address.sin_family = parts[2] == u"v6" ? AF_INET6 : AF_INET;
                inet_pton(AF_INET, parts[2].toLatin1().constData(), &interface.address.sin_addr);
                interface.entry.ifa_addr = reinterpret_cast<sockaddr *>(&interface.address);
            }
            interface.entry.ifa_next = i + 1 < addresses.size() ? &interfaces[i + 1].entry : nullptr;
        }
    }

    void add(const QString &name, const QStringList &entries, const QByteArray &type = "1",
             const QByteArray &uevent = {}) const
    {
        const QString folder = root.filePath(u"net/"_s + name);
        for (const QString &entry : entries)
            QDir().mkpath(folder + u'/' + entry);
        QVERIFY(writeFile(folder + u"/type"_s, type + '\n'));
        QVERIFY(writeFile(folder + u"/uevent"_s, "INTERFACE=" + name.toUtf8() + '\n' + uevent));
    }

    std::optional<QString> best() const
    {
        const NetworkInterfaceInspector inspector(root.filePath(u"net"_s), root.filePath(u"route"_s));
        return bestCandidate(
            interfaceAddressCandidates(interfaces.empty() ? nullptr : &interfaces.front().entry, inspector));
    }
};

// The routes, the interface addresses, and the one advertised (empty: none).
using Choices = TestTable<QStringList, QStringList, QString>;

} // namespace

class LocalIPv4AddressTest : public QObject
{
    Q_OBJECT

private slots:
    // Only IPv4 addresses of interfaces that are up, not loopback and not tunnels count; among them a private
    // address wins, then the physical interface of the default route (the up one of the lowest metric), other
    // wireless interfaces, other physical ones, virtual ones, and the first listed among equals.
    void choosesTheAddressToAdvertise_data()
    {
        const Choices rows;
        const QStringList home{u"wlp2s0 600"_s}, docked{u"wlp2s0 600"_s, u"enx00e04c680001 100"_s};
        const QString wifi = u"wlp2s0 up 192.168.1.20"_s, wired = u"enp0s31f6 up 10.0.0.5"_s;
        rows("no interfaces", home, {}, {});
        rows("loopback and tunnels only", home,
             {u"lo up,loopback 127.0.0.1"_s, u"wg0 up 10.6.0.2"_s, u"tun0 up 10.8.0.2"_s, u"ppp0 up,ptp 10.64.0.1"_s,
              u"utun0 up 10.9.0.2"_s},
             {});
        rows("at home: Wi-Fi before containers, virtual machines and the VPN", home,
             {u"docker0 up 172.17.0.1"_s, u"virbr0 up 192.168.122.1"_s, u"wg0 up 10.6.0.2"_s, wifi}, u"192.168.1.20"_s);
        rows("docked: the dock's Ethernet has the lower metric", docked, {wifi, u"enx00e04c680001 up 10.0.0.5"_s},
             u"10.0.0.5"_s);
        rows("default route through the VPN: Wi-Fi", {u"wg0 0"_s}, {wired, u"wg0 up 10.6.0.2"_s, wifi},
             u"192.168.1.20"_s);
        rows("default route on a bridge: wireless, then wired", {u"virbr0 0"_s},
             {u"virbr0 up 192.168.122.1"_s, wired, u"wlan1 up 10.1.0.5"_s}, u"10.1.0.5"_s);
        rows("a route to a network is no default",
             {u"enp0s31f6\t0011AC00\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0"_s, u"wlp2s0 600"_s},
             {u"wlan1 up 10.1.0.5"_s, wired, wifi}, u"192.168.1.20"_s);
        rows("a default route that is down", {u"enp0s31f6\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0"_s},
             {wired, wifi}, u"192.168.1.20"_s);
        rows("wired before virtual, routes that do not parse", {u"garbage"_s, u"a b c d e f g h"_s},
             {u"veth1a2b up 10.0.3.1"_s, wired}, u"10.0.0.5"_s);
        rows("virtual ones keep the listing order", {}, {u"virbr0 up 192.168.122.1"_s, u"docker0 up 172.17.0.1"_s},
             u"192.168.122.1"_s);
        rows("a private address on a bridge before a public one on Wi-Fi", home,
             {u"wlp2s0 up 17.1.2.3"_s, u"docker0 up 172.17.0.1"_s}, u"172.17.0.1"_s);
        rows("link-local on the default route loses to private Wi-Fi", docked,
             {u"enx00e04c680001 up 169.254.7.7"_s, u"wlp2s0 up 172.20.0.3"_s}, u"172.20.0.3"_s);
        rows("down interfaces, other families, entries without address", home,
             {u"wlp2s0 down 192.168.1.2"_s, u"enp0s31f6 up v6"_s, u"enp0s31f6 up none"_s, u"docker0 up 172.17.0.1"_s},
             u"172.17.0.1"_s);
        rows("unknown interface counts as virtual", home, {u"eth9 up 10.0.0.9"_s, u"wlp2s0 up 10.0.0.1"_s},
             u"10.0.0.1"_s);
    }

    void choosesTheAddressToAdvertise()
    {
        const auto [routes, addresses, best] = Choices::fetch();
        const FakeLaptop laptop(routes, addresses);
        QCOMPARE(laptop.best(), best.isEmpty() ? std::nullopt : std::optional(best));
    }

    // 10/8, 172.16/12 and 192.168/16, in four numbers; empty parts are skipped, a part with spaces is no number.
    void recognisesPrivateAddresses()
    {
        QStringList found;
        for (const QString &address :
             {u"10.255.0.1"_s, u"172.16.0.1"_s, u"172.31.0.9"_s, u"172.15.0.1"_s, u"172.32.0.1"_s, u"192.168.0.1"_s,
              u"10.0.1"_s, u"10.0.0.1.5"_s, u"10..0.0.1"_s, u" 10.0.0.1"_s}) {
            if (isPrivateIPv4Address(address))
                found.append(address);
        }
        QCOMPARE(found,
                 (QStringList{u"10.255.0.1"_s, u"172.16.0.1"_s, u"172.31.0.9"_s, u"192.168.0.1"_s, u"10..0.0.1"_s}));
    }

    void realListingHasNoLoopbackAddress()
    {
        for (const InterfaceAddressCandidate &candidate : interfaceAddressCandidates())
            QVERIFY2(!candidate.address.startsWith(u"127."), qPrintable(candidate.name + u' ' + candidate.address));
        QVERIFY(!preferredLocalIPv4Address().value_or(QString()).startsWith(u"127."));
    }
};

QTEST_APPLESS_MAIN(LocalIPv4AddressTest)
#include "test_local_ipv4_address.moc"
