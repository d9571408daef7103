#pragma once

#include <QJsonObject>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <memory>

// The object that drives the updater; the controller holds it only through this interface.
class AppUpdateDriving
{
public:
    virtual ~AppUpdateDriving() = default;
    virtual bool canCheckForUpdates() const = 0;
    // The handler receives the current value once, later on the event loop, then every change.
    virtual void observeCanCheckForUpdates(std::function<void(bool)> handler) = 0;
    virtual void checkForUpdates() = 0;
};

// Decides once whether updates are possible at all and publishes whether a check can start now.
class AppUpdateController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    struct Availability
    {
        enum class Case
        {
            invalid,
            ready,
            disabled,
        };

        Case kind = Case::disabled;
        // The description of the configuration error when invalid.
        QString reason;

        static Availability invalid(QString reason) { return {Case::invalid, std::move(reason)}; }
        static Availability ready() { return {Case::ready, {}}; }
        static Availability disabled() { return {}; }
        bool operator==(const Availability &) const = default;
    };

    // The application's controller: reads the application info unless the environment marks a test run, and makes
    // its driver from the update module at `modulePath`.
    AppUpdateController(const QJsonObject &applicationInfo, const QProcessEnvironment &environment,
                        const QString &modulePath = bundledDriverModulePath(), QObject *parent = nullptr);
    AppUpdateController(Availability availability, std::unique_ptr<AppUpdateDriving> driver, QObject *parent = nullptr);
    ~AppUpdateController() override;

    // The update module installed beside the executable.
    static QString bundledDriverModulePath();

    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    const Availability &availability() const { return m_availability; }
    AppUpdateDriving *driver() const { return m_driver.get(); }

    void checkForUpdates();

signals:
    void canCheckForUpdatesChanged(bool canCheckForUpdates);

private:
    using Decision = std::pair<Availability, std::unique_ptr<AppUpdateDriving>>;
    AppUpdateController(Decision decision, QObject *parent);
    static Decision decide(const QJsonObject &applicationInfo, const QProcessEnvironment &environment,
                           const QString &modulePath);
    void setCanCheckForUpdates(bool canCheck);

    bool m_canCheckForUpdates = false;
    const Availability m_availability;
    std::unique_ptr<AppUpdateDriving> m_driver;
};
