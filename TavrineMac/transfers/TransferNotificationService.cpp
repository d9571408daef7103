#include "TransferNotificationService.h"

#include "ThreadHandOver.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QTimer>
#include <QUuid>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace {

const QString notificationsService = u"org.freedesktop.Notifications"_s;
const QString notificationsPath = u"/org/freedesktop/Notifications"_s;
const QString notificationsInterface = u"org.freedesktop.Notifications"_s;
const QString applicationName = u"TavrineMac"_s;
constexpr int serverDefaultExpiration = -1;
constexpr uint noNotificationToReplace = 0;

QDBusMessage notificationsCall(const QString &method)
{
    return QDBusMessage::createMethodCall(notificationsService, notificationsPath, notificationsInterface, method);
}

} // namespace

DBusNotificationSink::DBusNotificationSink(const QDBusConnection &connection) : m_connection(connection)
{
    auto *watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(notificationsCall(u"GetCapabilities"_s)));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, readsBodyMarkup = m_readsBodyMarkup] {
                         const QDBusPendingReply<QStringList> reply = *watcher;
                         if (!reply.isError())
                             *readsBodyMarkup = reply.value().contains(u"body-markup"_s);
                         watcher->deleteLater();
                     });
}

void DBusNotificationSink::requestAuthorization()
{
    m_connection.asyncCall(notificationsCall(u"GetCapabilities"_s));
}

DBusNotificationSink::~DBusNotificationSink()
{
    if (m_senderThread) {
        // What was handed to the thread is sent before it ends: the end comes behind it.
        ThreadHandOver::post(m_sender.get(), [thread = m_senderThread.get()] { thread->quit(); });
        m_senderThread->wait();
    }
}

void DBusNotificationSink::post(const TransferNotification &notification)
{
    // Handed on on the next turn of the event loop: the caller is often the event pump, whose next file starts
    // sooner without waiting for it.
    QTimer::singleShot(0, m_context.get(), [this, notification] {
        if (!m_senderThread) {
            m_senderThread = std::make_unique<QThread>();
            m_senderThread->setObjectName(u"tavrine-notify"_s);
            m_sender = std::make_unique<QObject>();
            m_sender->moveToThread(m_senderThread.get());
            m_senderThread->start();
        }
        const bool escapesBody = m_readsBodyMarkup->value_or(false);
        ThreadHandOver::post(m_sender.get(), [connection = m_connection, notification, escapesBody] {
            // The body is a file name from the phone or the disk: shown as it stands, never as markup.
            const QString body = escapesBody ? notification.body.toHtmlEscaped() : notification.body;
            const QVariantMap hints{
                {u"sound-name"_s, u"message-new-instant"_s},
                {u"x-tavrine-identifier"_s, notification.identifier},
            };
            QDBusMessage call = notificationsCall(u"Notify"_s);
            call << applicationName << noNotificationToReplace << QString() << notification.title << body
                 << QStringList() << hints << serverDefaultExpiration;
            // Nothing is done with the notification's number: no answer is waited for.
            QDBusConnection(connection).send(call);
        });
    });
}

TransferNotificationService::TransferNotificationService()
    : TransferNotificationService(std::make_unique<DBusNotificationSink>())
{}

TransferNotificationService::TransferNotificationService(std::unique_ptr<NotificationSink> sink)
    : m_sink(std::move(sink))
{}

void TransferNotificationService::requestAuthorizationIfNeeded()
{
    if (m_didRequestAuthorization)
        return;
    m_didRequestAuthorization = true;
    m_sink->requestAuthorization();
}

void TransferNotificationService::notifyTransferFinished(const QString &fileName,
                                                         TransferTaskRecord::Direction direction)
{
    TransferNotification notification;
    notification.identifier = u"tavrine-transfer-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    notification.title = direction == TransferTaskRecord::Direction::receiving ? u"文件已接收"_s : u"文件已发送"_s;
    notification.body = fileName;
    m_lastNotificationIdentifier = notification.identifier;
    m_sink->post(notification);
}
