#include "FakeTransferClient.h"
#include "ManagedTransferActions.h"
#include "StorageTree.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// What happens after upload-1 is prepared into Docs, in order: "wait N" N minutes pass, "prepare" it is prepared
// again, "others N" N other transfers are prepared, "receiving", "failed" or "cancelled" an event of its transfer;
// and the folder its file then goes into (empty: the storage folder).
using Preparations = TestTable<QStringList, QString>;

// The prepared transfers are bounded by age and count, but a file on its way keeps its folder.
class ManagedTransferActionsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        m_storage = QFileInfo(m_root->path()).canonicalFilePath() + u"/storage"_s;
        QVERIFY(QDir().mkpath(m_storage + u"/Docs"_s));
        m_now = {};
        m_actions.emplace(m_client, m_storage, [this] { return m_now; });
        m_handlers = ManagementHandlers();
        m_actions->addTo(m_handlers);
    }

    void preparationsAreForgotten_data()
    {
        const Preparations rows;
        rows("kept for nearly ten minutes", {u"wait 9"_s}, u"Docs"_s);
        rows("forgotten after ten minutes", {u"wait 10"_s}, {});
        rows("prepared again, aged anew", {u"wait 9"_s, u"prepare"_s, u"wait 9"_s}, u"Docs"_s);
        rows("file on its way, kept however long", {u"wait 9"_s, u"receiving"_s, u"wait 600"_s}, u"Docs"_s);
        rows("failed transfer forgotten", {u"receiving"_s, u"failed"_s}, {});
        rows("cancelled transfer forgotten", {u"cancelled"_s}, {});
        rows("kept among as many as are kept", {u"others 9999"_s}, u"Docs"_s);
        rows("the oldest forgotten beyond", {u"others 10000"_s}, {});
        rows("file on its way outlasts newer preparations", {u"receiving"_s, u"others 10000"_s}, u"Docs"_s);
    }

    void preparationsAreForgotten()
    {
        const auto [steps, folder] = Preparations::fetch();
        QVERIFY(prepare(u"upload-1"_s, StorageIds::idForRelativePath(u"Docs"_s)));
        for (const QString &step : steps) {
            const int count = step.section(u' ', 1).toInt();
            if (step.startsWith(u"wait "_s)) {
                m_now += std::chrono::minutes(count);
            } else if (step == u"prepare"_s) {
                QVERIFY(prepare(u"upload-1"_s, StorageIds::idForRelativePath(u"Docs"_s)));
            } else if (step.startsWith(u"others "_s)) {
                for (int other = 0; other < count; ++other)
                    QVERIFY(prepare(u"other-%1"_s.arg(other), u"root"_s));
            } else {
                const TransferEventKind kind = step == u"receiving"_s ? TransferEventKind::receiving
                                               : step == u"failed"_s  ? TransferEventKind::failed
                                                                      : TransferEventKind::cancelled;
                m_actions->followReceivedTransfer(
                    {.kind = kind, .direction = TransferDirection::receiving, .transferId = u"upload-1"_s});
            }
        }
        const QString expected = folder.isEmpty() ? m_storage : m_storage + u'/' + folder;
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-1"_s, nullptr), std::optional(expected));
        // Taken once: the next file of the same transfer goes to the storage folder.
        QCOMPARE(m_actions->takeDeliveryFolder(u"upload-1"_s, nullptr), std::optional(m_storage));
    }

private:
    bool prepare(const QString &transferId, const QString &folderId)
    {
        const QJsonObject payload{{u"transferId"_s, transferId}, {u"directoryId"_s, folderId}};
        return m_handlers
            .answer(u"files.prepare_upload"_s, QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact)))
            .success;
    }

    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    std::chrono::steady_clock::time_point m_now;
    FakeTransferClient m_client;
    std::optional<ManagedTransferActions> m_actions;
    ManagementHandlers m_handlers;
};

QTEST_GUILESS_MAIN(ManagedTransferActionsTest)
#include "test_managed_transfer_actions.moc"
