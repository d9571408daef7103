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
// manager's "open with"), or send files to the phone ("--send FILE…", the desktop file's send action).
struct LaunchRequest
{
    enum class Kind
    {
        activate,
        open,
        send
    };

    Kind kind = Kind::activate;
    QStringList paths; // absolute paths of things that exist

    bool operator==(const LaunchRequest &) const = default;
    QList<QUrl> urls() const;

    // Reads the program's arguments (without the program name). The text of the Services entry when "--send"
    // names nothing that exists. Every argument after "--send" or a first "--" is a file; elsewhere an argument
    // that starts with "-" is one of Qt's options, which Qt has already consumed when it knows it.
    static std::variant<LaunchRequest, QString> parse(const QStringList &arguments);
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
