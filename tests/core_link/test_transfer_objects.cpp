#include "ChildScenario.h"
#include "FakeTavrineCore.h"
#include "TestSupport.h"
#include "TransferClient.h"
#include "TransferHost.h"

#include <QtTest>

#include <functional>

using Answer = FakeTavrineCore::Answer;
using Buffer = FakeTavrineCore::Buffer;
using Body = std::function<void()>;

using namespace coretest;

namespace {

Answer coreError(const QByteArray &errorBytes)
{
    return {.code = 1, .errorBuffer = Buffer{errorBytes}};
}

Answer returning(const QByteArray &bytes)
{
    return {.result = Buffer{bytes}};
}

// Every call so far as "function buffer|buffer… number|number…".
QStringList describedCalls()
{
    QStringList described;
    for (const FakeTavrineCore::Call &call : std::as_const(fake().calls)) {
        QStringList numbers;
        for (int64_t number : call.numbers)
            numbers.append(QString::number(number));
        described.append(
            (call.function + ' ' + QString::fromUtf8(call.buffers.join('|')) + ' ' + numbers.join('|')).trimmed());
    }
    return described;
}

} // namespace

using FailingCalls = TestTable<Answer, QString>;
using BrokenContracts = TestTable<Body, QString>;

class TransferObjectsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { fake().resetCalls(); }
    void cleanup()
    {
        QCOMPARE(fake().liveBufferCount(), 0);
        QCOMPARE(fake().liveHandleCount(), 0);
        QCOMPARE(fake().misuse, QStringList());
    }

    void constructorsLowerTheirTextsInOrderAndObjectsFreeOnce()
    {
        uint64_t hostHandle = 0;
        uint64_t clientHandle = 0;
        {
            auto host = TransferHost::start("192.0.2.4", "/home/u/Downloads/Tavrine", "我的电脑", QString(), "s3cret");
            auto client = TransferClient::connect("tavrine://pair/v1?x", QString(), "Pixel", "/sdcard");
            hostHandle = host->handle();
            clientHandle = client->handle();
            QVERIFY(fake().isLiveHandle(hostHandle) && fake().isLiveHandle(clientHandle));
            QCOMPARE(describedCalls(),
                     (QStringList{"constructor_transferhost_start 192.0.2.4|/home/u/Downloads/Tavrine|我的电脑||s3cret",
                                  "constructor_transferclient_connect tavrine://pair/v1?x||Pixel|/sdcard"}));
            QVERIFY(fake().freedHandles.isEmpty());
            // Objects without a handle free nothing.
            TransferHost{TransferHost::NoHandle{}};
            TransferClient{TransferClient::NoHandle{}};
        }
        QCOMPARE(fake().freedHandles, (QList<uint64_t>{clientHandle, hostHandle}));
    }

    // Each call gets a fresh clone of the handle, which the call consumes; the object's own handle stays. What
    // each operation passes and returns, the link tests check with the real library; here the answers that
    // library never gives: no result buffer at all, and 64-bit sizes.
    void everyCallUsesAFreshClone()
    {
        TransferHost host(fake().newHandle());
        TransferClient client(fake().newHandle());
        fake().answerNext("transferhost_pause_transfer", {.flag = 1});
        fake().answerNext("transferhost_trusted_peer_secret", returning(bytes({0})));
        fake().answerNext("transferclient_respond_management", {.flag = 1});
        QVERIFY(host.pauseTransfer("t-1"));
        QCOMPARE(host.identityMaterial(), QString());
        QCOMPARE(host.trustedPeerSecret(), std::nullopt);
        QVERIFY(client.respondManagement("r-1", true, "{}", QString()));
        client.sendFileDescriptorWithId(7, "a.bin", uint64_t(1) << 40, "t-9");

        for (const FakeTavrineCore::Call &call : std::as_const(fake().calls)) {
            QVERIFY(call.handle != host.handle() && call.handle != client.handle());
            QVERIFY(!fake().isLiveHandle(call.handle));
        }
        QCOMPARE(describedCalls(),
                 (QStringList{"transferhost_pause_transfer t-1", "transferhost_identity_material",
                              "transferhost_trusted_peer_secret", "transferclient_respond_management r-1|{}| 1",
                              "transferclient_send_file_descriptor_with_id a.bin|t-9 7|1099511627776"}));
        QVERIFY(fake().isLiveHandle(host.handle()) && fake().isLiveHandle(client.handle()));
    }

    void failingCallsThrow_data()
    {
        const FailingCalls rows;
        rows("core error", coreError(int32(2) + nested("address in use")),
             "TavrineMac.TavrineCoreError.ServiceStart(details: \"address in use\")");
        rows("unknown error tag", coreError(int32(8)), "Raw enum value doesn't match any cases");
        rows("error cut short", coreError(int32(4) + int32(10)),
             "Reading the requested value would read past the end of the buffer");
        rows("panic", Answer{.code = 2, .errorBuffer = Buffer{"boom"}}, "boom");
    }

    // A failed start creates no object; a failed operation leaves its object usable.
    void failingCallsThrow()
    {
        const auto [answer, expected] = FailingCalls::fetch();
        TransferHost host(fake().newHandle());
        TransferClient client(fake().newHandle());
        fake().answerNext("constructor_transferhost_start", answer);
        QCOMPARE(failureOf([] { TransferHost::start("127.0.0.1", "/tmp", "Mac", {}, {}); }), expected);
        QVERIFY(fake().freedHandles.isEmpty());
        fake().answerNext("transferhost_request_management", answer);
        QCOMPARE(failureOf([&] { host.requestManagement("files.list", "{}"); }), expected);
        fake().answerNext("transferclient_confirm_pairing", answer);
        QCOMPARE(failureOf([&] { client.confirmPairing(); }), expected);
        fake().answerNext("transferhost_acknowledge_received_transfer", {.flag = 1});
        QVERIFY(host.acknowledgeReceivedTransfer("t-1"));
    }

    // Each answer breaks the contract of an operation declared not to fail.
    void brokenContractsStopTheProcess_data()
    {
        const BrokenContracts rows;
        rows("non-throwing call fails", Body([] {
                 fake().answerNext("transferhost_poll_event", {.code = 2, .errorBuffer = Buffer{"poll went wrong"}});
                 TransferHost(fake().newHandle()).pollEvent();
             }),
             "poll went wrong");
        rows("non-throwing call returns a broken buffer", Body([] {
                 fake().answerNext("transferhost_poll_event", returning(bytes({2})));
                 TransferHost(fake().newHandle()).pollEvent();
             }),
             "Unexpected optional tag; should be 0 or 1");
        rows("non-throwing call reports an error", Body([] {
                 fake().answerNext("transferclient_cancel_transfer", coreError(int32(3)));
                 TransferClient(fake().newHandle()).cancelTransfer("t");
             }),
             "CALL_ERROR but no errorClass specified");
        rows("clone fails", Body([] {
                 fake().failNextClone = 2;
                 TransferHost(fake().newHandle()).isConnected();
             }),
             "Could not clone a core object handle");
    }

    void brokenContractsStopTheProcess()
    {
        const auto [body, message] = BrokenContracts::fetch();
        if (inScenarioChild())
            return body();

        const ScenarioOutcome outcome = runCurrentRowInChild();
        QVERIFY2(outcome.crashed, qPrintable(outcome.standardError));
        QVERIFY2(outcome.standardError.contains("Fatal error: "), qPrintable(outcome.standardError));
        QVERIFY2(outcome.standardError.contains(message), qPrintable(outcome.standardError));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    FakeTavrineCore::install();
    TransferObjectsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_transfer_objects.moc"
