#include "TavrineCoreFunctions.h"
#include "TestSupport.h"
#include "tavrine_core.h"
#include "tavrine_core_contract.h"

#include <QTemporaryFile>
#include <QtEndian>
#include <QtTest>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr uint64_t madeUpHandle = 0x5eed5eed5eed5eedULL;

// A text argument as callers make it: a library-owned copy of the bytes.
RustBuffer argument(const QByteArray &text)
{
    RustCallStatus status{};
    return ffi_tavrine_core_rustbuffer_from_bytes(
        ForeignBytes{int32_t(text.size()), reinterpret_cast<const uint8_t *>(text.constData())}, &status);
}

// The bytes of a returned buffer; the buffer goes back to the library.
QByteArray take(RustBuffer buffer)
{
    const QByteArray contents =
        buffer.data ? QByteArray(reinterpret_cast<const char *>(buffer.data), qsizetype(buffer.len)) : QByteArray();
    RustCallStatus status{};
    ffi_tavrine_core_rustbuffer_free(buffer, &status);
    return status.code == 0 ? contents : QByteArrayLiteral("(not freed)");
}

// A call that must fail; it answers whether its result is the empty value of its C type.
using RefusedCall = std::function<bool(RustCallStatus *status)>;
// Constructor calls that fail for any engine: the arguments name nothing it could use.
uint64_t startHost(const QByteArray &unusablePath, RustCallStatus *status)
{
    return uniffi_tavrine_core_fn_constructor_transferhost_start(
        argument("192.0.2.1"), argument(unusablePath), argument("Test computer"), argument("not identity material"),
        argument(""), status);
}

uint64_t connectClient(const QByteArray &unusablePath, RustCallStatus *status)
{
    return uniffi_tavrine_core_fn_constructor_transferclient_connect(
        argument("not a pairing payload"), argument(""), argument("Test phone"), argument(unusablePath), status);
}

} // namespace

Q_DECLARE_METATYPE(RefusedCall)

class CoreCSurfaceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_notADirectory.open());
        m_unusablePath = QFile::encodeName(m_notADirectory.fileName()) + "/inbox";
    }

    void exportsTheContractThatCallersCheck()
    {
        // Resolved by name from the built library, as the application loads it.
        QString error;
        const auto functions =
            loadTavrineCoreFunctions(QCoreApplication::applicationDirPath() + u"/libtavrine_core"_s, &error);
        QVERIFY2(functions, qPrintable(error));
        QCOMPARE(functions->ffi_tavrine_core_uniffi_contract_version(), 30u);
    }

    void foreignBytesBecomeLibraryBuffers_data()
    {
        const TestTable<QByteArray, int, bool, bool> rows; // bytes, length, null data, refused
        rows("text", QByteArray("phone"), 5, false, false);
        rows("ill-formed utf-8 kept", QByteArray("a\xff\0b", 4), 4, false, false);
        rows("empty", QByteArray(""), 0, false, false);
        rows("empty without data", QByteArray(), 0, true, false);
        rows("negative length", QByteArray("abcde"), -1, false, true);
        rows("most negative length", QByteArray("abcde"), std::numeric_limits<int32_t>::min(), false, true);
        rows("no data behind a length", QByteArray("abcde"), 5, true, true);
    }

    void foreignBytesBecomeLibraryBuffers()
    {
        const auto [bytes, length, nullData, refused] = TestTable<QByteArray, int, bool, bool>::fetch();

        RustCallStatus status{};
        const RustBuffer buffer = ffi_tavrine_core_rustbuffer_from_bytes(
            ForeignBytes{length, nullData ? nullptr : reinterpret_cast<const uint8_t *>(bytes.constData())}, &status);
        QCOMPARE(status.code, int8_t(refused ? 2 : 0));
        QCOMPARE(take(status.errorBuf).isEmpty(), !refused);
        // Callers that require data never get a null pointer from a success, and nothing from a refusal.
        QCOMPARE(buffer.data == nullptr, refused);
        QVERIFY(buffer.data != reinterpret_cast<const uint8_t *>(bytes.constData()));
        QVERIFY(buffer.capacity >= buffer.len);
        QCOMPARE(qsizetype(buffer.len), refused ? 0 : bytes.size());
        QCOMPARE(take(buffer), refused ? QByteArray() : bytes);
    }

    void freeingABufferWithoutDataDoesNothing()
    {
        for (const RustBuffer buffer : {RustBuffer{0, 0, nullptr}, RustBuffer{8, 8, nullptr}}) {
            RustCallStatus status{};
            ffi_tavrine_core_rustbuffer_free(buffer, &status);
            QCOMPARE(status.code, int8_t(0));
        }
    }

    void brokenCallsAreRefusedAndFreeTheirArguments_data()
    {
        QTest::addColumn<RefusedCall>("call");

        // One call of each way a handle is looked up.
        for (const uint64_t handle : {uint64_t(0), madeUpHandle}) {
            const char *which = handle == 0 ? "handle 0" : "made-up handle";
            QTest::addRow("clone host, %s", which) << RefusedCall(
                [=](RustCallStatus *status) { return uniffi_tavrine_core_fn_clone_transferhost(handle, status) == 0; });
            QTest::addRow("free client, %s", which) << RefusedCall([=](RustCallStatus *status) {
                uniffi_tavrine_core_fn_free_transferclient(handle, status);
                return true;
            });
            QTest::addRow("host send_file, %s", which) << RefusedCall([=](RustCallStatus *status) {
                return take(uniffi_tavrine_core_fn_method_transferhost_send_file(handle, argument("/tmp/a"),
                                                                                 argument("a"), status))
                    .isEmpty();
            });
            QTest::addRow("client respond_management, %s", which) << RefusedCall([=](RustCallStatus *status) {
                return !uniffi_tavrine_core_fn_method_transferclient_respond_management(
                    handle, argument("r1"), 1, argument("{}"), argument("ok"), status);
            });
        }
        // The other arguments are valid, so only the broken one can turn the call into status 2.
        const auto connectWith = [](int position, RustBuffer (*broken)()) {
            return RefusedCall([=](RustCallStatus *status) {
                std::array<RustBuffer, 4> arguments = {argument("not a pairing payload"), argument(""),
                                                       argument("Test phone"), argument("/nonexistent/inbox")};
                take(arguments[position]);
                arguments[position] = broken();
                return uniffi_tavrine_core_fn_constructor_transferclient_connect(
                           arguments[0], arguments[1], arguments[2], arguments[3], status) == 0;
            });
        };
        QTest::newRow("first argument with no data but a length") << connectWith(0, [] {
            return RustBuffer{5, 5, nullptr};
        });
        QTest::newRow("last argument longer than its capacity") << connectWith(3, [] {
            RustBuffer buffer = argument("abc");
            buffer.len = buffer.capacity + 1;
            return buffer;
        });
        QTest::newRow("second argument longer than 2^31-1 bytes") << connectWith(1, [] {
            RustBuffer buffer = argument("abc");
            buffer.len = buffer.capacity = uint64_t(std::numeric_limits<int32_t>::max()) + 1;
            return buffer;
        });
    }

    void brokenCallsAreRefusedAndFreeTheirArguments()
    {
        QFETCH(RefusedCall, call);

        // Every argument buffer, a broken one included, must come back freed: the leak check sees it.
        RustCallStatus status{};
        QVERIFY2(call(&status), "a refused call gave a result");
        QCOMPARE(status.code, int8_t(2));
        QVERIFY(!take(status.errorBuf).isEmpty());
    }

    void failingConstructorsReportEncodedErrors()
    {
        // A big-endian tag (InvalidPairingPayload 1, ServiceStart 2), then any details as a text: their byte count
        // and the bytes.
        RustCallStatus status{};
        QCOMPARE(connectClient(m_unusablePath, &status), uint64_t(0));
        QCOMPARE(status.code, int8_t(1));
        QCOMPARE(take(status.errorBuf), QByteArray(3, '\0') + char(1));
        QCOMPARE(startHost(m_unusablePath, &status), uint64_t(0));
        QCOMPARE(status.code, int8_t(1));
        const QByteArray error = take(status.errorBuf);
        QVERIFY2(error.startsWith(QByteArray(3, '\0') + char(2)) && error.size() > 8, error.toHex().constData());
        QCOMPARE(qFromBigEndian<int32_t>(error.constData() + 4), int32_t(error.size() - 8));
    }

    void nullStatusIsNotWrittenTo()
    {
        // A success, an internal failure and an encoded error each, without a status to report in.
        const RustBuffer buffer =
            ffi_tavrine_core_rustbuffer_from_bytes(ForeignBytes{3, reinterpret_cast<const uint8_t *>("abc")}, nullptr);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data), qsizetype(buffer.len)), QByteArray("abc"));
        ffi_tavrine_core_rustbuffer_free(buffer, nullptr);
        QVERIFY(ffi_tavrine_core_rustbuffer_from_bytes(ForeignBytes{-1, nullptr}, nullptr).data == nullptr);
        QCOMPARE(uniffi_tavrine_core_fn_clone_transferhost(madeUpHandle, nullptr), uint64_t(0));
        QCOMPARE(connectClient(m_unusablePath, nullptr), uint64_t(0));
        QCOMPARE(startHost(m_unusablePath, nullptr), uint64_t(0));
    }

private:
    // A path below a regular file: no engine can listen on, read or create anything there.
    QTemporaryFile m_notADirectory;
    QByteArray m_unusablePath;
};

QTEST_GUILESS_MAIN(CoreCSurfaceTest)
#include "test_core_c_surface.moc"
