#include "LocalIPv4Address.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

// An interface-address list laid out as getifaddrs() gives it, from lines "name flags address": flags is "up",
// "down", "up,loopback" or "up,ptp" (the running flag is never set: only the up flag counts), address is dotted
// IPv4, "v6" or "none". The first entry's ifaddrs starts the list.
std::vector<FakeInterface> fakeInterfaces(const QStringList &lines)
{
    std::vector<FakeInterface> interfaces(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringList parts = lines[i].split(u' ');
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
        interface.entry.ifa_next = i + 1 < lines.size() ? &interfaces[i + 1].entry : nullptr;
    }
    return interfaces;
}

// The sysfs entries and routing table of a laptop with Wi-Fi, a dock's Ethernet, containers, virtual machines and
// a VPN, as the kernel shows them.
struct FakeKernel
{
    QTemporaryDir root;

    void addInterface(const QString &name, const QStringList &entries, const QByteArray &type = "1",
                      const QByteArray &uevent = {})
    {
        const QString folder = root.filePath(u"net/"_s + name);
        QDir().mkpath(folder);
        for (const QString &entry : entries)
            QDir().mkpath(folder + u'/' + entry);
        write(folder + u"/type"_s, type + '\n');
        write(folder + u"/uevent"_s, "INTERFACE=" + name.toUtf8() + '\n' + uevent);
    }
    // Lines "interface metric" for default routes, others verbatim.
    void setRoutes(const QStringList &routes)
    {
        QByteArray table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
        for (const QString &route : routes) {
            const QStringList parts = route.split(u' ');
            table += parts.size() == 2 ? parts[0].toUtf8() + "\t00000000\t0101A8C0\t0003\t0\t0\t" +
                                             parts[1].toUtf8() + "\t00000000\t0\t0\t0\n"
                                       : route.toUtf8() + '\n';
        }
        write(root.filePath(u"route"_s), table);
    }
    NetworkInterfaceInspector inspector() const
    {
        return NetworkInterfaceInspector(root.filePath(u"net"_s), root.filePath(u"route"_s));
    }

    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
};

void addLaptop(FakeKernel &kernel)
{
    kernel.addInterface(u"lo"_s, {}, "772");
    kernel.addInterface(u"wlp2s0"_s, {u"device"_s, u"wireless"_s, u"phy80211"_s});
    kernel.addInterface(u"wlan1"_s, {u"device"_s, u"phy80211"_s});
    kernel.addInterface(u"enx00e04c680001"_s, {u"device"_s});
    kernel.addInterface(u"enp0s31f6"_s, {u"device"_s});
    kernel.addInterface(u"docker0"_s, {u"bridge"_s});
    kernel.addInterface(u"virbr0"_s, {u"bridge"_s});
    kernel.addInterface(u"veth1a2b"_s, {});
    kernel.addInterface(u"wg0"_s, {}, "65534", "DEVTYPE=wireguard\n");
    kernel.addInterface(u"tun0"_s, {u"tun_flags"_s}, "65534");
    kernel.addInterface(u"ppp0"_s, {}, "512");
}

} // namespace

class LocalIPv4AddressTest : public QObject
{
    Q_OBJECT

private slots:
    // Only IPv4 addresses of interfaces that are up, not loopback and not tunnels count; among them a private
    // address wins, then the physical interface of the default route, other wireless interfaces, other physical
    // ones, virtual ones, and the first listed among equals.
    void choosesTheAddressToAdvertise_data()
    {
        QTest::addColumn<QStringList>("routes");
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QString>("best"); // empty: nothing

        const QStringList home{u"wlp2s0 600"_s};
        const QStringList docked{u"wlp2s0 600"_s, u"enx00e04c680001 100"_s};
        QTest::newRow("no interfaces") << home << QStringList() << QString();
        QTest::newRow("loopback and tunnels only")
            << home
            << QStringList{u"lo up,loopback 127.0.0.1"_s, u"wg0 up 10.6.0.2"_s, u"tun0 up 10.8.0.2"_s,
                           u"ppp0 up,ptp 10.64.0.1"_s, u"utun0 up 10.9.0.2"_s}
            << QString();
        QTest::newRow("at home: Wi-Fi before containers, virtual machines and the VPN")
            << home
            << QStringList{u"docker0 up 172.17.0.1"_s, u"virbr0 up 192.168.122.1"_s, u"wg0 up 10.6.0.2"_s,
                           u"wlp2s0 up 192.168.1.20"_s}
            << u"192.168.1.20"_s;
        QTest::newRow("docked: the dock's Ethernet carries the default route")
            << docked << QStringList{u"wlp2s0 up 192.168.1.20"_s, u"enx00e04c680001 up 10.0.0.5"_s}
            << u"10.0.0.5"_s;
        QTest::newRow("default route through the VPN: Wi-Fi")
            << QStringList{u"wg0 0"_s}
            << QStringList{u"enp0s31f6 up 10.0.0.5"_s, u"wg0 up 10.6.0.2"_s, u"wlp2s0 up 192.168.1.20"_s}
            << u"192.168.1.20"_s;
        QTest::newRow("default route on a bridge: wireless, then wired")
            << QStringList{u"virbr0 0"_s}
            << QStringList{u"virbr0 up 192.168.122.1"_s, u"enp0s31f6 up 10.0.0.5"_s, u"wlan1 up 10.1.0.5"_s}
            << u"10.1.0.5"_s;
        QTest::newRow("wired before virtual without a default route")
            << QStringList() << QStringList{u"veth1a2b up 10.0.3.1"_s, u"enp0s31f6 up 10.0.0.5"_s}
            << u"10.0.0.5"_s;
        QTest::newRow("virtual ones keep the listing order")
            << QStringList() << QStringList{u"virbr0 up 192.168.122.1"_s, u"docker0 up 172.17.0.1"_s}
            << u"192.168.122.1"_s;
        QTest::newRow("a private address on a bridge before a public one on Wi-Fi")
            << home << QStringList{u"wlp2s0 up 17.1.2.3"_s, u"docker0 up 172.17.0.1"_s} << u"172.17.0.1"_s;
        QTest::newRow("link-local on the default route loses to private Wi-Fi")
            << docked << QStringList{u"enx00e04c680001 up 169.254.7.7"_s, u"wlp2s0 up 172.20.0.3"_s}
            << u"172.20.0.3"_s;
        QTest::newRow("down interfaces, other families, entries without address")
            << home
            << QStringList{u"wlp2s0 down 192.168.1.2"_s, u"enp0s31f6 up v6"_s, u"enp0s31f6 up none"_s,
                           u"docker0 up 172.17.0.1"_s}
            << u"172.17.0.1"_s;
        QTest::newRow("unknown interface counts as virtual")
            << home << QStringList{u"eth9 up 10.0.0.9"_s, u"wlp2s0 up 10.0.0.1"_s} << u"10.0.0.1"_s;
    }

    void choosesTheAddressToAdvertise()
    {
        QFETCH(QStringList, routes);
        QFETCH(QStringList, interfaces);
        QFETCH(QString, best);
        FakeKernel kernel;
        addLaptop(kernel);
        kernel.setRoutes(routes);
        const std::vector<FakeInterface> list = fakeInterfaces(interfaces);
        const std::optional<QString> chosen = bestCandidate(
            interfaceAddressCandidates(list.empty() ? nullptr : &list.front().entry, kernel.inspector()));
        QCOMPARE(chosen.value_or(QString()), best);
        QCOMPARE(chosen.has_value(), !best.isEmpty());
    }

    void readsTheDefaultRouteOfTheRoutingTable_data()
    {
        QTest::addColumn<QStringList>("routes");
        QTest::addColumn<QString>("interface");
        QTest::newRow("lowest metric") << QStringList{u"wlp2s0 600"_s, u"enp0s31f6 100"_s} << u"enp0s31f6"_s;
        QTest::newRow("routes to networks are no default")
            << QStringList{u"docker0\t0011AC00\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0"_s, u"wlp2s0 600"_s}
            << u"wlp2s0"_s;
        QTest::newRow("a default route that is down")
            << QStringList{u"enp0s31f6\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0"_s} << QString();
        QTest::newRow("lines that do not parse") << QStringList{u"garbage"_s, u"a b c d e f g h"_s} << QString();
    }

    void readsTheDefaultRouteOfTheRoutingTable()
    {
        QFETCH(QStringList, routes);
        QFETCH(QString, interface);
        FakeKernel kernel;
        kernel.setRoutes(routes);
        QCOMPARE(kernel.inspector().defaultRouteInterface(), interface);
    }

    void recognisesPrivateAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("isPrivate");

        QTest::newRow("10/8") << u"10.255.0.1"_s << true;
        QTest::newRow("172.16") << u"172.16.0.1"_s << true;
        QTest::newRow("172.31") << u"172.31.0.9"_s << true;
        QTest::newRow("172.15") << u"172.15.0.1"_s << false;
        QTest::newRow("172.32") << u"172.32.0.1"_s << false;
        QTest::newRow("192.168") << u"192.168.0.1"_s << true;
        QTest::newRow("three numbers") << u"10.0.1"_s << false;
        QTest::newRow("five numbers") << u"10.0.0.1.5"_s << false;
        QTest::newRow("empty parts are skipped") << u"10..0.0.1"_s << true;
        QTest::newRow("a part with spaces is no number") << u" 10.0.0.1"_s << false;
    }

    void recognisesPrivateAddresses()
    {
        QFETCH(QString, address);
        QFETCH(bool, isPrivate);
        QCOMPARE(isPrivateIPv4Address(address), isPrivate);
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
