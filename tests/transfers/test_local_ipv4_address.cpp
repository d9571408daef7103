#include "LocalIPv4Address.h"

#include <QTest>

#include <vector>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

using namespace Qt::StringLiterals;

namespace {

// Entries written as "name address", e.g. "en0 192.168.1.20".
QList<InterfaceAddressCandidate> candidatesFrom(const QStringList &entries)
{
    QList<InterfaceAddressCandidate> candidates;
    for (const QString &entry : entries)
        candidates.append({entry.section(u' ', 0, 0), entry.section(u' ', 1, 1)});
    return candidates;
}

QStringList entriesOf(const QList<InterfaceAddressCandidate> &candidates)
{
    QStringList entries;
    for (const InterfaceAddressCandidate &candidate : candidates)
        entries.append(candidate.name + u' ' + candidate.address);
    return entries;
}

// An interface-address list laid out as getifaddrs() gives it. Entries are "name flags address", where
// flags is "up", "down" or "up,loopback" and address is dotted IPv4, "v6" or "none". The running flag is
// never set: only the up flag counts.
class FakeInterfaceList
{
public:
    explicit FakeInterfaceList(const QStringList &entries)
        : m_entries(entries.size()), m_addresses(entries.size()), m_names(entries.size())
    {
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const QStringList parts = entries[i].split(u' ');
            ifaddrs &entry = m_entries[i];
            m_names[i] = parts[0].toUtf8();
            entry.ifa_name = m_names[i].data();
            entry.ifa_flags =
                (parts[1].startsWith(u"up") ? IFF_UP : 0) | (parts[1].contains(u"loopback") ? IFF_LOOPBACK : 0);
            if (parts[2] != u"none") {
                auto *address = reinterpret_cast<sockaddr_in *>(&m_addresses[i]);
                address->sin_family = parts[2] == u"v6" ? AF_INET6 : AF_INET;
                inet_pton(AF_INET, parts[2].toLatin1().constData(), &address->sin_addr);
                entry.ifa_addr = reinterpret_cast<sockaddr *>(address);
            }
            entry.ifa_next = i + 1 < entries.size() ? &m_entries[i + 1] : nullptr;
        }
    }

    const ifaddrs *first() const { return m_entries.empty() ? nullptr : m_entries.data(); }

private:
    std::vector<ifaddrs> m_entries;
    std::vector<sockaddr_storage> m_addresses;
    std::vector<QByteArray> m_names;
};

} // namespace

class LocalIPv4AddressTest : public QObject
{
    Q_OBJECT

private slots:
    void listsUpNonLoopbackIPv4Addresses_data()
    {
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QStringList>("candidates");

        QTest::newRow("loopback and tunnel only")
            << QStringList{u"lo0 up,loopback 127.0.0.1"_s, u"utun0 up 10.8.0.2"_s} << QStringList();
        QTest::newRow("down interface") << QStringList{u"en0 down 192.168.1.2"_s, u"en1 up 10.0.0.5"_s}
                                        << QStringList{u"en1 10.0.0.5"_s};
        QTest::newRow("peer-to-peer links; prefixes are case-sensitive")
            << QStringList{u"awdl0 up 192.168.3.1"_s, u"llw0 up 10.1.1.1"_s, u"Utun1 up 10.2.2.2"_s}
            << QStringList{u"Utun1 10.2.2.2"_s};
        QTest::newRow("other families and entries without address")
            << QStringList{u"en0 up v6"_s, u"en0 up none"_s, u"en0 up 192.168.1.20"_s}
            << QStringList{u"en0 192.168.1.20"_s};
        QTest::newRow("several addresses in system order")
            << QStringList{u"en0 up 10.0.0.1"_s, u"bridge0 up 8.8.8.8"_s, u"en0 up 10.0.0.2"_s}
            << QStringList{u"en0 10.0.0.1"_s, u"bridge0 8.8.8.8"_s, u"en0 10.0.0.2"_s};
    }

    void listsUpNonLoopbackIPv4Addresses()
    {
        QFETCH(QStringList, interfaces);
        QFETCH(QStringList, candidates);
        const FakeInterfaceList list(interfaces);
        QCOMPARE(entriesOf(interfaceAddressCandidates(list.first())), candidates);
    }

    void ranksPrivateAddressesThenInterfaceNames_data()
    {
        QTest::addColumn<QStringList>("candidates");
        QTest::addColumn<QString>("best"); // empty: nothing

        QTest::newRow("no candidates") << QStringList() << QString();
        QTest::newRow("en0 before en1") << QStringList{u"en1 10.0.0.5"_s, u"en0 192.168.1.20"_s} << u"192.168.1.20"_s;
        QTest::newRow("private bridge before public en0")
            << QStringList{u"en0 17.1.2.3"_s, u"bridge100 192.168.2.1"_s} << u"192.168.2.1"_s;
        QTest::newRow("other en before link-local en0")
            << QStringList{u"en0 169.254.7.7"_s, u"en5 172.20.0.3"_s} << u"172.20.0.3"_s;
        QTest::newRow("172.32 is public") << QStringList{u"en0 172.32.0.1"_s, u"wlan0 172.31.0.9"_s} << u"172.31.0.9"_s;
        QTest::newRow("equal scores keep listing order")
            << QStringList{u"en7 10.0.0.7"_s, u"en3 10.0.0.3"_s, u"enp3s0 10.0.0.4"_s} << u"10.0.0.7"_s;
    }

    void ranksPrivateAddressesThenInterfaceNames()
    {
        QFETCH(QStringList, candidates);
        QFETCH(QString, best);
        const std::optional<QString> chosen = bestCandidate(candidatesFrom(candidates));
        QCOMPARE(chosen.value_or(QString()), best);
        QCOMPARE(chosen.has_value(), !best.isEmpty());
    }

    void recognisesPrivateAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("isPrivate");

        QTest::newRow("10/8") << u"10.255.0.1"_s << true;
        QTest::newRow("172.16") << u"172.16.0.1"_s << true;
        QTest::newRow("172.15") << u"172.15.0.1"_s << false;
        QTest::newRow("172.32") << u"172.32.0.1"_s << false;
        QTest::newRow("192.168") << u"192.168.0.1"_s << true;
        QTest::newRow("link-local") << u"169.254.10.20"_s << false;
        QTest::newRow("three numbers") << u"10.0.1"_s << false;
        QTest::newRow("five numbers") << u"10.0.0.1.5"_s << false;
        QTest::newRow("empty parts are skipped") << u"10..0.0.1"_s << true;
        QTest::newRow("a part with spaces is no number") << u" 10.0.0.1"_s << false;
        QTest::newRow("empty") << QString() << false;
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
