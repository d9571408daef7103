#pragma once

#include "ApplicationInventory.h"
#include "ListingSnapshots.h"
#include "ManagementHandlers.h"

#include <QJsonObject>
#include <QString>

// The management actions of the phone's applications, from its applications file:
//   "apps.list" {"query", "filter": "user"|"system"|"all", "pageToken", "pageSize"} answers one
//   ManagedApplicationPage, by name and then package name;
//   "apps.uninstall" {"packageName"} removes the application from the file;
//   "apps.launch" and "apps.details" {"packageName"} succeed for a known (and, to launch, launchable) one.
// The last three answer {}.
class ApplicationActions
{
public:
    // This object must outlive the handlers that `addTo` registers.
    explicit ApplicationActions(const QString &storageDirectory);
    ApplicationActions(const ApplicationActions &) = delete;
    ApplicationActions &operator=(const ApplicationActions &) = delete;

    void addTo(ManagementHandlers &handlers);

private:
    ManagementAnswer list(const QJsonObject &payload);
    ManagementAnswer uninstall(const QJsonObject &payload);
    ManagementAnswer launch(const QJsonObject &payload);
    ManagementAnswer details(const QJsonObject &payload);

    ApplicationInventory m_inventory;
    // The pages of each listing come from what its first page found.
    ListingSnapshots<ManagedApplication> m_listings;
};
