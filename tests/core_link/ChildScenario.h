#pragma once

#include <QHash>
#include <QString>

#include <functional>

// Runs paths that stop the process in a child process of the test executable itself. The test's main
// hands its scenarios to runTestOrScenario; a test starts one with runScenarioInChild and inspects how the
// child ended.
struct ScenarioOutcome
{
    bool crashed = false;
    int exitCode = 0;
    QString standardError;
};

using Scenarios = QHash<QString, std::function<void()>>;

ScenarioOutcome runScenarioInChild(const QString &scenario);

// In the child, runs the scenario named by the environment and returns its exit code; otherwise runs
// `runTests`.
int runTestOrScenario(const Scenarios &scenarios, const std::function<int()> &runTests);
