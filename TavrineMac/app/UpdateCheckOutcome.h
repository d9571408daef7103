#pragma once

#include "UpdateFeed.h"

#include <QString>
#include <QUrl>

#include <variant>

// What one check found, with the texts the user is shown.
struct UpdateCheckOutcome
{
    enum class Case
    {
        newerVersion,
        upToDate,
        failed,
    };

    Case kind = Case::failed;
    QString text;
    QString informativeText;
    // Set for a newer version: where the user gets it.
    QUrl downloadURL;

    bool operator==(const UpdateCheckOutcome &) const = default;

    static UpdateCheckOutcome of(const std::variant<UpdateFeed, UpdateFeedError> &feed, const QString &currentVersion);
    static UpdateCheckOutcome fetchFailed();
};

// Shows the outcome in a message box that does not wait for the user.
void showUpdateCheckOutcome(const UpdateCheckOutcome &outcome);
