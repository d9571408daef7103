#include "SingleInstance.h"

#include "ApplicationDelegate.h"
#include "UpdateConfiguration.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

constexpr int forwardTimeoutMilliseconds = 25'000;

QString absolutePathOf(const QString &argument)
{
    const QString path = argument.startsWith(QLatin1String("file:")) ? QUrl(argument).toLocalFile() : argument;
    return path.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The file URLs of `paths`, or nothing when the list is too long or holds a path that is not absolute.
std::optional<QList<QUrl>> boundedFileURLs(const QStringList &paths)
{
    if (paths.size() > SingleInstance::maximumPathCount) {
        return std::nullopt;
    }
    QList<QUrl> urls;
    for (const QString &path : paths) {
        if (path.size() > SingleInstance::maximumPathLength || !QDir::isAbsolutePath(path) ||
            path.contains(QChar(u'\0'))) {
            return std::nullopt;
        }
        urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
}

std::optional<QStringList> pathsOfURIs(const QStringList &uris)
{
    if (uris.size() > SingleInstance::maximumPathCount) {
        return std::nullopt;
    }
    QStringList paths;
    for (const QString &uri : uris) {
        if (uri.size() > SingleInstance::maximumPathLength) {
            return std::nullopt;
        }
        const QUrl url(uri);
        if (!url.isLocalFile()) {
            return std::nullopt;
        }
        paths.append(url.toLocalFile());
    }
    return paths;
}

} // namespace

QList<QUrl> LaunchRequest::urls() const
{
    QList<QUrl> urls;
    for (const QString &path : paths) {
        urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
}

std::variant<LaunchRequest, QString> LaunchRequest::parse(const QStringList &arguments, ToolkitOptions toolkitOptions)
{
    LaunchRequest request;
    const bool isSend = !arguments.isEmpty() && arguments.first() == QLatin1String("--send");
    // After "--send" every argument names a file, also one that starts with "-"; elsewhere that takes a "--".
    bool namesFilesOnly = isSend;
    bool endedOptions = false;
    // The first option that is neither ours nor the toolkit's.
    QString unknownOption;
    for (qsizetype index = isSend ? 1 : 0; index < arguments.size(); ++index) {
        const QString &argument = arguments[index];
        if (argument == QLatin1String("--") && !endedOptions) {
            endedOptions = namesFilesOnly = true;
            continue;
        }
        if (!namesFilesOnly && argument.startsWith(QLatin1Char('-'))) {
            if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
                return LaunchRequest{Kind::help, {}};
            }
            if (argument == QLatin1String("--version")) {
                return LaunchRequest{Kind::version, {}};
            }
            if (toolkitOptions == ToolkitOptions::removed && unknownOption.isEmpty()) {
                unknownOption = argument;
            }
            continue;
        }
        const QString path = absolutePathOf(argument);
        const QFileInfo info(path);
        // A send names files the user has; an opened item goes to quick send as it is, which explains a miss.
        if (!path.isEmpty() && (!isSend || info.exists() || info.isSymLink())) {
            request.paths.append(path);
        }
    }
    if (!unknownOption.isEmpty()) {
        return QStringLiteral("TavrineMac: unknown option '%1'\nTry 'TavrineMac --help'.").arg(unknownOption);
    }
    if (isSend) {
        if (request.paths.isEmpty()) {
            return QString::fromUtf8(TavrineApplicationDelegate::noFilesFoundMessage);
        }
        request.kind = Kind::send;
    } else if (!request.paths.isEmpty()) {
        request.kind = Kind::open;
    }
    return request;
}

QString LaunchRequest::usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  TavrineMac [FILE...]\n"
        "  TavrineMac --send FILE...\n"
        "  TavrineMac --help | --version\n"
        "\n"
        "Links this computer with Android phones: pairs with a phone by QR code, moves files both ways over the\n"
        "local network and manages the phone's content. One TavrineMac runs per session: a later start hands its\n"
        "files to the running one, or brings its window forward, and ends.\n"
        "\n"
        "Arguments:\n"
        "  FILE...         files handed to quick send, which sends them to the connected phone (a file manager's\n"
        "                  \"open with\")\n"
        "  --send FILE...  sends the files that exist to the connected phone; every argument after it names a file\n"
        "  --              every argument after it names a file\n"
        "  -h, --help      show this text\n"
        "  --version       show the version\n"
        "The toolkit's own options (such as -platform or -display) are taken as well.\n"
        "\n"
        "Environment:\n"
        "  TAVRINE_ADB_PATH  the adb program to use before the one on the PATH\n"
        "\n"
        "Exit status: 0 once the application ends or the running one has taken the request, 1 when a send finds\n"
        "no file, an option is unknown, or the running application cannot be reached.\n");
}

QString LaunchRequest::versionText()
{
    return QStringLiteral("TavrineMac %1\n").arg(loadApplicationInfo().value(u"CFBundleShortVersionString").toString());
}

SingleInstance::SingleInstance(QDBusConnection connection, QObject *parent)
    : QDBusVirtualObject(parent), m_connection(std::move(connection))
{}

SingleInstance::~SingleInstance()
{
    if (m_isRegistered) {
        m_connection.unregisterService(QString::fromLatin1(serviceName));
        m_connection.unregisterObject(QString::fromLatin1(objectPath));
    }
}

bool SingleInstance::claim()
{
    if (m_isRegistered || !m_connection.isConnected()) {
        return m_isRegistered;
    }
    if (!m_connection.registerVirtualObject(QString::fromLatin1(objectPath), this)) {
        return false;
    }
    // Only the first start gets the name; registerService does not queue for it.
    if (!m_connection.registerService(QString::fromLatin1(serviceName))) {
        m_connection.unregisterObject(QString::fromLatin1(objectPath));
        return false;
    }
    m_isRegistered = true;
    return true;
}

int SingleInstance::handOver(const LaunchRequest &request, const QDBusConnection &connection)
{
    if (const std::optional<QString> error = forward(request, connection)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    return 0;
}

std::optional<QString> SingleInstance::forward(const LaunchRequest &request, QDBusConnection connection)
{
    const auto call = [&](const char *interface, const char *member) {
        return QDBusMessage::createMethodCall(QString::fromLatin1(serviceName), QString::fromLatin1(objectPath),
                                              QString::fromLatin1(interface), QString::fromLatin1(member));
    };
    QDBusMessage message;
    switch (request.kind) {
    case LaunchRequest::Kind::activate:
        message = call(applicationInterface, "Activate");
        message << QVariantMap();
        break;
    case LaunchRequest::Kind::open: {
        QStringList uris;
        for (const QUrl &url : request.urls()) {
            uris.append(url.toString(QUrl::FullyEncoded));
        }
        message = call(applicationInterface, "Open");
        message << uris << QVariantMap();
        break;
    }
    case LaunchRequest::Kind::send:
        message = call(sendInterface, "SendFiles");
        message << request.paths;
        break;
    case LaunchRequest::Kind::help:
    case LaunchRequest::Kind::version:
        return std::nullopt; // printed by the start that was asked, which hands nothing over
    }
    const QDBusMessage reply = connection.call(message, QDBus::BlockWithGui, forwardTimeoutMilliseconds);
    if (reply.type() != QDBusMessage::ErrorMessage) {
        return std::nullopt;
    }
    // Our own failure carries the user's text; anything else is the bus's.
    if (reply.errorName() == QLatin1String(failedErrorName)) {
        return reply.errorMessage();
    }
    return QStringLiteral("TavrineMac: %1").arg(reply.errorMessage());
}

QString SingleInstance::introspect(const QString &) const
{
    return QStringLiteral(R"(<interface name="org.freedesktop.Application">
  <method name="Activate"><arg type="a{sv}" name="platform_data" direction="in"/></method>
  <method name="Open"><arg type="as" name="uris" direction="in"/><arg type="a{sv}" name="platform_data" direction="in"/></method>
  <method name="ActivateAction"><arg type="s" name="action_name" direction="in"/><arg type="av" name="parameter" direction="in"/><arg type="a{sv}" name="platform_data" direction="in"/></method>
</interface>
<interface name="com.drovan.tavrine.TavrineMac.Send">
  <method name="SendFiles"><arg type="as" name="paths" direction="in"/></method>
</interface>
)");
}

bool SingleInstance::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    const QString interface = message.interface();
    const QString member = message.member();
    const QString signature = message.signature();
    const bool isApplication = interface.isEmpty() || interface == QLatin1String(applicationInterface);
    const bool isSend = interface.isEmpty() || interface == QLatin1String(sendInterface);
    const auto refuse = [&](const QString &text) {
        connection.send(message.createErrorReply(QDBusError::InvalidArgs, text));
        return true;
    };

    if (isApplication && member == QLatin1String("Activate") && signature == QLatin1String("a{sv}")) {
        if (m_handlers.activate) {
            m_handlers.activate();
        }
    } else if (isApplication && member == QLatin1String("Open") && signature == QLatin1String("asa{sv}")) {
        const std::optional<QStringList> paths = pathsOfURIs(message.arguments().value(0).toStringList());
        const std::optional<QList<QUrl>> urls = paths ? boundedFileURLs(*paths) : std::nullopt;
        if (!urls) {
            return refuse(QStringLiteral("Open takes up to %1 local file URIs").arg(maximumPathCount));
        }
        if (m_handlers.open) {
            m_handlers.open(*urls);
        }
    } else if (isSend && member == QLatin1String("SendFiles") && signature == QLatin1String("as")) {
        const std::optional<QList<QUrl>> urls = boundedFileURLs(message.arguments().value(0).toStringList());
        if (!urls) {
            return refuse(QStringLiteral("SendFiles takes up to %1 absolute paths").arg(maximumPathCount));
        }
        const std::optional<QString> error =
            m_handlers.sendFiles ? m_handlers.sendFiles(*urls) : std::optional<QString>();
        if (error) {
            connection.send(message.createErrorReply(QString::fromLatin1(failedErrorName), *error));
            return true;
        }
    } else if (isApplication && member == QLatin1String("ActivateAction")) {
        connection.send(message.createErrorReply(QDBusError::NotSupported, QStringLiteral("no actions")));
        return true;
    } else {
        return false; // the bus answers an unknown method
    }
    connection.send(message.createReply());
    return true;
}
