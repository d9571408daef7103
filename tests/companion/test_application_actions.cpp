#include "ApplicationActions.h"
#include "DeviceSnapshotAction.h"
#include "TestSupport.h"
#include "transfers/FullDisk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <sys/statvfs.h>

using namespace Qt::StringLiterals;

using Listings = TestTable<QJsonObject, QStringList, qint64>;
using Requests = TestTable<QString, QString, QString, QJsonArray>;
using Files = TestTable<QByteArray>;

namespace {

const QString camera = u"com.example.camera"_s, settings = u"com.android.settings"_s,
              bluetooth = u"com.android.bluetooth"_s, notes = u"org.alpha.notes"_s;

QJsonObject application(const QString &packageName, const QString &name, bool system, bool launchable = true)
{
    return encodeManaged(ManagedApplication{packageName, name, u"1.0"_s, 7, 1'700'000'000'000, 1'710'000'000'000,
                                            system, true, launchable});
}

const QJsonArray applications = {
    application(camera, u"Camera Plus"_s, false), application(settings, u"Settings"_s, true),
    application(bluetooth, u"Bluetooth"_s, true, false), application(notes, u"alpha notes"_s, false)};

QByteArray jsonText(const QJsonArray &array)
{
    return QJsonDocument(array).toJson();
}

} // namespace

// The applications file and the actions on it, and the device snapshot.
class ApplicationActionsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_storage.emplace();
        m_file = ApplicationInventory(m_storage->path()).filePath();
        QVERIFY(writeFile(m_file, jsonText(applications)));
        m_actions.emplace(m_storage->path());
        m_handlers = ManagementHandlers();
        m_actions->addTo(m_handlers);
    }

    void lists_data()
    {
        const Listings rows; // payload, package names listed, nextPageToken (-1: none)
        rows("all by name, ignoring case", {{u"filter"_s, u"all"_s}}, {notes, bluetooth, camera, settings}, -1);
        rows("user", {{u"filter"_s, u"user"_s}}, {notes, camera}, -1);
        rows("system", {{u"filter"_s, u"system"_s}}, {bluetooth, settings}, -1);
        rows("query on package names", {{u"query"_s, u"ANDROID"_s}}, {bluetooth, settings}, -1);
        rows("query on names", {{u"query"_s, u"plus"_s}}, {camera}, -1);
        rows("first page", {{u"pageSize"_s, 3}}, {notes, bluetooth, camera}, 3);
    }

    void lists()
    {
        const auto [payload, packageNames, next] = Listings::fetch();
        const ManagementAnswer answer = ask(u"apps.list"_s, payload);
        QVERIFY2(answer.success, qPrintable(answer.message));
        const auto page = decodeManagedAnswer<ManagedApplicationPage>(answer.payload);
        QStringList listed;
        for (const ManagedApplication &application : page.applications)
            listed.append(application.packageName);
        QCOMPARE(listed, packageNames);
        QCOMPARE(page.nextPageToken.value_or(-1), next);
    }

    void requests_data()
    {
        const Requests rows; // action, packageName, what the failure message holds ("": success), the file after
        QJsonArray others = applications;
        others.removeFirst();
        rows("launch", u"apps.launch"_s, camera, u""_s, applications);
        rows("launch without a launcher entry", u"apps.launch"_s, bluetooth, u"这个应用无法打开。"_s, applications);
        rows("details", u"apps.details"_s, bluetooth, u""_s, applications);
        rows("uninstall keeps the others whole", u"apps.uninstall"_s, camera, u""_s, others);
        rows("uninstall unknown", u"apps.uninstall"_s, u"com.example.none"_s, u"找不到这个应用。"_s, applications);
        rows("one part only", u"apps.details"_s, u"camera"_s, u"\"packageName\""_s, applications);
    }

    void requests()
    {
        const auto [action, packageName, failure, file] = Requests::fetch();
        const ManagementAnswer answer = ask(action, {{u"packageName"_s, packageName}});
        QVERIFY2(answer.success == failure.isEmpty() && answer.message.contains(failure), qPrintable(answer.message));
        QCOMPARE(QJsonDocument::fromJson(contentsOf(m_file)).array(), file);
    }

    void refusesAWrongFile_data()
    {
        const Files rows; // the file's bytes
        rows("not JSON", "[{\"packageName\":");
        rows("an incomplete application", R"([{"packageName": "com.example.camera"}])");
        rows("more after a package name", jsonText({application(camera + u"/x"_s, u"X"_s, false)}));
        rows("a package twice", jsonText({applications.at(0), applications.at(0)}));
        rows("too large", "[" + QByteArray(ApplicationInventory::maximumFileBytes, ' ') + "]");
    }

    // The whole file is refused, not only the wrong entry.
    void refusesAWrongFile()
    {
        QVERIFY(writeFile(m_file, std::get<0>(Files::fetch())));
        QVERIFY(!ask(u"apps.list"_s, {}).success);
    }

    // On a full disk an uninstall fails and says so, and the applications file stays whole.
    void fullDiskKeepsTheApplicationsFile()
    {
        ManagementAnswer answer;
        {
            const FileSizeLimit fullDisk(64);
            QVERIFY(fullDisk.isActive());
            answer = ask(u"apps.uninstall"_s, {{u"packageName"_s, camera}});
        }
        QVERIFY2(!answer.success && answer.message.startsWith(u"Cannot write the applications file"_s),
                 qPrintable(answer.message));
        QCOMPARE(contentsOf(m_file), jsonText(applications));
    }

    // No file means no applications; a link in its place is not followed.
    void missingOrLinkedFile()
    {
        QVERIFY(QFile::remove(m_file));
        QCOMPARE(ask(u"apps.list"_s, {}).payload, u"{\"applications\":[],\"version\":1}"_s);
        QVERIFY(QFile::link(m_storage->filePath(u"elsewhere.json"_s), m_file));
        QVERIFY(writeFile(m_storage->filePath(u"elsewhere.json"_s), jsonText(applications)));
        QVERIFY(!ask(u"apps.list"_s, {}).success);
    }

    // The snapshot lists the actions of the table when it is taken and the storage folder's real file system figures.
    void snapshot()
    {
        DeviceSnapshotAction snapshot(m_storage->path(), u"测试手机"_s, [this] { return m_handlers.actions(); });
        snapshot.addTo(m_handlers);
        m_handlers.add(u"later.action"_s, {});

        struct statvfs fileSystem = {};
        QCOMPARE(::statvfs(QFile::encodeName(m_storage->path()).constData(), &fileSystem), 0);
        const auto answer = decodeManagedAnswer<ManagedDeviceSnapshot>(ask(u"device.snapshot"_s, {}).payload);
        QCOMPARE(answer.storage.totalBytes, qint64(fileSystem.f_blocks) * qint64(fileSystem.f_frsize));
        QVERIFY(answer.storage.availableBytes > 0 && answer.storage.availableBytes < answer.storage.totalBytes);
        QCOMPARE(answer.model, u"测试手机"_s);
        QVERIFY(answer.uptimeMillis > 0 && answer.capabilities.allFilesGranted);
        QCOMPARE(answer.capabilities.actions,
                 QStringList({u"apps.details"_s, u"apps.launch"_s, u"apps.list"_s, u"apps.uninstall"_s,
                              u"device.snapshot"_s, u"later.action"_s}));
    }

private:
    ManagementAnswer ask(const QString &action, const QJsonObject &payload)
    {
        return m_handlers.answer(action, QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact)));
    }

    std::optional<QTemporaryDir> m_storage;
    QString m_file;
    std::optional<ApplicationActions> m_actions;
    ManagementHandlers m_handlers;
};

QTEST_GUILESS_MAIN(ApplicationActionsTest)
#include "test_application_actions.moc"
