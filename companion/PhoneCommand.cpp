#include "PhoneCommand.h"

#include <QProcess>
#include <QStringList>

std::optional<PhoneCommand> PhoneCommand::parse(const QString &line, QString *errorMessage)
{
    const auto fail = [errorMessage](const QString &message) -> std::optional<PhoneCommand> {
        if (errorMessage) {
            *errorMessage = message;
        }
        return std::nullopt;
    };

    const QStringList words = QProcess::splitCommand(line);
    if (words.isEmpty()) {
        return fail(QStringLiteral("Empty command"));
    }
    const QString &name = words.constFirst();
    const qsizetype argumentCount = words.size() - 1;

    if (name == u"send") {
        if (argumentCount < 1 || argumentCount > 2 || words.at(1).isEmpty()) {
            return fail(QStringLiteral("Usage: send PATH [TRANSFER_ID]"));
        }
        return PhoneCommand{Kind::send, words.at(1), argumentCount == 2 ? words.at(2) : QString()};
    }
    if (name == u"pause" || name == u"cancel") {
        if (argumentCount != 1 || words.at(1).isEmpty()) {
            return fail(QStringLiteral("Usage: %1 ID").arg(name));
        }
        return PhoneCommand{name == u"pause" ? Kind::pause : Kind::cancel, {}, words.at(1)};
    }
    if (name == u"confirm" || name == u"quit") {
        if (argumentCount != 0) {
            return fail(QStringLiteral("Usage: %1").arg(name));
        }
        return PhoneCommand{name == u"confirm" ? Kind::confirm : Kind::quit, {}, {}};
    }
    return fail(QStringLiteral("Unknown command: %1").arg(name));
}
