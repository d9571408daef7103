#include "ChildScenario.h"
#include "FakeTavrineCore.h"
#include "ManagementMessages.h"
#include "TavrineCoreError.h"
#include "TestSupport.h"
#include "TransferEvent.h"
#include "TransferHost.h"

#include <QtTest>

#include <functional>

using uniffi::OwnedRustBuffer;
using Internal = UniffiInternalError::Case;
using Buffer = FakeTavrineCore::Buffer;
using OptionalText = uniffi::FfiConverterOptional<uniffi::FfiConverterString>;
using Body = std::function<void()>;
using Lift = std::function<void(const QByteArray &)>;

using Texts = TestTable<QByteArray, QString>; // expected null: the read overflows
using Statuses = TestTable<int, Buffer, Internal, QString>;
using BrokenRecords = TestTable<Lift, QByteArray, QString>;
using CoreErrors = TestTable<QByteArray, QString>;
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

} // namespace

// The byte reader and writer, the call status check and the records that travel in buffers.
class BindingRuntimeTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { fake().resetCalls(); }
    void cleanup()
    {
        QCOMPARE(fake().liveBufferCount(), 0);
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
        const Buffer none{{}, true};
        const QString panic = QStringLiteral("Rust panic");
        const QString unknownCode = QStringLiteral("Unexpected RustCallStatus code");
        rows("error without an error type", 1, Buffer{bytes({0, 0, 0, 3})}, Internal::unexpectedRustCallError,
             QStringLiteral("CALL_ERROR but no errorClass specified"));
        rows("panic with a message", 2, Buffer{"out of range"}, Internal::rustPanic, "out of range");
        rows("panic message, ill-formed", 2, Buffer{bytes({'x', 0xc3})}, Internal::rustPanic, "x\uFFFD");
        rows("panic with an empty buffer", 2, Buffer{}, Internal::rustPanic, panic);
        rows("panic without a buffer", 2, none, Internal::rustPanic, panic);
        rows("panic with a length but no data", 2, Buffer{"12345", true}, Internal::rustPanic, "");
        rows("unknown status code", 7, Buffer{"junk"}, Internal::unexpectedRustCallStatusCode, unknownCode);
        rows("negative status code", -1, none, Internal::unexpectedRustCallStatusCode, unknownCode);
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

    // Whole texts travel as bare UTF-8: no count, no terminator, and an empty text as a buffer of no bytes.
    void wholeTexts()
    {
        QCOMPARE(uniffi::FfiConverterString::lift(OwnedRustBuffer(fake().makeBuffer({{}, true}))), QString());

        QCOMPARE(uniffi::FfiConverterString::lower(QStringLiteral("Ω")).bytes().toByteArray(), QByteArray("\xce\xa9"));
        OwnedRustBuffer empty = uniffi::FfiConverterString::lower(QString());
        QCOMPARE(fake().createdBufferSizes.last(), 0);
        QCOMPARE(empty.get().len, uint64_t(0));
    }

    // Each record lifts from its layout and lowers back to it.
    void recordLayouts()
    {
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
        // Lowered on their own, the enumerations hold only their tag.
        QCOMPARE(FfiConverterTypeTransferEventKind::lower(TransferEventKind::disconnected).bytes().toByteArray(),
                 int32(12));
        QCOMPARE(FfiConverterTypeTransferDirection::lower(TransferDirection::none).bytes().toByteArray(), int32(1));

        const auto responseLayout = [](int success) {
            return nested("r-1") + nested("files.list") + bytes({success}) + nested("{}") + nested("没有权限");
        };
        // Any success byte but 0 reads as true.
        ManagementResponse response{"r-1", "files.list", true, "{}", "没有权限"};
        QCOMPARE(FfiConverterTypeManagementResponse::lift(libraryBuffer(responseLayout(2))), response);
        response.success = false;
        QCOMPARE(FfiConverterTypeManagementResponse::lower(response).bytes().toByteArray(), responseLayout(0));

        const ManagementRequest request{"r-2", "apps.uninstall", "{\"packageName\":\"a.b\"}"};
        const QByteArray requestLayout = nested("r-2") + nested("apps.uninstall") + nested("{\"packageName\":\"a.b\"}");
        QCOMPARE(FfiConverterOptionTypeManagementRequest::lift(libraryBuffer(bytes({1}) + requestLayout)),
                 std::optional(request));

        QCOMPARE(OptionalText::lower(QStringLiteral("a")).bytes().toByteArray(), bytes({1}) + nested("a"));
        QCOMPARE(OptionalText::lift(libraryBuffer(bytes({1}) + nested("a"))), std::optional(QStringLiteral("a")));
        QCOMPARE(OptionalText::lower(std::nullopt).bytes().toByteArray(), bytes({0}));
        QCOMPARE(OptionalText::lift(libraryBuffer(bytes({0}))), std::nullopt);
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
        rows("event kind 0", event, eventBytes(0, 1, 0, 0), unknownCase);
        rows("event direction 0", event, eventBytes(1, 0, 0, 0), unknownCase);
        rows("event direction 4", event, eventBytes(1, 4, 0, 0), unknownCase);
        rows("event cut in the last text", event, valid.chopped(1), overflow);
        rows("event with a trailing byte", event, valid + bytes({0}), trailing);
        rows("absent event with bytes behind it", lifting<FfiConverterOptionTypeTransferEvent>(), bytes({0}) + valid,
             trailing);
        rows("response cut in its success flag", lifting<FfiConverterTypeManagementResponse>(),
             nested("r") + nested("a"), overflow);

        const Lift text = lifting<OptionalText>();
        rows("optional tag 2", text, bytes({2}), "Unexpected optional tag; should be 0 or 1");
        rows("absent text with bytes behind it", text, bytes({0, 0}), trailing);
        rows("present text with a trailing byte", text, bytes({1}) + nested("a") + bytes({9}), trailing);
        rows("present text cut short", text, bytes({1, 0, 0, 0, 9, 'a'}), overflow);
        rows("empty", text, QByteArray(), overflow);
        rows("null data", Lift([](const QByteArray &) {
                 OptionalText::lift(OwnedRustBuffer(fake().makeBuffer({{}, true})));
             }),
             QByteArray(), overflow);

        const Lift error = lifting<FfiConverterTypeTavrineCoreError>();
        for (int tag : {0, 8, -1})
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
        rows("InvalidManagementRequest, C1 in details", int32(7) + nested("\u0090"),
             prefix + "InvalidManagementRequest(details: \"\\u{90}\")");
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

    void contractIsCheckedOnceForAllCalls()
    {
        {
            TransferHost host(fake().newHandle());
            host.isConnected();
            host.isConnected();
        }
        OwnedRustBuffer buffer = uniffi::bufferFromBytes("abc");
        QCOMPARE(fake().contractVersionCalls, 1);
    }

    void fatalPaths_data()
    {
        const FatalPaths rows;
        const QString contract = "UniFFI contract version mismatch: try cleaning and rebuilding your project";
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
    }

    // The process stops with the message, and no core call follows the one that broke the contract; a
    // contract version that does not match stops it before any other call.
    void fatalPaths()
    {
        const auto [body, message, lastTracedCall] = FatalPaths::fetch();
        if (inScenarioChild())
            return body();

        const ScenarioOutcome outcome = runCurrentRowInChild();
        QVERIFY2(outcome.crashed, qPrintable(outcome.standardError));
        QVERIFY2(outcome.standardError.contains(message), qPrintable(outcome.standardError));
        const QStringList traced = outcome.standardError.split(u'\n')
                                       .filter(QRegularExpression("^fake core: "))
                                       .replaceInStrings("fake core: ", "");
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
