// Text printed by adb ("devices -l", "shell getprop" or a command's answer), as the desktop parses it; the first
// byte picks the parser. Every device must carry a serial that is one token (or none), and read back from its own line.
// Whatever the text, the excerpt kept of it in errors is a bounded prefix that splits no character; a failure's text
// never shows the path adb echoes, and a phone's names hold no control or direction character and show cut.
#include "ADBOutputParser.h"
#include "FuzzCheck.h"
#include "PhoneAnswer.h"
#include "TextExcerpt.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString excerpt = textExcerpt(text);
    if (excerpt != text) {
        const QStringView kept = QStringView(excerpt).chopped(1);
        requirePromise(excerpt.endsWith(u'…') && text.startsWith(kept), "an excerpt is a prefix and an ellipsis");
        requirePromise(kept.toUtf8().size() <= textExcerptBytes && text.size() > kept.size() &&
                           !(kept.size() > 0 && kept.back().isHighSurrogate() && text.at(kept.size()).isLowSurrogate()),
                       "an excerpt holds at most its bytes of whole characters");
        requirePromise(text.first(kept.size() + 1).toUtf8().size() > textExcerptBytes ||
                           (text.at(kept.size()).isHighSurrogate() &&
                            text.first(kept.size() + 2).toUtf8().size() > textExcerptBytes),
                       "an excerpt ends only where the next character would not fit");
    }
    if (data[0] % 3 == 2) {
        // What a phone answered a command, split at its first form feed into standard output and standard error.
        const qsizetype split = text.indexOf(u'\f');
        const QString standardOutput = split < 0 ? text : text.first(split);
        const QString standardError = split < 0 ? QString() : text.mid(split + 1);
        for (const auto needs :
             {PhoneAnswer::Needs::nothing, PhoneAnswer::Needs::successLine, PhoneAnswer::Needs::startedActivity}) {
            const auto failure = PhoneAnswer::failure(standardOutput, standardError, {}, 0, needs);
            requirePromise(!failure || !failure->errorDescription().isEmpty(), "a failure has a text");
            requirePromise(!failure || failure->message().toUtf8().size() <= textExcerptBytes + 3,
                           "a failure keeps an excerpt of what was printed");
            requirePromise(needs == PhoneAnswer::Needs::nothing || failure || !text.trimmed().isEmpty(),
                           "an empty answer is not a success where a word of success is needed");
        }
        // As the failure of an install whose package's path adb echoes.
        const QString path = QStringLiteral("/home/u/device offline/Error type 3.apk");
        const QStringList arguments{QStringLiteral("-P"), QStringLiteral("45037"), QStringLiteral("install"), path};
        const ADBClientError failure = ADBClientError::classify(standardError, arguments, 1, standardOutput);
        requirePromise(!failure.errorDescription().isEmpty(), "a failure has a text");
        requirePromise(failure.errorCase() == ADBClientError::Case::commandFailed ||
                           !failure.errorDescription().contains(path),
                       "a text of its own never shows the echoed path");
        requirePromise(failure.errorCase() != ADBClientError::Case::phoneRefusedWithCode ||
                           (failure.message().size() <= 80 && std::ranges::all_of(failure.message(),
                                                                                  [](QChar c) {
                                                                                      return (c >= u'A' && c <= u'Z') ||
                                                                                             (c >= u'0' && c <= u'9') ||
                                                                                             c == u'_';
                                                                                  })),
                       "a code named is a short word of capitals, digits and underscores");
        requirePromise(withoutControlCharacters(failure.message(), true) == failure.message(),
                       "a message shows no control or direction character");
        const QString withoutNotices = PhoneAnswer::withoutServerNotices(text);
        for (const QStringView line : QStringView(withoutNotices).split(u'\n'))
            requirePromise(!line.trimmed().startsWith(QLatin1String("* daemon")), "server notices are dropped");
    } else if (data[0] % 2 == 0) {
        for (const AndroidDevice &device : ADBOutputParser::parseDeviceList(text)) {
            requirePromise(device.serial.simplified() == device.serial && !device.serial.contains(QLatin1Char(' ')),
                           "a serial is one token, or empty for a phone without one");
            const QString serial = device.serial.isEmpty() ? QString(ADBOutputParser::noSerialNumber) : device.serial;
            const auto again = ADBOutputParser::parseDeviceLine(serial + u' ' + AndroidDevice::rawValue(device.state));
            requirePromise(again && again->serial == device.serial && again->state == device.state,
                           "a serial and state read back");
            for (const auto &value : {device.model, device.product})
                requirePromise(!value || withoutControlCharacters(*value) == *value,
                               "a phone's model and product hold no control or direction character");
            // A phone's own model always matches its device's copy as adb writes it.
            AndroidDevice copy;
            copy.model = device.model;
            requirePromise(!device.model || device.model->trimmed().isEmpty() || copy.matchesPhoneModel(*device.model),
                           "a model matches itself");
        }
    } else {
        const ADBDeviceProperties properties = ADBDeviceProperties::fromGetpropOutput(text);
        for (const auto &value : {properties.manufacturer, properties.androidVersion}) {
            requirePromise(!value || !value->isEmpty(), "chosen properties are not empty");
            requirePromise(!value || (withoutControlCharacters(*value) == *value &&
                                      value->toUcs4().size() <= phoneTextCharacters + 1),
                           "a phone's fact is shown as it reads, and bounded");
        }
        // The names are kept whole within the excerpt's bound, to be compared, and shown cut.
        for (const auto &value : {properties.marketingName, properties.productModel}) {
            requirePromise(!value || !value->isEmpty(), "chosen properties are not empty");
            requirePromise(!value || (withoutControlCharacters(*value) == *value &&
                                      value->toUtf8().size() <= textExcerptBytes + 3),
                           "a phone's name is kept as it reads, and bounded");
        }
        AndroidDevice device;
        properties.applyTo(device);
        requirePromise(device.displayName().toUcs4().size() <= phoneTextCharacters + 1, "a name is shown cut");
    }
    return 0;
}
