#include "ApplicationActions.h"
#include "DeviceSnapshotAction.h"
#include "MediaActions.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <sys/statvfs.h>

using namespace Qt::StringLiterals;

using Listings = TestTable<QJsonObject, QStringList, qint64>;
using Requests = TestTable<QString, QJsonValue, QString>;
using Files = TestTable<QByteArray, int>;

namespace {

QJsonObject application(const QString &packageName, const QString &name, bool system, bool launchable = true)
{
    return ManagedApplication{packageName,       name,   u"1.0"_s, 7,         1'700'000'000'000,
                              1'710'000'000'000, system, true,     launchable}
        .toJson();
}

const QJsonArray applications = {
    application(u"com.example.camera"_s, u"Camera Plus"_s, false),
    application(u"com.android.settings"_s, u"Settings"_s, true),
    application(u"com.android.bluetooth"_s, u"Bluetooth"_s, true, false),
    application(u"org.alpha.notes"_s, u"alpha notes"_s, false),
};

QByteArray jsonText(const QJsonArray &array)
{
    return QJsonDocument(array).toJson();
}

QString payloadText(const QJsonObject &payload)
{
    return QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
}

QJsonObject answerObject(const ManagementAnswer &answer)
{
    return QJsonDocument::fromJson(answer.payload.toUtf8()).object();
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
        m_inventory.emplace(m_storage->path());
        QVERIFY(writeFile(m_inventory->filePath(), jsonText(applications)));
        m_actions.emplace(m_storage->path());
        m_handlers = ManagementHandlers();
        m_actions->addTo(m_handlers);
    }

    void lists_data()
    {
        const Listings rows; // payload, package names listed, nextPageToken (-1: none)
        const QString camera = u"com.example.camera"_s, settings = u"com.android.settings"_s,
                      bluetooth = u"com.android.bluetooth"_s, notes = u"org.alpha.notes"_s;
        rows("all by name", {{u"filter"_s, u"all"_s}}, {notes, bluetooth, camera, settings}, -1);
        rows("user", {{u"filter"_s, u"user"_s}}, {notes, camera}, -1);
        rows("system", {{u"filter"_s, u"system"_s}}, {bluetooth, settings}, -1);
        rows("query on package names", {{u"query"_s, u"ANDROID"_s}}, {bluetooth, settings}, -1);
        rows("query on names and filter", {{u"query"_s, u"a"_s}, {u"filter"_s, u"user"_s}}, {notes, camera}, -1);
        rows("first page", {{u"pageSize"_s, 3}}, {notes, bluetooth, camera}, 3);
        rows("last page", {{u"pageToken"_s, 3}, {u"pageSize"_s, 3}}, {settings}, -1);
    }

    void lists()
    {
        const auto [payload, packageNames, next] = Listings::fetch();
        QCOMPARE(listed(payload), packageNames);
        QCOMPARE(answerObject(m_handlers.answer(u"apps.list"_s, payloadText(payload)))
                     .value(u"nextPageToken"_s)
                     .toInteger(-1),
                 next);
    }

    void requests_data()
    {
        const Requests rows; // action, packageName, what the failure message holds ("": success)
        const QString unknown = u"找不到这个应用。"_s;
        rows("launch", u"apps.launch"_s, u"com.example.camera"_s, u""_s);
        rows("launch without a launcher entry", u"apps.launch"_s, u"com.android.bluetooth"_s, u"无法打开"_s);
        rows("launch unknown", u"apps.launch"_s, u"com.example.none"_s, unknown);
        rows("details", u"apps.details"_s, u"com.android.bluetooth"_s, u""_s);
        rows("details unknown", u"apps.details"_s, u"com.example.none"_s, unknown);
        rows("uninstall unknown", u"apps.uninstall"_s, u"com.example.none"_s, unknown);
        rows("one part only", u"apps.details"_s, u"camera"_s, u"\"packageName\""_s);
        rows("not a text", u"apps.uninstall"_s, 42, u"\"packageName\""_s);
    }

    void requests()
    {
        const auto [action, packageName, failure] = Requests::fetch();
        const ManagementAnswer answer = m_handlers.answer(action, payloadText({{u"packageName"_s, packageName}}));
        if (failure.isEmpty())
            QCOMPARE(answer, ManagementAnswer::succeeded({}));
        else
            QVERIFY2(!answer.success && answer.message.contains(failure), qPrintable(answer.message));
        QCOMPARE(contentsOf(m_inventory->filePath()), jsonText(applications));
    }

    void uninstalledApplicationIsGone()
    {
        const QString camera = payloadText({{u"packageName"_s, u"com.example.camera"_s}});
        QCOMPARE(m_handlers.answer(u"apps.uninstall"_s, camera), ManagementAnswer::succeeded({}));
        QCOMPARE(listed({}),
                 QStringList({u"org.alpha.notes"_s, u"com.android.bluetooth"_s, u"com.android.settings"_s}));
        QVERIFY(!m_handlers.answer(u"apps.launch"_s, camera).success);
        QVERIFY(!m_handlers.answer(u"apps.uninstall"_s, camera).success);
    }

    void readsTheFileStrictly_data()
    {
        const Files rows; // the file's bytes, and how many applications it holds (-1: refused)
        QJsonObject wrongType = applications.at(0).toObject();
        wrongType.insert(u"versionCode"_s, u"7"_s);
        QJsonObject fraction = applications.at(0).toObject();
        fraction.insert(u"updatedAtMillis"_s, 1.5);
        QJsonObject incomplete = applications.at(0).toObject();
        incomplete.remove(u"launchable"_s);
        rows("empty array", "[]", 0);
        rows("every application", jsonText(applications), 4);
        rows("not JSON", "[{\"packageName\":", -1);
        rows("an entry that is no object", "[1]", -1);
        rows("a value of the wrong type", jsonText({wrongType}), -1);
        rows("a fraction", jsonText({fraction}), -1);
        rows("a missing key", jsonText({incomplete}), -1);
        rows("a bad package name", jsonText({application(u"com..x"_s, u"X"_s, false)}), -1);
        rows("a package twice", jsonText({applications.at(0), applications.at(0)}), -1);
        rows("too large", "[" + QByteArray(ApplicationInventory::maximumFileBytes, ' ') + "]", -1);
    }

    void readsTheFileStrictly()
    {
        const auto [bytes, count] = Files::fetch();
        const auto parsed = ApplicationInventory::parse(bytes);
        QCOMPARE(parsed ? parsed->size() : -1, count);

        QVERIFY(writeFile(m_inventory->filePath(), bytes));
        QCOMPARE(m_handlers.answer(u"apps.list"_s, u"{}"_s).success, count >= 0);
    }

    void missingFileHasNoApplications()
    {
        QVERIFY(QFile::remove(m_inventory->filePath()));
        QCOMPARE(listed({}), QStringList());
        QVERIFY(QFile::link(m_storage->filePath(u"elsewhere.json"_s), m_inventory->filePath()));
        QVERIFY(!m_handlers.answer(u"apps.list"_s, u"{}"_s).success);
    }

    // The snapshot lists the actions of the final table and the storage folder's real file system figures.
    void snapshot()
    {
        MediaActions media(m_storage->path());
        media.addTo(m_handlers);
        DeviceSnapshotAction snapshot(m_storage->path(), u"测试手机"_s, [this] { return m_handlers.actions(); });
        snapshot.addTo(m_handlers);

        struct statvfs fileSystem = {};
        QCOMPARE(::statvfs(QFile::encodeName(m_storage->path()).constData(), &fileSystem), 0);
        const QJsonObject answer = answerObject(m_handlers.answer(u"device.snapshot"_s, u"{}"_s));
        const QJsonObject storage = answer.value(u"storage"_s).toObject();
        QCOMPARE(storage.value(u"totalBytes"_s).toInteger(), qint64(fileSystem.f_blocks) * qint64(fileSystem.f_frsize));
        const qint64 available = qint64(fileSystem.f_bavail) * qint64(fileSystem.f_frsize);
        // Other programs write meanwhile.
        QVERIFY(std::abs(storage.value(u"availableBytes"_s).toInteger() - available) < (qint64(256) << 20));

        QCOMPARE(answer.value(u"model"_s).toString(), u"测试手机"_s);
        QVERIFY(answer.value(u"uptimeMillis"_s).toInteger() > 0);
        const QJsonObject capabilities = answer.value(u"capabilities"_s).toObject();
        QCOMPARE(capabilities.value(u"actions"_s).toVariant().toStringList(),
                 QStringList({u"apps.details"_s, u"apps.launch"_s, u"apps.list"_s, u"apps.uninstall"_s,
                              u"device.snapshot"_s, u"media.list"_s, u"media.thumbnail"_s}));
        QCOMPARE(capabilities.value(u"allFilesGranted"_s), true);
    }

private:
    QStringList listed(const QJsonObject &payload)
    {
        const ManagementAnswer answer = m_handlers.answer(u"apps.list"_s, payloadText(payload));
        [&] {
            QVERIFY2(answer.success, qPrintable(answer.message));
        }();
        QStringList packageNames;
        for (const QJsonValue &application : answerObject(answer).value(u"applications"_s).toArray()) {
            const auto decoded = ManagedApplication::fromJson(application.toObject());
            packageNames.append(decoded ? decoded->packageName : u"<undecodable>"_s);
        }
        return packageNames;
    }

    std::optional<QTemporaryDir> m_storage;
    std::optional<ApplicationInventory> m_inventory;
    std::optional<ApplicationActions> m_actions;
    ManagementHandlers m_handlers;
};

QTEST_GUILESS_MAIN(ApplicationActionsTest)
#include "test_application_actions.moc"
