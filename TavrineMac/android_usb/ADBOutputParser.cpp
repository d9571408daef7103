#include "ADBOutputParser.h"

#include "TextExcerpt.h"

#include <QHash>
#include <QRegularExpression>

#include <initializer_list>
#include <limits>

namespace {

bool isLineBreak(QChar character)
{
    switch (character.unicode()) {
    case 0x000A: // line feed
    case 0x000B: // vertical tab
    case 0x000C: // form feed
    case 0x000D: // carriage return (a CR LF pair leaves an empty piece, which is dropped)
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// A USB device path as adb's libusb back end writes it: bus, "-", then the port numbers joined by ".".
bool isBareDevicePath(QStringView token)
{
    static const QRegularExpression path(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+-[0-9]+(\\.[0-9]+)*")));
    return path.match(token.toString()).hasMatch();
}

QList<QStringView> whiteSpaceTokens(QStringView line)
{
    QList<QStringView> tokens;
    qsizetype start = -1;
    for (qsizetype index = 0; index <= line.size(); ++index) {
        const bool space = index == line.size() || line.at(index).isSpace();
        if (space && start >= 0) {
            tokens.append(line.mid(start, index - start));
            start = -1;
        } else if (!space && start < 0) {
            start = index;
        }
    }
    return tokens;
}

// A decimal integer with an optional leading sign and nothing else; nothing on overflow.
std::optional<qint64> decimalInteger(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == QLatin1Char('+') || text.front() == QLatin1Char('-'))) {
        negative = text.front() == QLatin1Char('-');
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    // Accumulate towards the sign so that the most negative value does not overflow.
    qint64 value = 0;
    for (const QChar character : text) {
        if (character < QLatin1Char('0') || character > QLatin1Char('9'))
            return std::nullopt;
        const int digit = character.unicode() - '0';
        if (__builtin_mul_overflow(value, 10, &value))
            return std::nullopt;
        if (negative ? __builtin_sub_overflow(value, digit, &value) : __builtin_add_overflow(value, digit, &value))
            return std::nullopt;
    }
    return value;
}

// The first of `keys` whose value, as `kept` keeps it, is not empty.
std::optional<QString> firstNonEmpty(const QHash<QString, QString> &table, std::initializer_list<const char *> keys,
                                     QString (*kept)(const QString &) = phoneText)
{
    for (const char *key : keys) {
        const auto found = table.constFind(QString::fromLatin1(key));
        if (found == table.cend())
            continue;
        if (QString value = kept(*found); !value.isEmpty())
            return value;
    }
    return std::nullopt;
}

} // namespace

QStringList ADBOutputParser::splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype index = 0; index <= text.size(); ++index) {
        if (index == text.size() || isLineBreak(text.at(index))) {
            if (index > start)
                lines.append(text.mid(start, index - start));
            start = index + 1;
        }
    }
    return lines;
}

std::optional<AndroidDevice> ADBOutputParser::parseDeviceLine(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("List of devices attached")) ||
        trimmed.startsWith(QLatin1String("* daemon")))
        return std::nullopt;

    const QList<QStringView> tokens = whiteSpaceTokens(trimmed);
    AndroidDevice device;
    qsizetype next = 1;
    // adb writes this in place of an empty serial.
    if (tokens.size() >= 3 && tokens.at(0) == u"(no" && tokens.at(1) == u"serial" && tokens.at(2) == u"number)")
        next = 3;
    else
        device.serial = tokens.at(0).toString();
    if (tokens.size() <= next)
        return std::nullopt;

    // A phone adb may not open has a state of two words, followed by a help text: "no permissions (user in
    // plugdev group; are your udev rules wrong?); see […]".
    if (tokens.at(next) == u"no" && next + 1 < tokens.size() && tokens.at(next + 1).startsWith(u"permissions")) {
        device.state = AndroidDevice::State::noPermissions;
        next += 2;
    } else {
        device.state = AndroidDevice::stateFromRawValue(tokens.at(next)).value_or(AndroidDevice::State::unknown);
        next += 1;
    }

    QHash<QString, QString> values;
    bool hasDevicePath = false;
    for (qsizetype index = next; index < tokens.size(); ++index) {
        const QStringView token = tokens.at(index);
        // The native USB back end writes the device path as "usb:1-1", the libusb one as "1-1".
        if (token.startsWith(QLatin1String("usb:")))
            device.isUSBTransport = true;
        else if (isBareDevicePath(token))
            hasDevicePath = true;
        const qsizetype colon = token.indexOf(QLatin1Char(':'));
        if (colon >= 0)
            values.insert(token.left(colon).toString(), token.mid(colon + 1).toString());
    }
    if (hasDevicePath && !isNetworkSerial(device.serial))
        device.isUSBTransport = true;
    // The model and product are the phone's own words, compared whole with what the phone says elsewhere.
    const auto valueOf = [&values](const char *key, QString (*kept)(const QString &)) -> std::optional<QString> {
        const auto found = values.constFind(QString::fromLatin1(key));
        return found == values.cend() ? std::nullopt : std::optional<QString>(kept(*found));
    };
    device.model = valueOf("model", phoneWords);
    device.product = valueOf("product", phoneWords);
    device.transportID = valueOf("transport_id", phoneText);
    return device;
}

bool ADBOutputParser::isNetworkSerial(QStringView serial)
{
    static const QRegularExpression emulator(QRegularExpression::anchoredPattern(QStringLiteral("emulator-[0-9]+")));
    return serial.contains(u':') || serial.endsWith(QLatin1String("._tcp")) ||
           serial.endsWith(QLatin1String("._tcp.")) || emulator.match(serial.toString()).hasMatch();
}

QList<AndroidDevice> ADBOutputParser::parseDeviceList(const QString &output)
{
    QList<AndroidDevice> devices;
    for (const QString &line : splitLines(output)) {
        if (auto device = parseDeviceLine(line))
            devices.append(std::move(*device));
    }
    return devices;
}

ADBDeviceProperties ADBDeviceProperties::fromGetpropOutput(const QString &output)
{
    static const QString separator = QStringLiteral("]: [");
    QHash<QString, QString> table;
    for (const QString &line : ADBOutputParser::splitLines(output)) {
        if (!line.startsWith(QLatin1Char('[')) || !line.endsWith(QLatin1Char(']')))
            continue;
        const qsizetype keyEnd = line.indexOf(QLatin1Char(']'));
        const qsizetype separatorStart = line.indexOf(separator, keyEnd);
        if (separatorStart < 0)
            continue;
        // The separator ends in "[" and the line in "]", so the value's range is never reversed.
        const qsizetype valueStart = separatorStart + separator.size();
        table.insert(line.mid(1, keyEnd - 1), line.mid(valueStart, line.size() - 1 - valueStart));
    }

    ADBDeviceProperties properties;
    properties.marketingName =
        firstNonEmpty(table, {"ro.product.marketname", "ro.product.vendor.marketname", "ro.product.model"}, phoneWords);
    properties.manufacturer = firstNonEmpty(table, {"ro.product.manufacturer", "ro.product.vendor.manufacturer"});
    properties.androidVersion = firstNonEmpty(table, {"ro.build.version.release"});
    properties.productModel = firstNonEmpty(table, {"ro.product.model"}, phoneWords);
    if (const auto sdk = table.constFind(QStringLiteral("ro.build.version.sdk")); sdk != table.cend())
        properties.sdkLevel = decimalInteger(*sdk);
    return properties;
}

void ADBDeviceProperties::applyTo(AndroidDevice &device) const
{
    device.marketingName = marketingName;
    device.manufacturer = manufacturer;
    device.androidVersion = androidVersion;
    device.sdkLevel = sdkLevel;
    device.productModel = productModel;
}
