#include "FakeTavrineCore.h"
#include "ManagementMessages.h"
#include "TavrineCoreError.h"
#include "TestSupport.h"
#include "TransferClient.h"
#include "TransferEvent.h"
#include "TransferHost.h"

#include <QProcess>
#include <QtTest>

#include <functional>

using uniffi::OwnedRustBuffer;
using Internal = UniffiInternalError::Case;
using Answer = FakeTavrineCore::Answer;
using Buffer = FakeTavrineCore::Buffer;
using OptionalText = uniffi::FfiConverterOptional<uniffi::FfiConverterString>;
using Body = std::function<void()>;
using Lift = std::function<void(const QByteArray &)>;

using Texts = TestTable<QByteArray, QString>; // expected null: the read overflows
using Statuses = TestTable<int, Buffer, Internal, QString>;
using BrokenRecords = TestTable<Lift, QByteArray, QString>;
using CoreErrors = TestTable<QByteArray, QString>;
using FailingCalls = TestTable<Answer, QString>;
using FatalPaths = TestTable<Body, QString, QString>;

using namespace coretest;

namespace {

// The bytes of an event laid out by hand, field by field.
QByteArray eventBytes(int kind, int direction, uint64_t transferred, uint64_t total)
{
    ByteWriter counts;
    counts.writeUInt64(transferred);
    counts.writeUInt64(total);
    return int32(kind) + int32(direction) + nested("t-1") + nested("照片.jpg") + counts.bytes() + nested("Pixel") +
           nested("peer-9") + nested("");
}

template <typename Converter> Lift lifting()
{
    return [](const QByteArray &data) {
        Converter::lift(libraryBuffer(data));
    };
}

// Paths that stop the process run in a child process of this executable, which runs only the current row and
// there takes the path.
bool inScenarioChild()
{
    return qEnvironmentVariableIsSet("TAVRINE_TEST_SCENARIO");
}

// Whether the child crashed, and its standard error.
std::pair<bool, QString> runCurrentRowInChild()
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TAVRINE_TEST_SCENARIO", "1");
    environment.insert("TAVRINE_FAKE_CORE_TRACE", "1");
    // A deliberate abort is the expected end: no sanitizer report, and no crash handler printing a stack trace.
    environment.insert("ASAN_OPTIONS", "detect_leaks=0:handle_abort=0");
    child.setProcessEnvironment(environment);
    const QString row = QString::fromLatin1(QTest::currentTestFunction()) + u':' + QTest::currentDataTag();
    child.start(QCoreApplication::applicationFilePath(), {"-nocrashhandler", row});
    if (!child.waitForFinished(60'000)) {
        child.kill();
        child.waitForFinished();
        return {false, "the child did not finish"};
    }
    return {child.exitStatus() == QProcess::CrashExit, QString::fromUtf8(child.readAllStandardError())};
}

} // namespace

// The byte reader and writer, the call status check, the records that travel in buffers and the objects that
// hold the core's handles.
class BindingRuntimeTest : public QObject
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

    void nestedTexts_data()
    {
        const Texts rows;
        rows("count is bytes, not characters", nested("a€😀"), QStringLiteral("a€😀"));
        rows("empty", nested({}), QStringLiteral(""));
        rows("stray byte", nested(bytes({'a', 0xff, 'b'})), QStringLiteral("a\uFFFDb"));
        rows("truncated sequence is one replacement", nested(bytes({0xe2, 0x82, 'x'})), QStringLiteral("\uFFFDx"));
        rows("stray continuation bytes", nested(bytes({0x80, 0x80})), QStringLiteral("\uFFFD\uFFFD"));
        rows("overlong encoding", nested(bytes({0xc0, 0xaf})), QStringLiteral("\uFFFD\uFFFD"));
        rows("surrogate", nested(bytes({0xed, 0xa0, 0x80})), QStringLiteral("\uFFFD\uFFFD\uFFFD"));
        rows("beyond U+10FFFF", nested(bytes({0xf4, 0x90, 0x80, 0x80})), QStringLiteral("\uFFFD\uFFFD\uFFFD\uFFFD"));
        rows("cut at the end", nested(bytes({'a', 0xf0, 0x9f, 0x98})), QStringLiteral("a\uFFFD"));
        rows("count past the end", bytes({0, 0, 0, 4, 'a', 'b'}), QString());
        rows("negative count", bytes({0xff, 0xff, 0xff, 0xff, 'a'}), QString());
        rows("count cut short", bytes({0, 0}), QString());
    }

    void nestedTexts()
    {
        const auto [data, expected] = Texts::fetch();
        ByteReader reader(data);
        const auto error = internalErrorOf([&, expected = expected] { QCOMPARE(reader.readString(), expected); });
        QCOMPARE(error.has_value(), expected.isNull());
        if (error)
            QCOMPARE(error->kind(), Internal::bufferOverflow);
        QCOMPARE(reader.offset(), error ? 0 : data.size());
        // A whole text is the same bytes without the count.
        if (!error)
            QCOMPARE(uniffi::FfiConverterString::lift(libraryBuffer(data.sliced(4))), expected);
    }

    void failedStatuses_data()
    {
        const Statuses rows;
        rows("error without an error type", 1, Buffer{bytes({0, 0, 0, 3})}, Internal::unexpectedRustCallError,
             QStringLiteral("CALL_ERROR but no errorClass specified"));
        rows("panic with a message", 2, Buffer{"out of range"}, Internal::rustPanic, "out of range");
        rows("panic with an empty buffer", 2, Buffer{}, Internal::rustPanic, QStringLiteral("Rust panic"));
        rows("panic with a length but no data", 2, Buffer{"12345", true}, Internal::rustPanic, "");
        rows("unknown status code", -1, Buffer{"junk"}, Internal::unexpectedRustCallStatusCode,
             QStringLiteral("Unexpected RustCallStatus code"));
    }

    // Every failed status becomes its error, and the error buffer goes back to the library.
    void failedStatuses()
    {
        const auto [code, errorBuffer, expected, description] = Statuses::fetch();
        RustCallStatus status{int8_t(code), fake().makeBuffer(errorBuffer)};
        const auto error = internalErrorOf([&] { uniffi::checkCallStatus(status, nullptr); });
        QVERIFY(error);
        QCOMPARE(error->kind(), expected);
        QCOMPARE(error->errorDescription(), description);
        QCOMPARE(QString::fromUtf8(error->what()), description);
    }

    // Whole texts travel as bare UTF-8: no count, no terminator, and an empty text as a buffer of no bytes. Each
    // record lifts from its layout; an event also lowers back to it.
    void layouts()
    {
        QCOMPARE(uniffi::FfiConverterString::lift(OwnedRustBuffer(fake().makeBuffer({{}, true}))), QString());
        QCOMPARE(uniffi::FfiConverterString::lower(QStringLiteral("Ω")).bytes().toByteArray(), QByteArray("\xce\xa9"));
        QCOMPARE(uniffi::FfiConverterString::lower(QString()).get().len, uint64_t(0));

        const uint64_t maximum = std::numeric_limits<uint64_t>::max();
        const TransferEvent event{TransferEventKind::receiving,
                                  TransferDirection::receiving,
                                  "t-1",
                                  "照片.jpg",
                                  maximum,
                                  maximum - 1,
                                  "Pixel",
                                  "peer-9",
                                  ""};
        const QByteArray eventLayout = eventBytes(6, 3, maximum, maximum - 1);
        QCOMPARE(FfiConverterTypeTransferEvent::lift(libraryBuffer(eventLayout)), event);
        QCOMPARE(FfiConverterTypeTransferEvent::lower(event).bytes().toByteArray(), eventLayout);
        QCOMPARE(FfiConverterOptionTypeTransferEvent::lift(libraryBuffer(bytes({1}) + eventLayout)),
                 std::optional(event));
        QCOMPARE(FfiConverterOptionTypeTransferEvent::lift(libraryBuffer(bytes({0}))), std::nullopt);

        // Any success byte but 0 reads as true.
        QCOMPARE(FfiConverterTypeManagementResponse::lift(libraryBuffer(
                     nested("r-1") + nested("files.list") + bytes({2}) + nested("{}") + nested("没有权限"))),
                 ManagementResponse({"r-1", "files.list", true, "{}", "没有权限"}));
        QCOMPARE(FfiConverterOptionTypeManagementRequest::lift(
                     libraryBuffer(bytes({1}) + nested("r-2") + nested("apps.uninstall") + nested("{\"a\":1}"))),
                 std::optional(ManagementRequest{"r-2", "apps.uninstall", "{\"a\":1}"}));
        QCOMPARE(OptionalText::lift(libraryBuffer(bytes({1}) + nested("a"))), std::optional(QStringLiteral("a")));
    }

    void brokenRecords_data()
    {
        const BrokenRecords rows;
        const Lift event = lifting<FfiConverterTypeTransferEvent>();
        const QByteArray valid = eventBytes(1, 1, 0, 0);
        const QString unknownCase = QStringLiteral("Raw enum value doesn't match any cases");
        const QString overflow = QStringLiteral("Reading the requested value would read past the end of the buffer");
        const QString trailing = QStringLiteral("The buffer still has data after lifting its containing value");
        rows("event kind 13", event, eventBytes(13, 1, 0, 0), unknownCase);
        rows("event direction 4", event, eventBytes(1, 4, 0, 0), unknownCase);
        rows("event cut in the last text", event, valid.chopped(1), overflow);
        rows("event with a trailing byte", event, valid + bytes({0}), trailing);

        const Lift text = lifting<OptionalText>();
        rows("optional tag 2", text, bytes({2}), "Unexpected optional tag; should be 0 or 1");
        rows("absent text with bytes behind it", text, bytes({0, 0}), trailing);
        rows("empty", text, QByteArray(), overflow);

        const Lift error = lifting<FfiConverterTypeTavrineCoreError>();
        for (int tag : {0, 8})
            rows("error tag " + QByteArray::number(tag), error, int32(tag), unknownCase);
        rows("error without its details", error, int32(4), overflow);
    }

    // A failed lift throws and still frees the buffer (cleanup checks that none is left).
    void brokenRecords()
    {
        const auto [lift, data, description] = BrokenRecords::fetch();
        const auto error = internalErrorOf([&lift = lift, &data = data] { lift(data); });
        QVERIFY(error);
        QCOMPARE(error->errorDescription(), description);
    }

    void coreErrors_data()
    {
        const CoreErrors rows;
        const QString prefix = QStringLiteral("TavrineMac.TavrineCoreError.");
        rows("InvalidPairingPayload", int32(1), prefix + "InvalidPairingPayload");
        rows("ServiceStart", int32(2) + nested("port in use"), prefix + "ServiceStart(details: \"port in use\")");
        rows("NotConnected", int32(3), prefix + "NotConnected");
        rows("FileAccess, C0 escapes", int32(4) + nested("say \"hi\"\\now\n\ttab\x01\r\x1f\x7f"),
             prefix + "FileAccess(details: \"say \\\"hi\\\"\\\\now\\n\\ttab\\u{1}"
                      "\\r\\u{1F}\\u{7F}\")");
        rows("FileAccess, NUL", int32(4) + nested(bytes({'a', 0, 'b'})), prefix + "FileAccess(details: \"a\\0b\")");
        // The C1 controls, U+0080 to U+009F, around the printable characters next to them.
        rows("FileAccess, C1 escapes", int32(4) + nested("~\u0080\u0085\u009f\u00a0é"),
             prefix + "FileAccess(details: \"~\\u{80}\\u{85}\\u{9F}\u00a0é\")");
        rows("InvalidTransferId", int32(5), prefix + "InvalidTransferId");
        rows("TransferCleanup", int32(6) + nested("无法删除 😀"), prefix + "TransferCleanup(details: \"无法删除 😀\")");
        rows("InvalidManagementRequest", int32(7) + nested(""), prefix + "InvalidManagementRequest(details: \"\")");
    }

    void coreErrors()
    {
        const auto [data, description] = CoreErrors::fetch();
        const TavrineCoreError error = FfiConverterTypeTavrineCoreError::lift(libraryBuffer(data));
        QCOMPARE(error.errorDescription(), description);
        QCOMPARE(QString::fromUtf8(error.what()), description);
        QCOMPARE(FfiConverterTypeTavrineCoreError::lower(error).bytes().toByteArray(), data);
    }

    // Every object frees its handle once, at its end, and objects without a handle free nothing (cleanup sees a
    // leak, and the fake a handle freed twice).
    void constructorsLowerTheirTextsInOrder()
    {
        const auto host =
            TransferHost::start("192.0.2.4", "/home/u/Downloads/Tavrine", "我的电脑", QString(), "s3cret");
        const auto client = TransferClient::connect("tavrine://pair/v1?x", QString(), "Pixel", "/sdcard");
        QCOMPARE(fake().calls,
                 (QStringList{"constructor_transferhost_start 192.0.2.4|/home/u/Downloads/Tavrine|我的电脑||s3cret",
                              "constructor_transferclient_connect tavrine://pair/v1?x||Pixel|/sdcard"}));
        QCOMPARE(fake().liveHandleCount(), 2);
        TransferHost{TransferHost::NoHandle{}};
        TransferClient{TransferClient::NoHandle{}};
    }

    // Each call gets a fresh clone of the handle, which the call consumes (the fake sees a consumed handle used
    // or freed again). What each operation passes and returns, the link tests check with the real library; here
    // the answers that library never gives: no result buffer at all, and 64-bit sizes.
    void everyCallUsesAFreshClone()
    {
        TransferHost host(fake().newHandle());
        TransferClient client(fake().newHandle());
        fake().answerNext("transferhost_pause_transfer", {.flag = 1});
        fake().answerNext("transferhost_trusted_peer_secret", {.result = Buffer{bytes({0})}});
        fake().answerNext("transferclient_respond_management", {.flag = 1});
        QVERIFY(host.pauseTransfer("t-1"));
        QCOMPARE(host.identityMaterial(), QString());
        QCOMPARE(host.trustedPeerSecret(), std::nullopt);
        QVERIFY(client.respondManagement("r-1", true, "{}", QString()));
        client.sendFileDescriptorWithId(7, "a.bin", uint64_t(1) << 40, "t-9");
        QCOMPARE(fake().calls,
                 (QStringList{"transferhost_pause_transfer t-1", "transferhost_identity_material",
                              "transferhost_trusted_peer_secret", "transferclient_respond_management r-1|{}| 1",
                              "transferclient_send_file_descriptor_with_id a.bin|t-9 7|1099511627776"}));
    }

    void failingCallsThrow_data()
    {
        const FailingCalls rows;
        rows("core error", Answer{.code = 1, .errorBuffer = Buffer{int32(2) + nested("address in use")}},
             "TavrineMac.TavrineCoreError.ServiceStart(details: \"address in use\")");
        rows("unknown error tag", Answer{.code = 1, .errorBuffer = Buffer{int32(8)}},
             "Raw enum value doesn't match any cases");
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
        QCOMPARE(fake().liveHandleCount(), 2);
        fake().answerNext("transferhost_request_management", answer);
        QCOMPARE(failureOf([&] { host.requestManagement("files.list", "{}"); }), expected);
        fake().answerNext("transferclient_confirm_pairing", answer);
        QCOMPARE(failureOf([&] { client.confirmPairing(); }), expected);
        fake().answerNext("transferhost_acknowledge_received_transfer", {.flag = 1});
        QVERIFY(host.acknowledgeReceivedTransfer("t-1"));
    }

    void fatalPaths_data()
    {
        const FatalPaths rows;
        const QString contract = "UniFFI contract version mismatch: try cleaning and rebuilding your project";
        const QString cannotFail = "The core library failed where it cannot fail: ";
        rows("contract version 29", Body([] {
                 fake().contractVersion = 29;
                 TransferHost::start("127.0.0.1", "/tmp", "Mac", {}, {});
             }),
             contract, "contract_version");
        rows("contract version 29 on freeing a buffer", Body([] {
                 fake().contractVersion = 29;
                 uniffi::freeRustBuffer(fake().makeBuffer({"x"}));
             }),
             contract, "contract_version");
        rows("fifth checksum differs", Body([] {
                 fake().checksumOverrides.insert("method_transferclient_is_connected", 1);
                 uniffi::bufferFromBytes("x");
             }),
             "UniFFI API checksum mismatch: try cleaning and rebuilding your project",
             "checksum_method_transferclient_is_connected");
        rows("cancellation status", Body([] {
                 fake().answerNext("transferhost_is_connected", {.code = 3});
                 TransferHost(fake().newHandle()).isConnected();
             }),
             "Cancellation not supported yet", "transferhost_is_connected");
        rows("buffer creation fails", Body([] {
                 fake().failNextBufferCreation = 2;
                 uniffi::bufferFromBytes("x");
             }),
             "Could not create a core buffer: Rust panic", "rustbuffer_from_bytes");
        rows("clone fails", Body([] {
                 fake().failNextClone = 2;
                 TransferHost(fake().newHandle()).isConnected();
             }),
             "Could not clone a core object handle", "clone");
        rows("non-throwing call returns a broken buffer", Body([] {
                 fake().answerNext("transferhost_poll_event", {.result = Buffer{bytes({2})}});
                 TransferHost(fake().newHandle()).pollEvent();
             }),
             cannotFail + "Unexpected optional tag; should be 0 or 1", "rustbuffer_free");
        rows("non-throwing call reports an error", Body([] {
                 fake().answerNext("transferclient_cancel_transfer", {.code = 1, .errorBuffer = Buffer{int32(3)}});
                 TransferClient(fake().newHandle()).cancelTransfer("t");
             }),
             cannotFail + "CALL_ERROR but no errorClass specified", "rustbuffer_free");
    }

    // A broken contract with the core library (its version or checksums, or an answer that a call declared not to
    // fail cannot give) stops the process with the message, and no core call follows the one that broke it; a
    // contract version that does not match stops it before any other call.
    void fatalPaths()
    {
        const auto [body, message, lastTracedCall] = FatalPaths::fetch();
        if (inScenarioChild())
            return body();

        const auto [crashed, standardError] = runCurrentRowInChild();
        QVERIFY2(crashed && standardError.contains("Fatal error: " + message), qPrintable(standardError));
        const QStringList traced =
            standardError.split(u'\n').filter(QRegularExpression("^fake core: ")).replaceInStrings("fake core: ", "");
        QCOMPARE(traced.value(traced.size() - 1), lastTracedCall);
        if (lastTracedCall == u"contract_version")
            QCOMPARE(traced.size(), 1);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    FakeTavrineCore::install();
    BindingRuntimeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_binding_runtime.moc"
