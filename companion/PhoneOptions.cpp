#include "PhoneOptions.h"

#include "PairingWebLink.h"

#include "PairingPayload.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>

namespace {

const QString defaultDeviceName = QStringLiteral("tavrine-phone");

PhoneOptionsParseResult badUsage(const QString &message)
{
    return {PhoneOptionsParseResult::Outcome::badUsage, {}, message};
}

} // namespace

PhoneOptionsParseResult PhoneOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption urlOption(QStringLiteral("url"), {}, QStringLiteral("URL"));
    const QCommandLineOption storageOption(QStringLiteral("storage"), {}, QStringLiteral("DIR"));
    const QCommandLineOption nameOption(QStringLiteral("name"), {}, QStringLiteral("NAME"));
    const QCommandLineOption confirmOption(QStringLiteral("confirm"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({urlOption, storageOption, nameOption, confirmOption, helpOption});

    if (!parser.parse(arguments)) {
        return badUsage(parser.errorText());
    }
    if (parser.isSet(helpOption)) {
        return {PhoneOptionsParseResult::Outcome::help, {}, {}};
    }
    for (const QCommandLineOption &option : {urlOption, storageOption, nameOption}) {
        if (parser.values(option).size() > 1) {
            return badUsage(QStringLiteral("--%1 is given more than once").arg(option.names().constFirst()));
        }
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        return badUsage(QStringLiteral("A command is required: pair or serve"));
    }
    if (positional.size() > 1) {
        return badUsage(QStringLiteral("Unexpected argument: %1").arg(positional.at(1)));
    }

    PhoneOptions options;
    if (positional.constFirst() == u"pair") {
        options.command = Command::pair;
    } else if (positional.constFirst() == u"serve") {
        options.command = Command::serve;
    } else {
        return badUsage(QStringLiteral("Unknown command: %1").arg(positional.constFirst()));
    }

    const QString storage = parser.value(storageOption);
    if (storage.isEmpty()) {
        return badUsage(QStringLiteral("--storage DIR is required"));
    }
    options.storageDirectory = QDir::cleanPath(QDir::current().absoluteFilePath(storage));

    options.deviceName = parser.isSet(nameOption) ? parser.value(nameOption) : defaultDeviceName;
    if (options.deviceName.trimmed().isEmpty()) {
        return badUsage(QStringLiteral("--name must not be empty"));
    }

    if (options.command == Command::serve) {
        if (parser.isSet(urlOption) || parser.isSet(confirmOption)) {
            return badUsage(QStringLiteral("--url and --confirm belong to pair; serve reconnects from the stored "
                                           "pairing"));
        }
        return {PhoneOptionsParseResult::Outcome::run, options, {}};
    }

    options.pairingUrl = parser.value(urlOption);
    // The QR code shows the web pairing link; the pairing URL rides in it.
    if (const std::optional<QString> carried = pairingPayloadFromWebLink(options.pairingUrl)) {
        options.pairingUrl = *carried;
    } else if (isPairingWebLink(options.pairingUrl)) {
        // Read as a pairing URL, a web link only ever reads as not supported, which hides that the code was damaged.
        return badUsage(QStringLiteral("Invalid pairing link: the web pairing link carries no pairing URL that can "
                                       "be read (read its QR code again)"));
    }
    if (options.pairingUrl.isEmpty()) {
        return badUsage(QStringLiteral("pair needs --url URL"));
    }
    try {
        PairingPayload::parse(options.pairingUrl);
    } catch (const PairingPayloadError &error) {
        return badUsage(QStringLiteral("Invalid pairing URL: %1").arg(error.errorDescription()));
    }
    options.confirmAutomatically = parser.isSet(confirmOption);
    return {PhoneOptionsParseResult::Outcome::run, options, {}};
}

QString PhoneOptions::usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  tavrine-phone pair --url URL --storage DIR [--name NAME] [--confirm]\n"
        "  tavrine-phone serve --storage DIR [--name NAME]\n"
        "  tavrine-phone --help\n"
        "\n"
        "Plays an Android phone against the desktop application. pair pairs from the computer's pairing URL\n"
        "and stores the pairing in DIR/.tavrine/state.json; serve reconnects with the stored pairing. Both then\n"
        "serve DIR as the phone's storage: received files land in DIR (or in the folder prepared for their\n"
        "transfer), management requests are answered.\n"
        "\n"
        "Management actions answered:\n"
        "  files.prepare_upload  {\"transferId\", \"directoryId\"}: the file received next under that transfer\n"
        "                        id lands in that folder, under a free name\n"
        "  files.download        {\"id\", \"transferId\"}: sends that file under that transfer id\n"
        "Ids of files and folders: \"root\" for DIR itself, else the base64url (no padding) of the UTF-8 path\n"
        "relative to DIR, \"/\"-separated. No id reaches outside DIR or into DIR/.tavrine.\n"
        "\n"
        "Options:\n"
        "  --url URL      the computer's pairing URL (pair only)\n"
        "  --storage DIR  the folder served as the phone's storage\n"
        "  --name NAME    the name the computer shows for this phone (default: tavrine-phone)\n"
        "  --confirm      confirm the pairing as soon as the computer awaits it (pair only)\n"
        "  -h, --help     show this text\n"
        "\n"
        "Commands on standard input, one a line (quote a path that holds spaces with \"\"):\n"
        "  send PATH [TRANSFER_ID]  send a file, PATH absolute or relative to DIR; a new id when none is given\n"
        "  pause ID                 pause a transfer\n"
        "  cancel ID                cancel a transfer\n"
        "  confirm                  confirm the pairing\n"
        "  quit                     disconnect and exit, as the end of input does\n"
        "\n"
        "Standard output carries one JSON object a line for every event and every answered request, and once,\n"
        "when the computer awaits confirmation, the line \"Confirmation code: 123  456\" to compare with the\n"
        "code the computer shows; errors go to standard error. Exit status: 0 after quit, 1 on a fatal error or\n"
        "a failed pairing (such as a refused one), 2 on bad usage.\n");
}
