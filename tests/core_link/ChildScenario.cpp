#include "ChildScenario.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

namespace {
constexpr char scenarioVariable[] = "TAVRINE_TEST_SCENARIO";
constexpr int childTimeoutMilliseconds = 60'000;
} // namespace

bool inScenarioChild()
{
    return qEnvironmentVariableIsSet(scenarioVariable);
}

ScenarioOutcome runCurrentRowInChild()
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(scenarioVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("TAVRINE_FAKE_CORE_TRACE"), QStringLiteral("1"));
    // A deliberate abort is the expected end; no core dump and no sanitizer noise for it.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:handle_abort=0"));
    child.setProcessEnvironment(environment);
    // Without Qt Test's crash handler, which would spend seconds printing a stack trace of the expected abort.
    const QString row = QString::fromLatin1(QTest::currentTestFunction()) + u':' + QTest::currentDataTag();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-nocrashhandler"), row});
    ScenarioOutcome outcome;
    if (!child.waitForFinished(childTimeoutMilliseconds)) {
        child.kill();
        child.waitForFinished();
        outcome.standardError = QStringLiteral("the child did not finish");
        return outcome;
    }
    outcome.crashed = child.exitStatus() == QProcess::CrashExit;
    outcome.standardError = QString::fromUtf8(child.readAllStandardError());
    return outcome;
}
