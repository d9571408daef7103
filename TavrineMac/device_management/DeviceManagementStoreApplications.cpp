#include "DeviceManagementStore.h"

#include "ManagedPaging.h"

namespace {

const QString applicationListAction = QStringLiteral("apps.list");
const QString uninstallAction = QStringLiteral("apps.uninstall");
const QString launchAction = QStringLiteral("apps.launch");
const QString detailsAction = QStringLiteral("apps.details");

} // namespace

QCoro::Task<void> DeviceManagementStore::loadApplications()
{
    const quint64 generation = m_sessionGeneration;
    if (!m_channel->isConnected() || m_isLoadingApplications) {
        co_return;
    }
    setIsLoadingApplications(true);
    setErrorMessage(std::nullopt);
    // Every page answers the search and scope the load began with, so one list never mixes two of them.
    const QString query = m_applicationQuery;
    const QString filter = rawValue(m_applicationFilter);
    QList<ManagedApplication> gathered;
    ManagedPaging paging(ManagedPaging::Listing::applications);
    try {
        while (true) {
            const QJsonObject payload{{QStringLiteral("query"), query},
                                      {QStringLiteral("filter"), filter},
                                      {QStringLiteral("pageToken"), paging.pageToken()},
                                      {QStringLiteral("pageSize"), pageSize}};
            const QString answer = co_await requestText(applicationListAction, payload);
            const auto page = paging.read<ManagedApplicationPage>(answer);
            if (!isCurrent(generation)) {
                co_return;
            }
            gathered.append(page.applications);
            if (gathered.size() >= maximumListedApplications || !paging.advance(page.nextPageToken)) {
                break;
            }
        }
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
            setIsLoadingApplications(false);
        }
        co_return;
    }
    setApplications(gathered);
    setIsLoadingApplications(false);
}

QCoro::Task<void> DeviceManagementStore::uninstallApplication(ManagedApplication application)
{
    co_await requestApplicationAction(uninstallAction, application,
                                      QStringLiteral("请点按手机通知，确认卸载 ") + application.name);
}

QCoro::Task<void> DeviceManagementStore::launchApplication(ManagedApplication application)
{
    co_await requestApplicationAction(launchAction, application,
                                      QStringLiteral("请点按手机通知，打开 ") + application.name);
}

QCoro::Task<void> DeviceManagementStore::showApplicationDetails(ManagedApplication application)
{
    co_await requestApplicationAction(detailsAction, application, QStringLiteral("请点按手机通知，查看应用详情"));
}

QCoro::Task<void> DeviceManagementStore::requestApplicationAction(QString action, ManagedApplication application,
                                                                  QString hint)
{
    const quint64 generation = m_sessionGeneration;
    try {
        // The phone only posts a notification: its answer carries nothing to read.
        co_await requestText(action, {{QStringLiteral("packageName"), application.packageName}});
    } catch (...) {
        if (isCurrent(generation)) {
            present(std::current_exception());
        }
        co_return;
    }
    if (isCurrent(generation)) {
        setMessage(hint);
        setErrorMessage(std::nullopt);
    }
}
