#include "LiteralTextChecks.h"
#include "NativeFolderPanelSession.h"
#include "TransferTaskCenter.h"
#include "ViewMessageBox.h"
#include "ViewsTestSupport.h"

using namespace ViewsTestSupport;
using namespace LiteralTextChecks;

namespace {

struct Surroundings
{
    StoreFixture transfers;
    QTemporaryDir folder;
};

} // namespace

class TransferLiteralTextsTest : public QObject
{
    Q_OBJECT

private slots:
    void namesAndMessagesShowAsTheyStand_data()
    {
        const Rows<Surroundings> rows;
        rows("task center: a file, its batch and the phone's failure",
             [](QWidget &host, Surroundings &around, const QString &text) {
                 TransferTaskRecord failed = task("t", Status::failed, Direction::receiving, 0, 0, text);
                 failed.fileName = text;
                 failed.batchName = text;
                 host.layout()->addWidget(new TransferTaskCenter(&storeWithTasks(around.transfers, {failed})));
             });
        rows("folder panel: the folder shown and its sub-folders' tool tips",
             [](QWidget &host, Surroundings &around, const QString &text) {
                 const QString shown = around.folder.filePath(text);
                 QDir().mkpath(shown + QLatin1Char('/') + text);
                 auto *panel = new NativeFolderPanelSession([](const std::optional<QString> &) {}, shown);
                 panel->setParent(&host, panel->windowFlags());
             });
        rows("message box quoting a phone's name", [](QWidget &host, Surroundings &, const QString &text) {
            ViewMessageBox::open(&host, QMessageBox::Warning, "移除 " + text + "？", text, "好");
        });
    }

    void namesAndMessagesShowAsTheyStand() { QCOMPARE(rowFaults<Surroundings>(), QString()); }
};

QTEST_MAIN(TransferLiteralTextsTest)
#include "test_transfer_literal_texts.moc"
