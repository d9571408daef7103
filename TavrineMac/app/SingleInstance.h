#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>
#include <variant>

// What a start of the program asks for: bring the application forward, open files with it (the file
// manager's "open with"), send files to the phone ("--send FILE…", the desktop file's send action), or only print
// how to use it or its version.
struct LaunchRequest
{
    enum class Kind
    {
        activate,
        open,
        send,
        help,
        version
    };

    // Whether the toolkit has taken its own options out of the arguments yet: until then an option this program does
    // not know may be one of the toolkit's, afterwards it is unknown to both.
    enum class ToolkitOptions
    {
        present,
        removed
    };

    Kind kind = Kind::activate;
    QStringList paths; // absolute paths of things that exist

    bool operator==(const LaunchRequest &) const = default;
    QList<QUrl> urls() const;

    // Reads the program's arguments (without the program name). The text of the Services entry when "--send"
    // names nothing that exists, and the text to print for an unknown option. Every argument after "--send" or a
    // first "--" is a file; elsewhere "-h" or "--help" and "--version" ask for help and the version before anything
    // else, and another argument that starts with "-" is one of the toolkit's options while they are `present`.
    static std::variant<LaunchRequest, QString> parse(const QStringList &arguments,
                                                      ToolkitOptions toolkitOptions = ToolkitOptions::present);
    // What "--help" prints.
    static QString usage();
    // What "--version" prints: the program's name and the version the update check compares.
    static QString versionText();
};

// One running instance per session: the first start owns the application's name on the session bus and
// answers org.freedesktop.Application (Activate, Open) and SendFiles; a later start hands its request to it
// and ends. Every call from the bus is checked before it reaches the handlers.
class SingleInstance : public QDBusVirtualObject
{
    Q_OBJECT

public:
    static constexpr auto serviceName = "com.drovan.tavrine.TavrineMac";
    static constexpr auto objectPath = "/com/drovan/tavrine/TavrineMac";
    static constexpr auto applicationInterface = "org.freedesktop.Application";
    static constexpr auto sendInterface = "com.drovan.tavrine.TavrineMac.Send";
    static constexpr auto failedErrorName = "com.drovan.tavrine.TavrineMac.Error.Failed";
    // A request is a few paths a person chose; a longer one is refused as a whole.
    static constexpr int maximumPathCount = 4096;
    static constexpr int maximumPathLength = 4096;

    struct Handlers
    {
        std::function<void()> activate;
        std::function<void(const QList<QUrl> &urls)> open;
        // The error text when nothing could be sent.
        std::function<std::optional<QString>(const QList<QUrl> &urls)> sendFiles;
    };

    explicit SingleInstance(QDBusConnection connection, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the name on the bus; false when another instance holds it (or the bus refuses).
    bool claim();
    void setHandlers(Handlers handlers) { m_handlers = std::move(handlers); }

    // Hands `request` to the instance that owns the name: nothing on success, else the error text to show.
    static std::optional<QString> forward(const LaunchRequest &request, QDBusConnection connection);
    // The same for a start of the program: says on standard error why it could not; the start's exit status.
    static int handOver(const LaunchRequest &request, const QDBusConnection &connection);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    QDBusConnection m_connection;
    bool m_isRegistered = false;
    Handlers m_handlers;
};
