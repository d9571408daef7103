#include "../device_management/ManagementStoreFixture.h"
#include "../transfers_views/LiteralTextChecks.h"
#include "../transfers_views/ViewsTestSupport.h"
#include "ApplicationListModel.h"
#include "DeviceOverviewPane.h"
#include "FilesPaneDialogs.h"
#include "ManagedMediaPreview.h"
#include "ManagementMessageBar.h"

#include <QListView>

using namespace ViewsTestSupport;
using namespace LiteralTextChecks;

namespace {

struct Stores
{
    StoreFixture transfers;
    ManagementStoreFixture management;
};

} // namespace

class ManagementLiteralTextsTest : public QObject
{
    Q_OBJECT

private slots:
    void phoneTextsShowAsTheyStand_data()
    {
        const Rows<Stores> rows;
        rows("message bar: the phone's failure", [](QWidget &host, Stores &, const QString &text) {
            host.layout()->addWidget(new ManagementMessageBar("操作失败：" + text, true, {}));
        });
        rows("overview: the phone's name and a recent file", [](QWidget &host, Stores &stores, const QString &text) {
            TransferTaskRecord received = task("t", Status::completed, Direction::receiving, 10, 10);
            received.fileName = text;
            host.layout()->addWidget(new DeviceOverviewPane(text, &storeWithTasks(stores.transfers, {received}),
                                                            stores.management.store.get(), std::nullopt, {}));
        });
        rows("question quoting a file's name", [](QWidget &host, Stores &, const QString &text) {
            FilesPaneDialogs::present(&host, FilesPaneDialogs::moveToTrash({fileEntry("f", text)}),
                                      [](int, const QString &) {});
        });
        rows("photo preview: the photo's name", [](QWidget &host, Stores &stores, const QString &text) {
            stores.management.store->setMediaItems({{"m", text, ManagedMediaKind::photo, 1, 1'700'000'000'000,
                                                     "image/jpeg", 40, 30, 0, "DCIM/m", std::nullopt}});
            new ManagedMediaPreview(*stores.management.store, QStringLiteral("m"), &host);
        });
        rows("applications: the list's tool tip", [](QWidget &host, Stores &, const QString &text) {
            auto *list = new QListView;
            auto *applications = new ApplicationListModel(list);
            applications->setApplications({{"com.example", text, "1.0", 1, 0, 0, false, true, true}});
            list->setModel(applications);
            host.layout()->addWidget(list);
        });
    }

    void phoneTextsShowAsTheyStand() { QCOMPARE(rowFaults<Stores>(), QString()); }
};

QTEST_MAIN(ManagementLiteralTextsTest)
#include "test_management_literal_texts.moc"
