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
        const QList<InstallHistoryRecord> records = historyForDevice(history, "abc");
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].id + records[1].id, "02");
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
