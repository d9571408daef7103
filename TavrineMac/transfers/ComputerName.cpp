#include "ComputerName.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSysInfo>

std::optional<QString> SystemComputerNameProvider::prettyHostName() const
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return std::nullopt;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.hostname1"), QStringLiteral("/org/freedesktop/hostname1"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.hostname1") << QStringLiteral("PrettyHostname");
    const QDBusMessage reply = bus.call(call, QDBus::Block, int(hostnamedTimeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        return std::nullopt;
    }
    const QVariant value = qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
    if (value.metaType() != QMetaType::fromType<QString>()) {
        return std::nullopt;
    }
    return value.toString();
}

QString SystemComputerNameProvider::hostName() const
{
    return QSysInfo::machineHostName();
}

QString computerDisplayName(const ComputerNameProvider &names)
{
    const QString pretty = names.prettyHostName().value_or(QString()).trimmed();
    if (!pretty.isEmpty()) {
        return pretty;
    }
    const QString hostName = names.hostName().trimmed();
    return hostName.isEmpty() ? QStringLiteral("这台电脑") : hostName;
}
