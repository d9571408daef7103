#include "AndroidDevice.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<AndroidDevice::State, const char *>, 6> stateWords{{
    {AndroidDevice::State::authorized, "device"},
    {AndroidDevice::State::unauthorized, "unauthorized"},
    {AndroidDevice::State::offline, "offline"},
    {AndroidDevice::State::recovery, "recovery"},
    {AndroidDevice::State::bootloader, "bootloader"},
    {AndroidDevice::State::unknown, "unknown"},
}};

} // namespace

std::optional<AndroidDevice::State> AndroidDevice::stateFromRawValue(QStringView rawValue)
{
    for (const auto &[state, word] : stateWords) {
        if (rawValue == QLatin1String(word))
            return state;
    }
    return std::nullopt;
}

QString AndroidDevice::rawValue(State state)
{
    for (const auto &[candidate, word] : stateWords) {
        if (candidate == state)
            return QString::fromLatin1(word);
    }
    return QStringLiteral("unknown");
}

std::optional<QString> AndroidDevice::androidVersionLabel() const
{
    if (!androidVersion || androidVersion->isEmpty())
        return std::nullopt;
    return QStringLiteral("Android ") + *androidVersion;
}

QString AndroidDevice::displayName() const
{
    if (marketingName && !marketingName->isEmpty())
        return *marketingName;
    if (model)
        return QString(*model).replace(QLatin1Char('_'), QLatin1Char(' '));
    return QStringLiteral("Android 手机");
}

size_t qHash(const AndroidDevice &device, size_t seed) noexcept
{
    const auto hashOptional = [](const auto &value, size_t seed) {
        return value ? qHashMulti(seed, true, *value) : qHashMulti(seed, false);
    };
    seed = qHashMulti(seed, device.serial, AndroidDevice::rawValue(device.state));
    seed = hashOptional(device.model, seed);
    seed = hashOptional(device.product, seed);
    seed = hashOptional(device.transportID, seed);
    seed = qHashMulti(seed, device.isUSBTransport);
    seed = hashOptional(device.marketingName, seed);
    seed = hashOptional(device.manufacturer, seed);
    seed = hashOptional(device.androidVersion, seed);
    return hashOptional(device.sdkLevel, seed);
}
