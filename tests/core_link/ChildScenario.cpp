#include "ChildScenario.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>

namespace {
constexpr auto scenarioVariable = "TAVRINE_TEST_SCENARIO";
constexpr int childTimeoutMilliseconds = 60'000;
} // namespace

ScenarioOutcome runScenarioInChild(const QString &scenario)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(scenarioVariable), scenario);
    environment.insert(QStringLiteral("TAVRINE_FAKE_CORE_TRACE"), QStringLiteral("1"));
    // A deliberate abort is the expected end; no core dump and no sanitizer noise for it.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:handle_abort=0"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    ScenarioOutcome outcome;
    if (!child.waitForFinished(childTimeoutMilliseconds)) {
        child.kill();
        child.waitForFinished();
        outcome.standardError = QStringLiteral("the child did not finish");
        return outcome;
    }
    outcome.crashed = child.exitStatus() == QProcess::CrashExit;
    outcome.exitCode = child.exitCode();
    outcome.standardError = QString::fromUtf8(child.readAllStandardError());
    return outcome;
}

int runTestOrScenario(const Scenarios &scenarios, const std::function<int()> &runTests)
{
    const QString scenario = qEnvironmentVariable(scenarioVariable);
    if (scenario.isEmpty()) {
        return runTests();
    }
    const auto found = scenarios.constFind(scenario);
    if (found == scenarios.constEnd()) {
        std::fprintf(stderr, "unknown scenario %s\n", qPrintable(scenario));
        return 2;
    }
    (*found)();
    std::fprintf(stderr, "scenario returned\n");
    return 0;
}
