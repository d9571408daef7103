#pragma once

#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// The phone's answer to one management action.
struct ManagementAnswer
{
    bool success = false;
    QString payload; // JSON text
    QString message;

    bool operator==(const ManagementAnswer &) const = default;

    static ManagementAnswer succeeded(const QJsonObject &payload);
    static ManagementAnswer failed(const QString &message);
};

// The table of management actions that the phone answers, by action name.
class ManagementHandlers
{
public:
    using Handler = std::function<ManagementAnswer(const QJsonObject &payload)>;

    // Replaces an earlier handler of the same action.
    void add(const QString &action, Handler handler);
    // A handler that may run on a worker thread, beside any other: it changes nothing that another handler reads.
    void addConcurrent(const QString &action, Handler handler);

    // Whether the handler of `action` may run on a worker thread.
    bool isConcurrent(const QString &action) const { return m_concurrentActions.contains(action); }

    // Answers one request (from any thread for a concurrent action): an unknown action, a payload that is not a JSON
    // object and a handler that throws all give a failed answer.
    ManagementAnswer answer(const QString &action, const QString &payload) const;

    // The names of the actions that have a handler, sorted.
    QStringList actions() const;

private:
    QHash<QString, Handler> m_handlers;
    QSet<QString> m_concurrentActions;
};
