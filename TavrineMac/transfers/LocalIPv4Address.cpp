#include "LocalIPv4Address.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>

#include <ifaddrs.h>
#include <net/if_arp.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// Names of tunnels and peer-to-peer Wi-Fi links that other systems give; they never carry the local network.
constexpr std::array<QStringView, 3> excludedNamePrefixes{u"utun", u"awdl", u"llw"};
constexpr std::size_t numericHostBufferSize = 1025;
// Link types of interfaces that carry no local network of their own: WireGuard and tun report none.
constexpr std::array<int, 7> tunnelLinkTypes{ARPHRD_NONE,   ARPHRD_PPP,  ARPHRD_TUNNEL, ARPHRD_TUNNEL6,
                                             ARPHRD_SIT,    ARPHRD_IPGRE, ARPHRD_VOID};
// The sysfs entries and the routing table are small; anything larger is not what it should be.
constexpr qint64 maximumKernelTextBytes = 1024 * 1024;
constexpr unsigned routeUpFlag = 0x1;

bool isCandidateInterface(const ifaddrs &entry)
{
    if (!entry.ifa_addr || entry.ifa_addr->sa_family != AF_INET)
        return false;
    if (!(entry.ifa_flags & IFF_UP) || (entry.ifa_flags & IFF_LOOPBACK))
        return false;
    const QString name = QString::fromUtf8(entry.ifa_name);
    return std::ranges::none_of(excludedNamePrefixes, [&name](QStringView prefix) { return name.startsWith(prefix); });
}

QByteArray readKernelText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(maximumKernelTextBytes);
}

// The interface of the IPv4 default route with the lowest metric, from a table laid out as /proc/net/route.
QString defaultRouteInterfaceOf(const QByteArray &table)
{
    QString best;
    qint64 bestMetric = -1;
    const QList<QByteArray> lines = table.split('\n');
    for (qsizetype index = 1; index < lines.size(); ++index) {
        const QList<QByteArray> fields = lines[index].simplified().split(' ');
        if (fields.size() < 8)
            continue;
        bool flagsRead = false;
        bool metricRead = false;
        const unsigned flags = fields[3].toUInt(&flagsRead, 16);
        const qint64 metric = fields[6].toLongLong(&metricRead, 10);
        if (fields[1] != "00000000" || fields[7] != "00000000" || !flagsRead || !metricRead ||
            !(flags & routeUpFlag))
            continue;
        if (bestMetric < 0 || metric < bestMetric) {
            best = QString::fromUtf8(fields[0]);
            bestMetric = metric;
        }
    }
    return best;
}

std::optional<QString> numericHostText(const sockaddr *address)
{
    std::array<char, numericHostBufferSize> host{};
    if (getnameinfo(address, sizeof(sockaddr_in), host.data(), host.size(), nullptr, 0, NI_NUMERICHOST) != 0)
        return std::nullopt;
    return QString::fromUtf8(host.data(), qstrnlen(host.data(), host.size()));
}

// A whole part in decimal, with an optional sign, that fits in 64 bits; anything else is not a number.
std::optional<qint64> decimalNumber(QStringView text)
{
    const QStringView digits = text.startsWith(u'+') || text.startsWith(u'-') ? text.sliced(1) : text;
    // toLongLong() alone would also take surrounding spaces.
    if (digits.isEmpty() || !std::ranges::all_of(digits, [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    bool isNumber = false;
    const qint64 number = text.toLongLong(&isNumber, 10);
    return isNumber ? std::optional<qint64>(number) : std::nullopt;
}

} // namespace

NetworkInterfaceInspector::NetworkInterfaceInspector(QString interfaceFolder, const QString &routeTable)
    : m_interfaceFolder(std::move(interfaceFolder)), m_defaultRouteInterface(defaultRouteInterfaceOf(readKernelText(routeTable)))
{
}

bool NetworkInterfaceInspector::has(const QString &name, const QString &entry) const
{
    return QFileInfo::exists(m_interfaceFolder + u'/' + name + u'/' + entry);
}

QString NetworkInterfaceInspector::text(const QString &name, const QString &entry) const
{
    return QString::fromUtf8(readKernelText(m_interfaceFolder + u'/' + name + u'/' + entry));
}

InterfaceKind NetworkInterfaceInspector::kind(const QString &name, unsigned flags) const
{
    // Names come from the kernel, but a path is built from them: nothing that could leave the folder.
    if (name.isEmpty() || name.contains(u'/') || name == u"." || name == u"..")
        return InterfaceKind::virtualDevice;
    bool typeRead = false;
    const int linkType = text(name, QStringLiteral("type")).trimmed().toInt(&typeRead);
    if ((flags & IFF_POINTOPOINT) || has(name, QStringLiteral("tun_flags")) ||
        (typeRead && std::ranges::find(tunnelLinkTypes, linkType) != tunnelLinkTypes.end()) ||
        text(name, QStringLiteral("uevent")).contains(u"DEVTYPE=wireguard"))
        return InterfaceKind::tunnel;
    // Interfaces the kernel makes up itself (bridges, veth, docker, libvirt) have no device behind them.
    const bool physical = has(name, QStringLiteral("device"));
    if (physical && name == m_defaultRouteInterface)
        return InterfaceKind::defaultRoute;
    if (has(name, QStringLiteral("wireless")) || has(name, QStringLiteral("phy80211")))
        return InterfaceKind::wireless;
    return physical ? InterfaceKind::physical : InterfaceKind::virtualDevice;
}

std::optional<QString> preferredLocalIPv4Address()
{
    return bestCandidate(interfaceAddressCandidates());
}

QList<InterfaceAddressCandidate> interfaceAddressCandidates()
{
    ifaddrs *interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return {};
    QList<InterfaceAddressCandidate> candidates = interfaceAddressCandidates(interfaces, NetworkInterfaceInspector());
    freeifaddrs(interfaces);
    return candidates;
}

QList<InterfaceAddressCandidate> interfaceAddressCandidates(const ifaddrs *interfaces,
                                                            const NetworkInterfaceInspector &inspector)
{
    QList<InterfaceAddressCandidate> candidates;
    for (const ifaddrs *entry = interfaces; entry; entry = entry->ifa_next) {
        if (!isCandidateInterface(*entry))
            continue;
        const QString name = QString::fromUtf8(entry->ifa_name);
        const InterfaceKind kind = inspector.kind(name, entry->ifa_flags);
        if (kind == InterfaceKind::tunnel)
            continue;
        if (auto address = numericHostText(entry->ifa_addr))
            candidates.append({name, std::move(*address), kind});
    }
    return candidates;
}

std::optional<QString> bestCandidate(const QList<InterfaceAddressCandidate> &candidates)
{
    QList<InterfaceAddressCandidate> ranked = candidates;
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const InterfaceAddressCandidate &left, const InterfaceAddressCandidate &right) {
                         return interfacePreferenceScore(left) < interfacePreferenceScore(right);
                     });
    if (ranked.isEmpty())
        return std::nullopt;
    return ranked.first().address;
}

int interfacePreferenceScore(const InterfaceAddressCandidate &candidate)
{
    return int(candidate.kind) + (isPrivateIPv4Address(candidate.address) ? 0 : 10);
}

bool isPrivateIPv4Address(const QString &address)
{
    QList<qint64> numbers;
    for (QStringView part : QStringView(address).split(u'.', Qt::SkipEmptyParts)) {
        if (const auto number = decimalNumber(part))
            numbers.append(*number);
    }
    if (numbers.size() != 4)
        return false;
    return numbers[0] == 10 || (numbers[0] == 172 && numbers[1] >= 16 && numbers[1] <= 31) ||
           (numbers[0] == 192 && numbers[1] == 168);
}

std::optional<QString> SystemLocalAddressProvider::localIPv4Address() const
{
    return preferredLocalIPv4Address();
}
