#include "AndroidDevice.h"

#include "TextExcerpt.h"

#include <QByteArray>

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<AndroidDevice::State, const char *>, 9> stateWords{{
    {AndroidDevice::State::authorized, "device"},
    {AndroidDevice::State::unauthorized, "unauthorized"},
    {AndroidDevice::State::offline, "offline"},
    {AndroidDevice::State::recovery, "recovery"},
    {AndroidDevice::State::bootloader, "bootloader"},
    {AndroidDevice::State::unknown, "unknown"},
    {AndroidDevice::State::noPermissions, "no permissions"},
    {AndroidDevice::State::authorizing, "authorizing"},
    {AndroidDevice::State::connecting, "connecting"},
}};

// adb's copy of a model: each byte of its UTF-8 that is not an ASCII letter or digit becomes "_".
QByteArray adbModelForm(const QString &model)
{
    QByteArray form = model.toUtf8();
    for (char &byte : form) {
        const bool isAlphanumeric =
            (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
        if (!isAlphanumeric)
            byte = '_';
    }
    return form.toLower();
}

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

QString AndroidDevice::name() const
{
    if (marketingName && !marketingName->isEmpty())
        return *marketingName;
    if (model)
        return QString(*model).replace(QLatin1Char('_'), QLatin1Char(' '));
    return QStringLiteral("Android 手机");
}

QString AndroidDevice::displayName() const
{
    return phoneText(name());
}

QString AndroidDevice::id() const
{
    // adb's tokens hold no blanks, so the two parts never run into each other.
    if (!transportID || transportID->isEmpty())
        return serial;
    return serial + QStringLiteral(" transport_id:") + *transportID;
}

bool AndroidDevice::isWaitingForApproval() const
{
    return state == State::unauthorized || state == State::authorizing || state == State::connecting;
}

bool AndroidDevice::matchesPhoneModel(const QString &phoneModel) const
{
    const QString wanted = phoneModel.trimmed();
    if (wanted.isEmpty())
        return false;
    if (productModel && !productModel->trimmed().isEmpty())
        return productModel->trimmed().compare(wanted, Qt::CaseInsensitive) == 0;
    return model && adbModelForm(model->trimmed()) == adbModelForm(wanted);
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
    seed = hashOptional(device.sdkLevel, seed);
    return hashOptional(device.productModel, seed);
}
