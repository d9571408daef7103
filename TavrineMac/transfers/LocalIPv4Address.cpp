#include "LocalIPv4Address.h"

#include <algorithm>
#include <array>

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// Virtual interfaces that never carry the local network: tunnels and peer-to-peer Wi-Fi links.
constexpr std::array<QStringView, 3> excludedNamePrefixes{u"utun", u"awdl", u"llw"};
constexpr std::size_t numericHostBufferSize = 1025;

bool isCandidateInterface(const ifaddrs &entry)
{
    if (!entry.ifa_addr || entry.ifa_addr->sa_family != AF_INET)
        return false;
    if (!(entry.ifa_flags & IFF_UP) || (entry.ifa_flags & IFF_LOOPBACK))
        return false;
    const QString name = QString::fromUtf8(entry.ifa_name);
    return std::ranges::none_of(excludedNamePrefixes, [&name](QStringView prefix) { return name.startsWith(prefix); });
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

std::optional<QString> preferredLocalIPv4Address()
{
    return bestCandidate(interfaceAddressCandidates());
}

QList<InterfaceAddressCandidate> interfaceAddressCandidates()
{
    ifaddrs *interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return {};
    QList<InterfaceAddressCandidate> candidates = interfaceAddressCandidates(interfaces);
    freeifaddrs(interfaces);
    return candidates;
}

QList<InterfaceAddressCandidate> interfaceAddressCandidates(const ifaddrs *interfaces)
{
    QList<InterfaceAddressCandidate> candidates;
    for (const ifaddrs *entry = interfaces; entry; entry = entry->ifa_next) {
        if (!isCandidateInterface(*entry))
            continue;
        if (auto address = numericHostText(entry->ifa_addr))
            candidates.append({QString::fromUtf8(entry->ifa_name), std::move(*address)});
    }
    return candidates;
}

std::optional<QString> bestCandidate(const QList<InterfaceAddressCandidate> &candidates)
{
    QList<InterfaceAddressCandidate> ranked = candidates;
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const InterfaceAddressCandidate &left, const InterfaceAddressCandidate &right) {
                         return interfacePreferenceScore(left.name, left.address) <
                                interfacePreferenceScore(right.name, right.address);
                     });
    if (ranked.isEmpty())
        return std::nullopt;
    return ranked.first().address;
}

int interfacePreferenceScore(const QString &name, const QString &address)
{
    int namePart = 3;
    if (name == u"en0")
        namePart = 0;
    else if (name == u"en1")
        namePart = 1;
    else if (name.startsWith(u"en"))
        namePart = 2;
    return namePart + (isPrivateIPv4Address(address) ? 0 : 10);
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
