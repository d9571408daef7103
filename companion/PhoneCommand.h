#pragma once

#include <QString>

#include <optional>

// One control command, as read from a line of standard input.
struct PhoneCommand
{
    enum class Kind
    {
        send,
        pause,
        cancel,
        confirm,
        quit,
    };

    Kind kind = Kind::quit;
    QString path;       // send
    QString transferId; // send (empty: a new id), pause, cancel

    bool operator==(const PhoneCommand &) const = default;

    // Words are separated by spaces; a word that holds spaces is quoted with "". Gives nothing, with the
    // reason in `errorMessage`, for an unknown command or wrong arguments.
    static std::optional<PhoneCommand> parse(const QString &line, QString *errorMessage);
};
