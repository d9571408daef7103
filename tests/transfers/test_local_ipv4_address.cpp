#include "LocalIPv4Address.h"

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

// An interface-address list laid out as getifaddrs() gives it, from lines "name flags address": flags is
// "up", "down" or "up,loopback" (the running flag is never set: only the up flag counts), address is dotted
// IPv4, "v6" or "none". The first entry's ifaddrs starts the list.
std::vector<FakeInterface> fakeInterfaces(const QStringList &lines)
{
    std::vector<FakeInterface> interfaces(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringList parts = lines[i].split(u' ');
        FakeInterface &interface = interfaces[i];
        interface.name = parts[0].toUtf8();
        interface.entry.ifa_name = interface.name.data();
        interface.entry.ifa_flags =
            (parts[1].startsWith(u"up") ? IFF_UP : 0) | (parts[1].contains(u"loopback") ? IFF_LOOPBACK : 0);
        if (parts[2] != u"none") {
            interface.address.sin_family = parts[2] == u"v6" ? AF_INET6 : AF_INET;
            inet_pton(AF_INET, parts[2].toLatin1().constData(), &interface.address.sin_addr);
            interface.entry.ifa_addr = reinterpret_cast<sockaddr *>(&interface.address);
        }
        interface.entry.ifa_next = i + 1 < lines.size() ? &interfaces[i + 1].entry : nullptr;
    }
    return interfaces;
}

} // namespace

class LocalIPv4AddressTest : public QObject
{
    Q_OBJECT

private slots:
    // Only IPv4 addresses of interfaces that are up, not loopback and not virtual links count; among them a
    // private address wins, then "en0", "en1", other "en" names, then the first listed.
    void choosesTheAddressToAdvertise_data()
    {
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QString>("best"); // empty: nothing

        QTest::newRow("no interfaces") << QStringList() << QString();
        QTest::newRow("loopback and tunnel only")
            << QStringList{u"lo0 up,loopback 127.0.0.1"_s, u"utun0 up 10.8.0.2"_s} << QString();
        QTest::newRow("down interface") << QStringList{u"en0 down 192.168.1.2"_s, u"en1 up 10.0.0.5"_s}
                                        << u"10.0.0.5"_s;
        QTest::newRow("peer-to-peer links; prefixes are case-sensitive")
            << QStringList{u"awdl0 up 192.168.3.1"_s, u"llw0 up 10.1.1.1"_s, u"Utun1 up 10.2.2.2"_s} << u"10.2.2.2"_s;
        QTest::newRow("other families and entries without address")
            << QStringList{u"en0 up v6"_s, u"en0 up none"_s, u"en0 up 192.168.1.20"_s} << u"192.168.1.20"_s;
        QTest::newRow("en0 before en1") << QStringList{u"en1 up 10.0.0.5"_s, u"en0 up 192.168.1.20"_s}
                                        << u"192.168.1.20"_s;
        QTest::newRow("private bridge before public en0")
            << QStringList{u"en0 up 17.1.2.3"_s, u"bridge100 up 192.168.2.1"_s} << u"192.168.2.1"_s;
        QTest::newRow("en1 before other en")
            << QStringList{u"en5 up 10.0.0.5"_s, u"en1 up 10.0.0.1"_s} << u"10.0.0.1"_s;
        QTest::newRow("other en before other names")
            << QStringList{u"wlan0 up 10.0.0.9"_s, u"en5 up 10.0.0.5"_s} << u"10.0.0.5"_s;
        QTest::newRow("other en before link-local en0")
            << QStringList{u"en0 up 169.254.7.7"_s, u"en5 up 172.20.0.3"_s} << u"172.20.0.3"_s;
        QTest::newRow("equal scores keep listing order")
            << QStringList{u"en7 up 10.0.0.7"_s, u"en3 up 10.0.0.3"_s, u"enp3s0 up 10.0.0.4"_s} << u"10.0.0.7"_s;
    }

    void choosesTheAddressToAdvertise()
    {
        QFETCH(QStringList, interfaces);
        QFETCH(QString, best);
        const std::vector<FakeInterface> list = fakeInterfaces(interfaces);
        const std::optional<QString> chosen =
            bestCandidate(interfaceAddressCandidates(list.empty() ? nullptr : &list.front().entry));
        QCOMPARE(chosen.value_or(QString()), best);
        QCOMPARE(chosen.has_value(), !best.isEmpty());
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
