#include "ChildScenario.h"
#include "CoreTestSupport.h"
#include "TransferClient.h"
#include "TransferHost.h"

#include <QtTest>

using Answer = FakeTavrineCore::Answer;
using Buffer = FakeTavrineCore::Buffer;

using namespace coretest;

namespace {

Answer coreError(const QByteArray &errorBytes)
{
    return Answer::failure(1, Buffer{errorBytes, false});
}

QList<QByteArray> utf8(const QStringList &texts)
{
    QList<QByteArray> result;
    for (const QString &text : texts) {
        result.append(text.toUtf8());
    }
    return result;
}

} // namespace

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

    void startLowersItsTextsInOrderAndFreesOnceAtTheEnd()
    {
        uint64_t handle = 0;
        {
            auto host = TransferHost::start(QStringLiteral("192.0.2.4"), QStringLiteral("/home/u/Downloads/Tavrine"),
                                            QStringLiteral("我的电脑"), QString(), QStringLiteral("s3cret"));
            handle = host->handle();
            QVERIFY(fake().isLiveHandle(handle));
            QCOMPARE(fake().calls.size(), 1);
            QCOMPARE(fake().calls[0].function, QStringLiteral("constructor_transferhost_start"));
            QCOMPARE(fake().calls[0].buffers,
                     utf8({"192.0.2.4", "/home/u/Downloads/Tavrine", "我的电脑", "", "s3cret"}));
            QVERIFY(fake().freedHandles.isEmpty());
        }
        QCOMPARE(fake().freedHandles, QList<uint64_t>{handle});
    }

    void failingStartCreatesNoObject()
    {
        fake().answerNext(QStringLiteral("constructor_transferhost_start"),
                          coreError(int32(2) + nested("address in use")));
        try {
            TransferHost::start(QStringLiteral("127.0.0.1"), QStringLiteral("/tmp"), QStringLiteral("Mac"), {}, {});
            QFAIL("start did not throw");
        } catch (const TavrineCoreError &error) {
            QCOMPARE(error, TavrineCoreError::ServiceStart(QStringLiteral("address in use")));
        }
        QVERIFY(fake().freedHandles.isEmpty());
    }

    void objectWithoutHandleFreesNothing()
    {
        {
            TransferHost host{TransferHost::NoHandle{}};
            TransferClient client{TransferClient::NoHandle{}};
            QCOMPARE(host.handle(), uint64_t(0));
            QCOMPARE(client.handle(), uint64_t(0));
        }
        QVERIFY(fake().calls.isEmpty());
        QVERIFY(fake().freedHandles.isEmpty());
    }

    // Each call gets a fresh clone, which the call consumes; the object's own handle stays alive.
    void everyMethodCallUsesAFreshClone()
    {
        const uint64_t handle = fake().newHandle();
        {
            TransferHost host(handle);
            fake().answerNext(QStringLiteral("transferhost_pause_transfer"), Answer::returningFlag(1));
            QVERIFY(host.pauseTransfer(QStringLiteral("t-1")));
            QVERIFY(!host.cancelTransfer(QStringLiteral("t-1")));
            QCOMPARE(fake().calls.size(), 2);
            QVERIFY(fake().calls[0].handle != handle);
            QVERIFY(fake().calls[1].handle != handle);
            QVERIFY(fake().calls[0].handle != fake().calls[1].handle);
            QCOMPARE(fake().calls[0].buffers, utf8({"t-1"}));
            QVERIFY(fake().isLiveHandle(handle));
            QCOMPARE(host.handle(), handle);
        }
        QCOMPARE(fake().freedHandles, QList<uint64_t>{handle});
    }

    void hostTexts()
    {
        TransferHost host(fake().newHandle());
        const QString url = QStringLiteral("tavrine://pair/v1?device=D&key=K&token=T&endpoint=E&code=123456");
        fake().answerNext(QStringLiteral("transferhost_pairing_payload"), Answer::returning(url.toUtf8()));
        QCOMPARE(host.pairingPayload(), url);
        fake().answerNext(QStringLiteral("transferhost_confirmation_code"), Answer::returning("042917"));
        QCOMPARE(host.confirmationCode(), QStringLiteral("042917"));
        // No result buffer at all: the empty text.
        QCOMPARE(host.identityMaterial(), QString());
    }

    void polling()
    {
        TransferHost host(fake().newHandle());
        fake().answerNext(QStringLiteral("transferhost_poll_event"), Answer::returning(QByteArray(1, 0)));
        QCOMPARE(host.pollEvent(), std::nullopt);

        ByteWriter event;
        event.writeUInt8(1);
        FfiConverterTypeTransferEvent::write({TransferEventKind::paired,
                                              TransferDirection::none,
                                              {},
                                              {},
                                              0,
                                              0,
                                              QStringLiteral("Pixel 8"),
                                              QStringLiteral("peer-1"),
                                              {}},
                                             event);
        fake().answerNext(QStringLiteral("transferhost_poll_event"), Answer::returning(event.bytes()));
        const auto paired = host.pollEvent();
        QVERIFY(paired);
        QCOMPARE(paired->kind, TransferEventKind::paired);
        QCOMPARE(paired->peerName, QStringLiteral("Pixel 8"));

        ByteWriter response;
        response.writeUInt8(1);
        FfiConverterTypeManagementResponse::write(
            {QStringLiteral("r-1"), QStringLiteral("files.list"), true, QStringLiteral("{}"), {}}, response);
        fake().answerNext(QStringLiteral("transferhost_poll_management_response"), Answer::returning(response.bytes()));
        const auto answer = host.pollManagementResponse();
        QVERIFY(answer);
        QCOMPARE(answer->requestId, QStringLiteral("r-1"));

        fake().answerNext(QStringLiteral("transferhost_trusted_peer_secret"),
                          Answer::returning(QByteArray(1, 1) + nested("peer secret")));
        QCOMPARE(host.trustedPeerSecret(), std::optional<QString>(QStringLiteral("peer secret")));
        fake().answerNext(QStringLiteral("transferhost_trusted_peer_secret"), Answer::returning(QByteArray(1, 0)));
        QCOMPARE(host.trustedPeerSecret(), std::nullopt);
    }

    void requestManagementWithAnEmptyPayload()
    {
        TransferHost host(fake().newHandle());
        fake().answerNext(QStringLiteral("transferhost_request_management"), Answer::returning("req-7"));
        QCOMPARE(host.requestManagement(QStringLiteral("device.snapshot"), QString()), QStringLiteral("req-7"));
        QCOMPARE(fake().calls.last().buffers, utf8({"device.snapshot", ""}));
        QCOMPARE(fake().foreignBytes.last().len, 0);
    }

    void sendsPassTheirArgumentsInOrder()
    {
        TransferHost host(fake().newHandle());
        host.sendFileWithId(QStringLiteral("/tmp/a b.txt"), QStringLiteral("a b.txt"), QStringLiteral("task-1"));
        QCOMPARE(fake().calls.last().function, QStringLiteral("transferhost_send_file_with_id"));
        QCOMPARE(fake().calls.last().buffers, utf8({"/tmp/a b.txt", "a b.txt", "task-1"}));

        fake().answerNext(QStringLiteral("transferhost_send_file"), Answer::returning("generated"));
        QCOMPARE(host.sendFile(QStringLiteral("/tmp/x"), QStringLiteral("x")), QStringLiteral("generated"));
    }

    void failingOperationsThrowAndLeaveTheObjectUsable_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("expected");

        QTest::newRow("core error") << coreError(int32(3)) << "TavrineMac.TavrineCoreError.NotConnected";
        QTest::newRow("unknown error tag") << coreError(int32(8)) << "Raw enum value doesn't match any cases";
        QTest::newRow("error cut short") << coreError(int32(4) + int32(10))
                                         << "Reading the requested value would read past the end of the buffer";
        QTest::newRow("panic") << Answer::failure(2, Buffer{"boom", false}) << "boom";
    }

    void failingOperationsThrowAndLeaveTheObjectUsable()
    {
        QFETCH(Answer, answer);
        QFETCH(QString, expected);

        TransferHost host(fake().newHandle());
        fake().answerNext(QStringLiteral("transferhost_request_management"), answer);
        try {
            host.requestManagement(QStringLiteral("files.list"), QStringLiteral("{}"));
            QFAIL("requestManagement did not throw");
        } catch (const std::exception &error) {
            QCOMPARE(QString::fromUtf8(error.what()), expected);
        }
        fake().answerNext(QStringLiteral("transferhost_acknowledge_received_transfer"), Answer::returningFlag(1));
        QVERIFY(host.acknowledgeReceivedTransfer(QStringLiteral("t-1")));
    }

    void client()
    {
        uint64_t handle = 0;
        {
            auto client = TransferClient::connect(QStringLiteral("tavrine://pair/v1?x"), QString(),
                                                  QStringLiteral("Pixel"), QStringLiteral("/sdcard"));
            handle = client->handle();
            QCOMPARE(fake().calls.last().buffers, utf8({"tavrine://pair/v1?x", "", "Pixel", "/sdcard"}));

            fake().answerNext(QStringLiteral("transferclient_respond_management"), Answer::returningFlag(1));
            QVERIFY(client->respondManagement(QStringLiteral("r-1"), true, QStringLiteral("{}"), QString()));
            QCOMPARE(fake().calls.last().buffers, utf8({"r-1", "{}", ""}));
            QCOMPARE(fake().calls.last().numbers, QList<int64_t>{1});
            client->respondManagement(QStringLiteral("r-2"), false, QString(), QStringLiteral("no"));
            QCOMPARE(fake().calls.last().numbers, QList<int64_t>{0});

            client->sendFileDescriptorWithId(7, QStringLiteral("a.bin"), uint64_t(1) << 40, QStringLiteral("t-9"));
            QCOMPARE(fake().calls.last().numbers, (QList<int64_t>{7, int64_t(1) << 40}));
            QCOMPARE(fake().calls.last().buffers, utf8({"a.bin", "t-9"}));

            fake().answerNext(QStringLiteral("transferclient_confirm_pairing"), coreError(int32(1)));
            QVERIFY_THROWS_EXCEPTION(TavrineCoreError, client->confirmPairing());

            ByteWriter request;
            request.writeUInt8(1);
            FfiConverterTypeManagementRequest::write(
                {QStringLiteral("r-3"), QStringLiteral("files.list"), QStringLiteral("{}")}, request);
            fake().answerNext(QStringLiteral("transferclient_poll_management_request"),
                              Answer::returning(request.bytes()));
            QCOMPARE(client->pollManagementRequest()->requestId, QStringLiteral("r-3"));
            client->disconnect();
            QCOMPARE(fake().calls.last().function, QStringLiteral("transferclient_disconnect"));
        }
        QCOMPARE(fake().freedHandles, QList<uint64_t>{handle});
    }

    void brokenContractsStopTheProcess_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("message");

        QTest::newRow("non-throwing call fails") << "pollEventPanics"
                                                 << "poll went wrong";
        QTest::newRow("non-throwing call returns a broken buffer") << "pollEventBrokenBuffer"
                                                                   << "Unexpected optional tag; should be 0 or 1";
        QTest::newRow("non-throwing call reports an error") << "cancelReportsError"
                                                            << "CALL_ERROR but no errorClass specified";
        QTest::newRow("clone fails") << "cloneFails"
                                     << "Could not clone a core object handle";
    }

    void brokenContractsStopTheProcess()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, message);
        const ScenarioOutcome outcome = runScenarioInChild(scenario);
        QVERIFY2(outcome.crashed, qPrintable(outcome.standardError));
        QVERIFY2(outcome.standardError.contains(QStringLiteral("Fatal error: ")), qPrintable(outcome.standardError));
        QVERIFY2(outcome.standardError.contains(message), qPrintable(outcome.standardError));
        QVERIFY(!outcome.standardError.contains(QStringLiteral("scenario returned")));
    }
};

namespace {

const Scenarios scenarios{
    {QStringLiteral("pollEventPanics"),
     [] {
         FakeTavrineCore::install();
         fake().answerNext(QStringLiteral("transferhost_poll_event"),
                           Answer::failure(2, Buffer{"poll went wrong", false}));
         TransferHost(fake().newHandle()).pollEvent();
     }},
    {QStringLiteral("pollEventBrokenBuffer"),
     [] {
         FakeTavrineCore::install();
         fake().answerNext(QStringLiteral("transferhost_poll_event"), Answer::returning(QByteArray(1, 2)));
         TransferHost(fake().newHandle()).pollEvent();
     }},
    {QStringLiteral("cancelReportsError"),
     [] {
         FakeTavrineCore::install();
         fake().answerNext(QStringLiteral("transferclient_cancel_transfer"), coreError(int32(3)));
         TransferClient(fake().newHandle()).cancelTransfer(QStringLiteral("t"));
     }},
    {QStringLiteral("cloneFails"),
     [] {
         FakeTavrineCore::install();
         fake().failNextClone = 2;
         TransferHost(fake().newHandle()).isConnected();
     }},
};

} // namespace

int main(int argc, char *argv[])
{
    return runTestOrScenario(scenarios, [&] {
        QCoreApplication application(argc, argv);
        FakeTavrineCore::install();
        TransferObjectsTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_transfer_objects.moc"
