#include "ManagementHandlers.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <exception>

ManagementAnswer ManagementAnswer::succeeded(const QJsonObject &payload)
{
    return {true, QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact)), {}};
}

ManagementAnswer ManagementAnswer::failed(const QString &message)
{
    // The payload stays valid JSON so that a reader that parses it anyway does not trip.
    return {false, QStringLiteral("{}"), message};
}

void ManagementHandlers::add(const QString &action, Handler handler)
{
    m_handlers.insert(action, std::move(handler));
    m_concurrentActions.remove(action);
}

void ManagementHandlers::addConcurrent(const QString &action, Handler handler)
{
    m_handlers.insert(action, std::move(handler));
    m_concurrentActions.insert(action);
}

ManagementAnswer ManagementHandlers::answer(const QString &action, const QString &payload) const
{
    const auto handler = m_handlers.constFind(action);
    if (handler == m_handlers.cend()) {
        return ManagementAnswer::failed(QStringLiteral("Unsupported action: ") + action);
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return ManagementAnswer::failed(
            QStringLiteral("The payload of %1 is not valid JSON: %2").arg(action, parseError.errorString()));
    }
    if (!document.isObject()) {
        return ManagementAnswer::failed(QStringLiteral("The payload of %1 is not a JSON object").arg(action));
    }

    try {
        return (*handler)(document.object());
    } catch (const std::exception &error) {
        return ManagementAnswer::failed(
            QStringLiteral("The action %1 failed: %2").arg(action, QString::fromUtf8(error.what())));
    }
}

QStringList ManagementHandlers::actions() const
{
    QStringList names = m_handlers.keys();
    names.sort();
    return names;
}
