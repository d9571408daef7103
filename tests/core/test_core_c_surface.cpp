#include "TavrineCoreFunctions.h"
#include "tavrine_core.h"
#include "tavrine_core_contract.h"

#include <QTemporaryFile>
#include <QtEndian>
#include <QtTest>

#include <limits>

namespace {

// A text argument as callers make it: a library-owned copy of the bytes.
RustBuffer argument(const QByteArray &text)
{
    RustCallStatus status{};
    const RustBuffer buffer = ffi_tavrine_core_rustbuffer_from_bytes(
        ForeignBytes{int32_t(text.size()), reinterpret_cast<const uint8_t *>(text.constData())}, &status);
    Q_ASSERT(status.code == 0);
    return buffer;
}

QByteArray contentsOf(const RustBuffer &buffer)
{
    return buffer.data ? QByteArray(reinterpret_cast<const char *>(buffer.data), qsizetype(buffer.len)) : QByteArray();
}

// The bytes of a returned buffer; the buffer goes back to the library.
QByteArray take(RustBuffer buffer)
{
    const QByteArray contents = contentsOf(buffer);
    RustCallStatus status{};
    ffi_tavrine_core_rustbuffer_free(buffer, &status);
    Q_ASSERT(status.code == 0);
    return contents;
}

QByteArray int32BigEndian(int32_t value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}

// One call that takes a handle; it answers whether its result is the empty value of its C type.
struct HandleCall
{
    bool (*run)(uint64_t handle, RustCallStatus *status);
};

bool emptyBuffer(RustBuffer buffer)
{
    return take(buffer).isEmpty() && buffer.data == nullptr;
}

// A constructor call that fails for any engine: the arguments name nothing it could use.
struct ConstructorCall
{
    uint64_t (*run)(const QByteArray &unusablePath, RustCallStatus *status);
};

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

enum class BufferFault
{
    noDataButLength,
    longerThanCapacity,
    longerThanInt32
};

RustBuffer brokenBuffer(BufferFault fault)
{
    switch (fault) {
    case BufferFault::noDataButLength:
        return RustBuffer{5, 5, nullptr};
    case BufferFault::longerThanCapacity: {
        RustBuffer buffer = argument("abc");
        buffer.len = buffer.capacity + 1;
        return buffer;
    }
    case BufferFault::longerThanInt32: {
        RustBuffer buffer = argument("abc");
        buffer.len = buffer.capacity = uint64_t(std::numeric_limits<int32_t>::max()) + 1;
        return buffer;
    }
    }
    return {};
}

constexpr uint64_t madeUpHandle = 0x5eed5eed5eed5eedULL;

} // namespace

Q_DECLARE_METATYPE(HandleCall)
Q_DECLARE_METATYPE(ConstructorCall)
Q_DECLARE_METATYPE(BufferFault)

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
        const auto functions = loadTavrineCoreFunctions(
            QCoreApplication::applicationDirPath() + QStringLiteral("/libtavrine_core"), &error);
        QVERIFY2(functions, qPrintable(error));
        QCOMPARE(functions->ffi_tavrine_core_uniffi_contract_version(), 30u);
#define CHECK_CHECKSUM(operation, checksum)                                                                            \
    QCOMPARE(functions->uniffi_tavrine_core_checksum_##operation(), uint16_t(checksum));
        TAVRINE_CORE_CHECKSUMS(CHECK_CHECKSUM)
#undef CHECK_CHECKSUM
    }

    void bytesBecomeLibraryBuffers_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("nullData");

        QTest::newRow("text") << QByteArrayLiteral("phone") << false;
        QTest::newRow("ill-formed utf-8 kept") << QByteArray("a\xff\0b", 4) << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("empty without data") << QByteArray() << true;
    }

    void bytesBecomeLibraryBuffers()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, nullData);

        RustCallStatus status{};
        const RustBuffer buffer = ffi_tavrine_core_rustbuffer_from_bytes(
            ForeignBytes{int32_t(bytes.size()), nullData ? nullptr : reinterpret_cast<const uint8_t *>(bytes.data())},
            &status);
        QCOMPARE(status.code, int8_t(0));
        QVERIFY(buffer.data != reinterpret_cast<const uint8_t *>(bytes.data()));
        QVERIFY(buffer.capacity >= buffer.len);
        QCOMPARE(take(buffer), bytes);
    }

    void brokenForeignBytesAreRefused_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("nullData");

        QTest::newRow("negative length") << -1 << false;
        QTest::newRow("most negative length") << std::numeric_limits<int32_t>::min() << false;
        QTest::newRow("no data behind a length") << 5 << true;
    }

    void brokenForeignBytesAreRefused()
    {
        QFETCH(int, length);
        QFETCH(bool, nullData);

        const QByteArray bytes("abcde");
        RustCallStatus status{};
        const RustBuffer buffer = ffi_tavrine_core_rustbuffer_from_bytes(
            ForeignBytes{length, nullData ? nullptr : reinterpret_cast<const uint8_t *>(bytes.data())}, &status);
        QCOMPARE(status.code, int8_t(2));
        QVERIFY(!take(status.errorBuf).isEmpty());
        QVERIFY(buffer.data == nullptr);
        QCOMPARE(buffer.len, uint64_t(0));
    }

    void freeingABufferWithoutDataDoesNothing()
    {
        for (const RustBuffer buffer : {RustBuffer{0, 0, nullptr}, RustBuffer{8, 8, nullptr}}) {
            RustCallStatus status{};
            ffi_tavrine_core_rustbuffer_free(buffer, &status);
            QCOMPARE(status.code, int8_t(0));
        }
    }

    void unknownHandlesAreRefused_data()
    {
        QTest::addColumn<HandleCall>("call");
        QTest::addColumn<quint64>("handle");

        const QList<std::pair<const char *, HandleCall>> calls = {
            {"clone host", {[](uint64_t h, RustCallStatus *s) {
                 return !uniffi_tavrine_core_fn_clone_transferhost(h, s);
             }}},
            {"free host", {[](uint64_t h, RustCallStatus *s) {
                 return uniffi_tavrine_core_fn_free_transferhost(h, s), true;
             }}},
            {"clone client", {[](uint64_t h, RustCallStatus *s) {
                 return !uniffi_tavrine_core_fn_clone_transferclient(h, s);
             }}},
            {"free client", {[](uint64_t h, RustCallStatus *s) {
                 return uniffi_tavrine_core_fn_free_transferclient(h, s), true;
             }}},
            {"host poll_event", {[](uint64_t h, RustCallStatus *s) {
                 return emptyBuffer(uniffi_tavrine_core_fn_method_transferhost_poll_event(h, s));
             }}},
            {"host send_file, arguments freed", {[](uint64_t h, RustCallStatus *s) {
                 return emptyBuffer(
                     uniffi_tavrine_core_fn_method_transferhost_send_file(h, argument("/tmp/a"), argument("a"), s));
             }}},
            {"client respond_management, arguments freed", {[](uint64_t h, RustCallStatus *s) {
                 return !uniffi_tavrine_core_fn_method_transferclient_respond_management(
                     h, argument("r1"), 1, argument("{}"), argument("ok"), s);
             }}},
            {"client send_file_descriptor_with_id, arguments freed", {[](uint64_t h, RustCallStatus *s) {
                 uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor_with_id(h, 0, argument("a"), 1,
                                                                                           argument("t1"), s);
                 return true;
             }}},
        };
        for (const auto &[name, call] : calls) {
            QTest::addRow("%s, handle 0", name) << call << quint64(0);
            QTest::addRow("%s, made-up handle", name) << call << quint64(madeUpHandle);
        }
    }

    void unknownHandlesAreRefused()
    {
        QFETCH(HandleCall, call);
        QFETCH(quint64, handle);

        RustCallStatus status{};
        QVERIFY2(call.run(handle, &status), "a refused call gave a result");
        QCOMPARE(status.code, int8_t(2));
        QVERIFY(!take(status.errorBuf).isEmpty());
    }

    void brokenArgumentBufferIsRefused_data()
    {
        QTest::addColumn<BufferFault>("fault");
        QTest::addColumn<int>("position");

        QTest::newRow("no data but a length, first") << BufferFault::noDataButLength << 0;
        QTest::newRow("longer than its capacity, last") << BufferFault::longerThanCapacity << 3;
        QTest::newRow("longer than 2^31-1 bytes, second") << BufferFault::longerThanInt32 << 1;
    }

    void brokenArgumentBufferIsRefused()
    {
        QFETCH(BufferFault, fault);
        QFETCH(int, position);

        // The other arguments are valid, so only the broken one can turn the call into status 2; every
        // buffer, the broken one included, must come back freed (the leak check sees it).
        std::array<RustBuffer, 4> arguments = {argument("not a pairing payload"), argument(""), argument("Test phone"),
                                               argument(m_unusablePath)};
        take(arguments[position]);
        arguments[position] = brokenBuffer(fault);

        RustCallStatus status{};
        const uint64_t handle = uniffi_tavrine_core_fn_constructor_transferclient_connect(
            arguments[0], arguments[1], arguments[2], arguments[3], &status);
        QCOMPARE(status.code, int8_t(2));
        QVERIFY(!take(status.errorBuf).isEmpty());
        QCOMPARE(handle, uint64_t(0));
    }

    void failingConstructorReportsEncodedError_data()
    {
        QTest::addColumn<ConstructorCall>("call");
        QTest::addColumn<int>("tag");
        QTest::addColumn<bool>("hasDetails");

        QTest::newRow("client connect: InvalidPairingPayload") << ConstructorCall{connectClient} << 1 << false;
        QTest::newRow("host start: ServiceStart with details") << ConstructorCall{startHost} << 2 << true;
    }

    void failingConstructorReportsEncodedError()
    {
        QFETCH(ConstructorCall, call);
        QFETCH(int, tag);
        QFETCH(bool, hasDetails);

        RustCallStatus status{};
        const uint64_t handle = call.run(m_unusablePath, &status);
        QCOMPARE(status.code, int8_t(1));
        QCOMPARE(handle, uint64_t(0));

        const QByteArray error = take(status.errorBuf);
        QCOMPARE(error.left(4), int32BigEndian(tag));
        if (!hasDetails) {
            QCOMPARE(error.size(), 4);
            return;
        }
        QVERIFY(error.size() > 8);
        QCOMPARE(error.mid(4, 4), int32BigEndian(int32_t(error.size() - 8)));
    }

    void nullStatusIsNotWrittenTo()
    {
        const QByteArray bytes("abc");
        const RustBuffer buffer = ffi_tavrine_core_rustbuffer_from_bytes(
            ForeignBytes{int32_t(bytes.size()), reinterpret_cast<const uint8_t *>(bytes.data())}, nullptr);
        QCOMPARE(contentsOf(buffer), bytes);
        ffi_tavrine_core_rustbuffer_free(buffer, nullptr);

        QVERIFY(ffi_tavrine_core_rustbuffer_from_bytes(ForeignBytes{-1, nullptr}, nullptr).data == nullptr);
        QCOMPARE(connectClient(m_unusablePath, nullptr), uint64_t(0));
        QCOMPARE(startHost(m_unusablePath, nullptr), uint64_t(0));
        QCOMPARE(uniffi_tavrine_core_fn_clone_transferhost(madeUpHandle, nullptr), uint64_t(0));
        uniffi_tavrine_core_fn_free_transferclient(0, nullptr);
        QVERIFY(!uniffi_tavrine_core_fn_method_transferclient_cancel_transfer(madeUpHandle, argument("t1"), nullptr));
        QCOMPARE(uniffi_tavrine_core_fn_constructor_transferclient_connect(
                     brokenBuffer(BufferFault::longerThanCapacity), argument(""), argument(""), argument(""), nullptr),
                 uint64_t(0));
    }

private:
    // A path below a regular file: no engine can listen on, read or create anything there.
    QTemporaryFile m_notADirectory;
    QByteArray m_unusablePath;
};

QTEST_GUILESS_MAIN(CoreCSurfaceTest)
#include "test_core_c_surface.moc"
