#include "PhoneAnswer.h"

namespace {

// A line by which the activity or package manager reports a failure, also with exit status 0.
bool isFailureLine(QStringView line)
{
    return line.startsWith(QLatin1String("Error")) || line.startsWith(QLatin1String("Failure")) ||
           line.startsWith(QLatin1String("Exception")) || line.startsWith(QLatin1String("java.lang.")) ||
           line == QLatin1String("Failed");
}

bool isServerNotice(QStringView line)
{
    return line.startsWith(QLatin1String("* daemon")) || line.startsWith(QLatin1String("adb server version ("));
}

} // namespace

namespace PhoneAnswer {

QString withoutServerNotices(const QString &text)
{
    if (!text.contains(QLatin1String("* daemon")) && !text.contains(QLatin1String("adb server version ("))) {
        return text.trimmed();
    }
    QStringList kept;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (!isServerNotice(QStringView(line).trimmed())) {
            kept.append(line);
        }
    }
    return kept.join(QLatin1Char('\n')).trimmed();
}

QString combined(const QString &standardOutput, const QString &standardError)
{
    return (withoutServerNotices(standardOutput) + QLatin1Char('\n') + withoutServerNotices(standardError)).trimmed();
}

bool hasLine(const QString &answer, const std::function<bool(QStringView)> &test)
{
    for (const QStringView line : QStringView(answer).split(QLatin1Char('\n'))) {
        if (test(line.trimmed())) {
            return true;
        }
    }
    return false;
}

std::optional<ADBClientError> failure(const QString &standardOutput, const QString &standardError,
                                      const QStringList &arguments, int status, Needs needs)
{
    const QString answer = combined(standardOutput, standardError);
    const auto isLine = [&answer](const char *text) {
        return hasLine(answer, [text](QStringView line) { return line == QLatin1String(text); });
    };
    bool done = !hasLine(answer, isFailureLine);
    switch (needs) {
    case Needs::nothing:
        break;
    case Needs::successLine:
        done = done && isLine("Success");
        break;
    case Needs::startedActivity:
        done = done && isLine("Status: ok");
        break;
    }
    if (done) {
        return std::nullopt;
    }
    const ADBClientError error = ADBClientError::classify(answer, arguments, status);
    if (needs == Needs::startedActivity && error.errorCase() == ADBClientError::Case::commandFailed) {
        return ADBClientError(ADBClientError::Case::companionNotStarted);
    }
    return error;
}

} // namespace PhoneAnswer
