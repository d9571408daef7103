#include "BindingRuntime.h"
#include "ChildScenario.h"
#include "CoreTestSupport.h"
#include "FakeTavrineCore.h"
#include "TransferHost.h"

#include <QtTest>

using uniffi::OwnedRustBuffer;
using Internal = UniffiInternalError::Case;
using Buffer = FakeTavrineCore::Buffer;

Q_DECLARE_METATYPE(UniffiInternalError::Case)

using namespace coretest;

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

    void readerReadsBigEndianValues()
    {
        const QByteArray data = bytes({0xff, 0xff, 0xff, 0xfe, 0x7f, 1, 2, 3, 4, 5, 6, 7, 8, 0xaa});
        ByteReader reader(data);
        QCOMPARE(reader.readInt32(), -2);
        QCOMPARE(reader.readUInt8(), uint8_t(0x7f));
        QCOMPARE(reader.readUInt64(), uint64_t(0x0102030405060708));
        QCOMPARE(reader.offset(), 13);

        const auto error = internalErrorOf([&] { reader.readInt32(); });
        QVERIFY(error);
        QCOMPARE(error->errorDescription(),
                 QStringLiteral("Reading the requested value would read past the end of the buffer"));
        QCOMPARE(reader.offset(), 13);
        QCOMPARE(reader.readUInt8(), uint8_t(0xaa));
    }

    void nestedTexts_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("overflows");

        QTest::newRow("ascii") << nested("phone") << QStringLiteral("phone") << false;
        QTest::newRow("count is bytes, not characters")
            << nested(QStringLiteral("小米手机").toUtf8()) << QStringLiteral("小米手机") << false;
        QTest::newRow("empty") << nested({}) << QString() << false;
        QTest::newRow("ill-formed utf-8 is repaired")
            << nested(bytes({'a', 0xff, 'b'})) << QStringLiteral("a\uFFFDb") << false;
        QTest::newRow("count past the end") << bytes({0, 0, 0, 4, 'a', 'b'}) << QString() << true;
        QTest::newRow("negative count") << bytes({0xff, 0xff, 0xff, 0xff, 'a'}) << QString() << true;
        QTest::newRow("count cut short") << bytes({0, 0}) << QString() << true;
    }

    void nestedTexts()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, expected);
        QFETCH(bool, overflows);

        ByteReader reader(data);
        const auto error = internalErrorOf([&] { QCOMPARE(reader.readString(), expected); });
        QCOMPARE(error.has_value(), overflows);
        if (overflows) {
            QCOMPARE(error->kind(), Internal::bufferOverflow);
            QCOMPARE(reader.offset(), 0);
        } else {
            QCOMPARE(reader.offset(), data.size());
        }
    }

    void utf8Repair_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");

        QTest::newRow("well-formed") << QStringLiteral("a€😀").toUtf8() << QStringLiteral("a€😀");
        QTest::newRow("truncated sequence is one replacement") << bytes({0xe2, 0x82, 'x'}) << QStringLiteral("\uFFFDx");
        QTest::newRow("stray continuation bytes") << bytes({0x80, 0x80}) << QStringLiteral("\uFFFD\uFFFD");
        QTest::newRow("overlong encoding") << bytes({0xc0, 0xaf}) << QStringLiteral("\uFFFD\uFFFD");
        QTest::newRow("surrogate") << bytes({0xed, 0xa0, 0x80}) << QStringLiteral("\uFFFD\uFFFD\uFFFD");
        QTest::newRow("beyond U+10FFFF") << bytes({0xf4, 0x90, 0x80, 0x80})
                                         << QStringLiteral("\uFFFD\uFFFD\uFFFD\uFFFD");
        QTest::newRow("cut at the end") << bytes({'a', 0xf0, 0x9f, 0x98}) << QStringLiteral("a\uFFFD");
    }

    void utf8Repair()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, expected);
        QCOMPARE(uniffi::decodeUtf8Repaired(data), expected);
    }

    void writerMirrorsReader()
    {
        ByteWriter writer;
        writer.writeInt32(-7);
        writer.writeUInt64(std::numeric_limits<uint64_t>::max());
        writer.writeBool(true);
        writer.writeString(QStringLiteral("é"));
        QCOMPARE(writer.bytes(), bytes({0xff, 0xff, 0xff, 0xf9, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 1, 0, 0,
                                        0, 2, 0xc3, 0xa9}));

        ByteReader reader(writer.bytes());
        QCOMPARE(reader.readInt32(), -7);
        QCOMPARE(reader.readUInt64(), std::numeric_limits<uint64_t>::max());
        QVERIFY(reader.readBool());
        QCOMPARE(reader.readString(), QStringLiteral("é"));
    }

    void failedStatuses_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<std::optional<Buffer>>("errorBuffer");
        QTest::addColumn<UniffiInternalError::Case>("expected");
        QTest::addColumn<QString>("description");

        QTest::newRow("error without an error type")
            << 1 << std::optional<Buffer>(Buffer{bytes({0, 0, 0, 3}), false}) << Internal::unexpectedRustCallError
            << QStringLiteral("CALL_ERROR but no errorClass specified");
        QTest::newRow("panic with a message") << 2 << std::optional<Buffer>(Buffer{"index out of range", false})
                                              << Internal::rustPanic << QStringLiteral("index out of range");
        QTest::newRow("panic message with ill-formed utf-8")
            << 2 << std::optional<Buffer>(Buffer{bytes({'x', 0xc3}), false}) << Internal::rustPanic
            << QStringLiteral("x\uFFFD");
        QTest::newRow("panic with an empty buffer")
            << 2 << std::optional<Buffer>(Buffer{{}, false}) << Internal::rustPanic << QStringLiteral("Rust panic");
        QTest::newRow("panic without a buffer")
            << 2 << std::optional<Buffer>() << Internal::rustPanic << QStringLiteral("Rust panic");
        QTest::newRow("panic with a length but no data")
            << 2 << std::optional<Buffer>(Buffer{"12345", true}) << Internal::rustPanic << QString();
        QTest::newRow("unknown status code")
            << 7 << std::optional<Buffer>(Buffer{"junk", false}) << Internal::unexpectedRustCallStatusCode
            << QStringLiteral("Unexpected RustCallStatus code");
        QTest::newRow("negative status code") << -1 << std::optional<Buffer>() << Internal::unexpectedRustCallStatusCode
                                              << QStringLiteral("Unexpected RustCallStatus code");
    }

    // Every failed status becomes its error, and the error buffer goes back to the library.
    void failedStatuses()
    {
        QFETCH(int, code);
        QFETCH(std::optional<Buffer>, errorBuffer);
        QFETCH(UniffiInternalError::Case, expected);
        QFETCH(QString, description);

        RustCallStatus status{};
        status.code = int8_t(code);
        if (errorBuffer) {
            status.errorBuf = fake().makeBuffer(*errorBuffer);
        }
        const auto error = internalErrorOf([&] { uniffi::checkCallStatus(status, nullptr); });
        QVERIFY(error);
        QCOMPARE(error->kind(), expected);
        QCOMPARE(error->errorDescription(), description);
        QCOMPARE(QString::fromUtf8(error->what()), description);
    }

    void successLeavesTheStatusBufferAlone()
    {
        RustCallStatus status{};
        uniffi::checkCallStatus(status, nullptr);
        QCOMPARE(status.errorBuf.data, nullptr);
    }

    void wholeTexts()
    {
        QCOMPARE(uniffi::FfiConverterString::lift(OwnedRustBuffer(fake().makeBuffer({{}, true}))), QString());
        QCOMPARE(uniffi::FfiConverterString::lift(OwnedRustBuffer(fake().makeBuffer({{}, false}))), QString());
        QCOMPARE(uniffi::FfiConverterString::lift(OwnedRustBuffer(fake().makeBuffer({bytes({0xe2, 0x82}), false}))),
                 QStringLiteral("\uFFFD"));

        // Whole texts travel as bare UTF-8: no count, no terminator.
        OwnedRustBuffer lowered = uniffi::FfiConverterString::lower(QStringLiteral("Ω"));
        QCOMPARE(QByteArray(lowered.bytes().data(), lowered.bytes().size()), QByteArray("\xce\xa9"));
        OwnedRustBuffer empty = uniffi::FfiConverterString::lower(QString());
        QCOMPARE(fake().foreignBytes.last().len, 0);
        QCOMPARE(empty.get().len, uint64_t(0));
    }

    void compoundLiftsRejectBrokenBuffers_data()
    {
        QTest::addColumn<Buffer>("buffer");
        QTest::addColumn<UniffiInternalError::Case>("expected");

        QTest::newRow("optional tag 2") << Buffer{bytes({2}), false} << Internal::unexpectedOptionalTag;
        QTest::newRow("absent with bytes behind it") << Buffer{bytes({0, 0}), false} << Internal::incompleteData;
        QTest::newRow("present with a trailing byte")
            << Buffer{bytes({1, 0, 0, 0, 1, 'a', 9}), false} << Internal::incompleteData;
        QTest::newRow("present but cut short")
            << Buffer{bytes({1, 0, 0, 0, 9, 'a'}), false} << Internal::bufferOverflow;
        QTest::newRow("empty") << Buffer{{}, false} << Internal::bufferOverflow;
        QTest::newRow("null data") << Buffer{bytes({0}), true} << Internal::bufferOverflow;
    }

    // A failed lift throws and still frees the buffer (cleanup checks that none is left).
    void compoundLiftsRejectBrokenBuffers()
    {
        QFETCH(Buffer, buffer);
        QFETCH(UniffiInternalError::Case, expected);

        const auto error = internalErrorOf([&] {
            uniffi::FfiConverterOptional<uniffi::FfiConverterString>::lift(OwnedRustBuffer(fake().makeBuffer(buffer)));
        });
        QVERIFY(error);
        QCOMPARE(error->kind(), expected);
    }

    void optionalsRoundTrip()
    {
        using OptionalText = uniffi::FfiConverterOptional<uniffi::FfiConverterString>;
        QCOMPARE(OptionalText::lift(OptionalText::lower(std::nullopt)), std::optional<QString>());
        QCOMPARE(OptionalText::lift(OptionalText::lower(QStringLiteral("secret"))),
                 std::optional<QString>(QStringLiteral("secret")));
        QCOMPARE(OptionalText::lift(OwnedRustBuffer(fake().makeBuffer({bytes({0}), false}))), std::optional<QString>());
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
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("lastTracedCall");

        QTest::newRow("contract version 29")
            << "contractVersion29"
            << "UniFFI contract version mismatch: try cleaning and rebuilding your project"
            << "contract_version";
        QTest::newRow("contract version 29 on freeing a buffer")
            << "contractVersion29OnFree"
            << "UniFFI contract version mismatch: try cleaning and rebuilding your project"
            << "contract_version";
        QTest::newRow("fifth checksum differs")
            << "fifthChecksumDiffers"
            << "UniFFI API checksum mismatch: try cleaning and rebuilding your project"
            << "checksum_method_transferclient_is_connected";
        QTest::newRow("cancellation status") << "cancellationStatus"
                                             << "Cancellation not supported yet"
                                             << "transferhost_is_connected";
        QTest::newRow("buffer creation fails") << "bufferCreationFails"
                                               << "Could not create a core buffer: Rust panic"
                                               << "rustbuffer_from_bytes";
    }

    // The process stops with the message, and no core call follows the one that broke the contract.
    void fatalPaths()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, message);
        QFETCH(QString, lastTracedCall);

        const ScenarioOutcome outcome = runScenarioInChild(scenario);
        QVERIFY2(outcome.crashed, qPrintable(outcome.standardError));
        QVERIFY2(outcome.standardError.contains(message), qPrintable(outcome.standardError));
        QStringList traced;
        for (const QString &line : outcome.standardError.split(QLatin1Char('\n'))) {
            if (line.startsWith(QStringLiteral("fake core: "))) {
                traced.append(line.mid(11));
            }
        }
        QVERIFY(!traced.isEmpty());
        QCOMPARE(traced.last(), lastTracedCall);
        if (scenario.startsWith(QStringLiteral("contractVersion29"))) {
            QCOMPARE(traced, QStringList{QStringLiteral("contract_version")});
        }
    }
};

namespace {

const Scenarios scenarios{
    {QStringLiteral("contractVersion29"),
     [] {
         fake().contractVersion = 29;
         FakeTavrineCore::install();
         TransferHost::start(QStringLiteral("127.0.0.1"), QStringLiteral("/tmp"), QStringLiteral("Mac"), {}, {});
     }},
    {QStringLiteral("contractVersion29OnFree"),
     [] {
         fake().contractVersion = 29;
         FakeTavrineCore::install();
         uniffi::freeRustBuffer(fake().makeBuffer({"x", false}));
     }},
    {QStringLiteral("fifthChecksumDiffers"),
     [] {
         fake().checksumOverrides.insert(QStringLiteral("method_transferclient_is_connected"), 1);
         FakeTavrineCore::install();
         uniffi::bufferFromBytes("x");
     }},
    {QStringLiteral("cancellationStatus"),
     [] {
         FakeTavrineCore::install();
         fake().answerNext(QStringLiteral("transferhost_is_connected"), FakeTavrineCore::Answer::failure(3));
         TransferHost host(fake().newHandle());
         host.isConnected();
     }},
    {QStringLiteral("bufferCreationFails"),
     [] {
         FakeTavrineCore::install();
         fake().failNextBufferCreation = 2;
         uniffi::bufferFromBytes("x");
     }},
};

} // namespace

int main(int argc, char *argv[])
{
    return runTestOrScenario(scenarios, [&] {
        QCoreApplication application(argc, argv);
        FakeTavrineCore::install();
        BindingRuntimeTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_binding_runtime.moc"
