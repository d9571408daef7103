#include "../android_usb_views/UsbViewsTestSupport.h"
#include "../device_management/ManagementStoreFixture.h"
#include "DeviceManagementDashboard.h"
#include "TestSupport.h"

#include <QAbstractItemView>
#include <QBuffer>
#include <QLabel>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;

namespace {

QString jpegBase64(const QColor &color)
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(color);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return QString::fromLatin1(buffer.data().toBase64());
}

// A phone with a few folders and files, two photos and two applications.
Reply phone(const Request &request)
{
    const QJsonObject payload = request.object();
    if (request.action == u"device.snapshot") {
        ManagedDeviceSnapshot snapshot = pixelSnapshot();
        snapshot.capabilities.actions = {u"files.tree"_s};
        return Reply::json(encodeManaged(snapshot));
    }
    if (request.action == u"files.roots") {
        return Reply::json(encodeManaged(ManagedStorageRoots{1, {{u"root"_s, u"内部存储"_s, false, 1, 2}}}));
    }
    if (request.action == u"files.list") {
        return Reply::json(filePageJson(u"root"_s, {folderEntry(u"d1"_s, u"DCIM"_s), folderEntry(u"d2"_s, u"Download"_s),
                                                    fileEntry(u"f1"_s, u"旅行计划.pdf"_s, 2'400'000),
                                                    fileEntry(u"f2"_s, u"notes.txt"_s, 1200),
                                                    fileEntry(u"f3"_s, u"song.mp3"_s, 5'300'000)}));
    }
    if (request.action == u"media.list") {
        QJsonArray items;
        for (int index = 0; index < 2; ++index) {
            items.append(encodeManaged(ManagedMediaItem{u"m%1"_s.arg(index), u"IMG_%1.jpg"_s.arg(index),
                                                        ManagedMediaKind::photo, 90'000, 1'760'000'000'000 + index,
                                                        u"image/jpeg"_s, 320, 240, std::nullopt,
                                                        u"DCIM/IMG_%1.jpg"_s.arg(index), std::nullopt}));
        }
        return Reply::json({{u"version"_s, 1}, {u"items"_s, items}});
    }
    if (request.action == u"media.thumbnail") {
        const QString id = payload.value(u"id"_s).toString();
        return Reply::json(encodeManaged(ManagedMediaThumbnail{1, id, u"image/jpeg"_s, 320, 240,
                                                               jpegBase64(id == u"m0" ? Qt::darkCyan : Qt::darkRed)}));
    }
    if (request.action == u"apps.list") {
        return Reply::json(encodeManaged(ManagedApplicationPage{
            1,
            {{u"com.example.maps"_s, u"地图"_s, u"3.2"_s, 32, 1, 2, false, true, true},
             {u"com.example.notes"_s, u"记事本"_s, u"1.0"_s, 10, 1, 2, false, true, true}},
            std::nullopt}));
    }
    return Reply{};
}

} // namespace

// What a person reads on `root`: its labels and the items of its lists.
QStringList shownTexts(const QWidget *root)
{
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>()) {
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts.append(label->text());
    }
    for (const QAbstractItemView *view : root->findChildren<QAbstractItemView *>()) {
        if (!view->isVisibleTo(root) || !view->model())
            continue;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            texts.append(view->model()->index(row, 0).data().toString());
    }
    return texts;
}

// section, category → a text the section shows once its phone's answers are in
using Screens = TestTable<DashboardSection, std::optional<ManagedContentCategory>, QString>;

// The dashboard of a connected phone as a person sees it, section by section; the pictures stay in
// tavrine-screens/ of the temporary folder for a person to look at.
class DashboardScreenshotsTest : public QObject
{
    Q_OBJECT

private slots:
    void sections_data()
    {
        const Screens rows;
        rows("home", DashboardSection::home, std::nullopt, u"无线已连接 · 电量 76%"_s);
        rows("all files", DashboardSection::content, ManagedContentCategory::allFiles, u"旅行计划.pdf"_s);
        rows("photos", DashboardSection::content, ManagedContentCategory::photos, u"内容"_s);
        rows("applications", DashboardSection::applications, std::nullopt, u"地图"_s);
    }

    void sections()
    {
        const auto [section, category, read] = Screens::fetch();
        StoreFixture transfers;
        ManagementStoreFixture management;
        UsbViewsTestSupport::DeviceStoreFixture devices;
        devices.make();
        management.channel->answer = phone;
        DeviceManagementDashboard dashboard(u"Pixel 8"_s, &transfers.makePaired(), management.store.get(),
                                            devices.store.get(), DeviceManagementDashboard::Actions{}, section,
                                            category.value_or(ManagedContentCategory::allFiles));
        dashboard.resize(1100, 760);
        dashboard.show();
        const DeviceManagementStore &store = *management.store;
        QTRY_VERIFY(!store.isLoadingOverview() && !store.isLoadingFiles() && !store.isLoadingMedia() &&
                    !store.isLoadingApplications() && store.loadingThumbnailKeys().isEmpty());
        // The picture is taken once the section reads as a person sees it, every text whole.
        QTRY_VERIFY2(shownTexts(&dashboard).contains(read), qPrintable(shownTexts(&dashboard).join(u" | "_s)));
        QTRY_COMPARE(UsbViewsTestSupport::cutTexts(&dashboard), QStringList());
        const QImage picture = dashboard.grab().toImage();
        QCOMPARE(picture.size(), QSize(1100, 760) * picture.devicePixelRatio());
        const QString folder = QDir::temp().filePath(u"tavrine-screens"_s);
        QDir().mkpath(folder);
        QVERIFY(picture.save(QDir(folder).filePath(u"dashboard-%1.png"_s.arg(QString::fromLatin1(QTest::currentDataTag()))
                                                       .replace(u' ', u'-'))));
        QVERIFY(!store.errorMessage());
    }
};

QTEST_MAIN(DashboardScreenshotsTest)
#include "test_dashboard_screenshots.moc"
