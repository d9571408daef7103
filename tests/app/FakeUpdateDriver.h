#pragma once

#include "UpdateController.h"

#include <functional>

// An updater that reports what it is told and counts the checks it is asked for.
struct FakeUpdateDriver : AppUpdateDriving
{
    bool canCheck = false;
    int checks = 0;
    std::function<void(bool)> handler;

    bool canCheckForUpdates() const override { return canCheck; }
    void observeCanCheckForUpdates(std::function<void(bool)> observer) override { handler = std::move(observer); }
    void checkForUpdates() override { ++checks; }
};
