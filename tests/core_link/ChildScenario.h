#pragma once

#include <QString>

// Paths that stop the process run in a child process of the test executable itself: the child runs only the
// current test function with the current data row, and there inScenarioChild() tells the test to take the
// path; the parent inspects how the child ended.
struct ScenarioOutcome
{
    bool crashed = false;
    QString standardError;
};

bool inScenarioChild();
ScenarioOutcome runCurrentRowInChild();
