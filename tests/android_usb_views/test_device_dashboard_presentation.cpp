#include "DeviceDashboardPresentation.h"
#include "TestSupport.h"

using namespace DeviceDashboardPresentation;

using InfoRows = TestTable<std::optional<QString>, std::optional<QString>, QString>;

namespace {

QString joined(const QList<DeviceInfoRow> &rows)
{
    QStringList texts;
    for (const DeviceInfoRow &row : rows)
        texts.append(row.label + "=" + row.value);
    return texts.join(", ");
}

} // namespace

class DeviceDashboardPresentationTest : public QObject
{
    Q_OBJECT

private slots:
    void deviceInfoRows_data()
    {
        const InfoRows rows;
        rows("both", "14", "Google", "连接方式=USB, 系统=Android 14, 制造商=Google, 设备编号=R5CT");
        rows("neither", {}, {}, "连接方式=USB, 设备编号=R5CT");
        rows("both empty", "", "", "连接方式=USB, 设备编号=R5CT");
    }

    void deviceInfoRows()
    {
        const auto [version, manufacturer, reads] = InfoRows::fetch();
        AndroidDevice device;
        device.serial = "R5CT";
        device.androidVersion = version;
        device.manufacturer = manufacturer;
        QCOMPARE(joined(DeviceDashboardPresentation::deviceInfoRows(device)), reads);
    }

    void historyKeepsOnlyThisPhonesRecordsInOrder()
    {
        QList<InstallHistoryRecord> history;
        for (const char *serial : {"abc", "ABC", "abc", "abcd"})
            history.append({QString::number(history.size()), serial, {}, {}, {}, true, {}});
        AndroidDevice device;
        device.serial = "abc";
        const QList<InstallHistoryRecord> records = historyForDevice(history, device, {device});
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].id + records[1].id, "02");
    }

    // Two phones listed with one serial each see the records made under their own names, not the other's; a phone
    // alone with its serial sees every record of it, whatever name it had then.
    void phonesSharingASerialKeepTheirOwnHistory()
    {
        AndroidDevice first;
        first.serial = "0123456789ABCDEF";
        first.transportID = "1";
        first.model = "Pixel 7";
        AndroidDevice second = first;
        second.transportID = "2";
        second.model = "Galaxy A14";
        QList<InstallHistoryRecord> history;
        for (const char *name : {"Pixel 7", "Galaxy A14", "Pixel 7", "Old name"})
            history.append({QString::number(history.size()), first.serial, name, {}, {}, true, {}});
        const auto ids = [](const QList<InstallHistoryRecord> &records) {
            QString joined;
            for (const InstallHistoryRecord &record : records)
                joined += record.id;
            return joined;
        };
        QCOMPARE(ids(historyForDevice(history, first, {first, second})), "02");
        QCOMPARE(ids(historyForDevice(history, second, {first, second})), "1");
        QCOMPARE(ids(historyForDevice(history, first, {first})), "0123");
    }

    void companionTexts()
    {
        // A version without a size is not enough for the version line.
        QCOMPARE(companionSubtitle({"Tavrine 1.4.0", {}, {}, true, false}),
                 "当前电脑版本未包含手机端安装包，请使用已安装的手机端连接。");
        QCOMPARE(companionSubtitle({"Tavrine 1.4.0", {}, "缺少元数据", true, false}), "缺少元数据");

        QCOMPARE(companionConfirmationMessage("Pixel 8", std::nullopt),
                 "将在 Pixel 8 上安装或更新 Tavrine 手机端（未知大小）。Android 可能会要求你在手机上确认一次，"
                 "完成后 Tavrine 会自动打开并继续配对。");
        const CompanionAPKArtifact artifact{"/a.apk", {1, "com.drovan.tavrine", "2.0.1", 201, {}, {}, {}}, 999};
        QCOMPARE(companionConfirmationMessage("Pixel 8", artifact),
                 "将在 Pixel 8 上安装或更新 Tavrine 2.0.1（999 字节）。Android 可能会要求你在手机上确认一次，"
                 "完成后 Tavrine 会自动打开并继续配对。");
    }
};

QTEST_GUILESS_MAIN(DeviceDashboardPresentationTest)
#include "test_device_dashboard_presentation.moc"
