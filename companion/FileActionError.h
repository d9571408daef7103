#pragma once

#include <QString>

#include <stdexcept>

// Why a file action failed, as the text the computer shows to the user. Thrown by the file operations and
// the phone trash; the file actions turn it into a failed answer.
class FileActionError : public std::runtime_error
{
public:
    explicit FileActionError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}

    const QString &message() const { return m_message; }

private:
    QString m_message;
};
