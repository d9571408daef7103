#include "ApplicationActions.h"

#include "ActionPayload.h"

#include <algorithm>
#include <variant>

namespace {

const QString listAction = QStringLiteral("apps.list");
const QString uninstallAction = QStringLiteral("apps.uninstall");
const QString launchAction = QStringLiteral("apps.launch");
const QString detailsAction = QStringLiteral("apps.details");
const QString packageNameKey = QStringLiteral("packageName");

const QString unknownApplicationMessage = QStringLiteral("找不到这个应用。");
const QString notLaunchableMessage = QStringLiteral("这个应用无法打开。");

// Why the applications file was refused, as the answer gives it.
struct RefusedInventory
{
    QString message;
};

// The application that a payload's "packageName" names, with all applications; or the answer to give.
struct NamedApplication
{
    QList<ManagedApplication> applications;
    qsizetype index = -1;
};

std::variant<NamedApplication, ManagementAnswer> namedApplication(const ApplicationInventory &inventory,
                                                                  const QJsonObject &payload)
{
    const QString packageName = ActionPayload::text(payload, packageNameKey);
    if (!ApplicationInventory::isPackageName(packageName)) {
        throw ActionPayload::refusal(packageNameKey, QStringLiteral("an Android package name"));
    }
    QString errorMessage;
    std::optional<QList<ManagedApplication>> applications = inventory.load(&errorMessage);
    if (!applications) {
        return ManagementAnswer::failed(errorMessage);
    }
    const auto found =
        std::find_if(applications->cbegin(), applications->cend(),
                     [&](const ManagedApplication &application) { return application.packageName == packageName; });
    if (found == applications->cend()) {
        return ManagementAnswer::failed(unknownApplicationMessage);
    }
    const qsizetype index = found - applications->cbegin();
    return NamedApplication{std::move(*applications), index};
}

} // namespace

ApplicationActions::ApplicationActions(const QString &storageDirectory) : m_inventory(storageDirectory) {}

void ApplicationActions::addTo(ManagementHandlers &handlers)
{
    handlers.add(listAction, [this](const QJsonObject &payload) { return list(payload); });
    handlers.add(uninstallAction, [this](const QJsonObject &payload) { return uninstall(payload); });
    handlers.add(launchAction, [this](const QJsonObject &payload) { return launch(payload); });
    handlers.add(detailsAction, [this](const QJsonObject &payload) { return details(payload); });
}

ManagementAnswer ApplicationActions::list(const QJsonObject &payload)
{
    const QString query = ActionPayload::optionalText(payload, QStringLiteral("query"));
    QString filter = ActionPayload::optionalText(payload, QStringLiteral("filter"));
    if (filter.isEmpty()) {
        filter = QStringLiteral("all");
    }
    if (filter != u"user" && filter != u"system" && filter != u"all") {
        throw ActionPayload::refusal(QStringLiteral("filter"), QStringLiteral("\"user\", \"system\" or \"all\""));
    }

    const auto listMatching = [this, &filter, &query] {
        QString errorMessage;
        const std::optional<QList<ManagedApplication>> applications = m_inventory.load(&errorMessage);
        if (!applications) {
            throw RefusedInventory{errorMessage};
        }
        QList<ManagedApplication> matching;
        for (const ManagedApplication &application : *applications) {
            const bool kept = filter == u"all" || application.system == (filter == u"system");
            if (kept && (application.name.contains(query, Qt::CaseInsensitive) ||
                         application.packageName.contains(query, Qt::CaseInsensitive))) {
                matching.append(application);
            }
        }
        std::sort(matching.begin(), matching.end(),
                  [](const ManagedApplication &left, const ManagedApplication &right) {
                      const int byName = QString::compare(left.name, right.name, Qt::CaseInsensitive);
                      return byName != 0 ? byName < 0 : left.packageName < right.packageName;
                  });
        return matching;
    };
    ActionPayload::Page<ManagedApplication> page;
    try {
        page = m_listings.page(payload, {filter, query}, listMatching);
    } catch (const RefusedInventory &refused) {
        return ManagementAnswer::failed(refused.message);
    }
    return ManagementAnswer::succeeded(encodeManaged(ManagedApplicationPage{1, page.items, page.nextPageToken}));
}

ManagementAnswer ApplicationActions::uninstall(const QJsonObject &payload)
{
    auto named = namedApplication(m_inventory, payload);
    if (const auto *answer = std::get_if<ManagementAnswer>(&named)) {
        return *answer;
    }
    NamedApplication &application = std::get<NamedApplication>(named);
    application.applications.removeAt(application.index);
    QString errorMessage;
    if (!m_inventory.save(application.applications, &errorMessage)) {
        return ManagementAnswer::failed(errorMessage);
    }
    return ManagementAnswer::succeeded({});
}

ManagementAnswer ApplicationActions::launch(const QJsonObject &payload)
{
    const auto named = namedApplication(m_inventory, payload);
    if (const auto *answer = std::get_if<ManagementAnswer>(&named)) {
        return *answer;
    }
    const NamedApplication &application = std::get<NamedApplication>(named);
    if (!application.applications.at(application.index).launchable) {
        return ManagementAnswer::failed(notLaunchableMessage);
    }
    return ManagementAnswer::succeeded({});
}

ManagementAnswer ApplicationActions::details(const QJsonObject &payload)
{
    const auto named = namedApplication(m_inventory, payload);
    if (const auto *answer = std::get_if<ManagementAnswer>(&named)) {
        return *answer;
    }
    return ManagementAnswer::succeeded({});
}
