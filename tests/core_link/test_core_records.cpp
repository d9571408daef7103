#include "CoreTestSupport.h"
#include "ManagementMessages.h"
#include "TavrineCoreError.h"
#include "TransferEvent.h"

#include <QtTest>

using uniffi::OwnedRustBuffer;
using Internal = UniffiInternalError::Case;

using namespace coretest;

namespace {

// The bytes of an event laid out by hand, field by field.
QByteArray eventBytes(int kind, int direction, uint64_t transferred, uint64_t total)
{
    ByteWriter counts;
    counts.writeUInt64(transferred);
    counts.writeUInt64(total);
    return int32(kind) + int32(direction) + nested("t-1") + nested(QStringLiteral("照片.jpg").toUtf8()) +
           counts.bytes() + nested("Pixel") + nested("peer-9") + nested("");
}

} // namespace

class CoreRecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { fake().resetCalls(); }
    void cleanup()
    {
        QCOMPARE(fake().liveBufferCount(), 0);
        QCOMPARE(fake().misuse, QStringList());
    }

    void transferEventLayout()
    {
        const uint64_t maximum = std::numeric_limits<uint64_t>::max();
        const TransferEvent expected{TransferEventKind::receiving,
                                     TransferDirection::receiving,
                                     QStringLiteral("t-1"),
                                     QStringLiteral("照片.jpg"),
                                     maximum,
                                     maximum,
                                     QStringLiteral("Pixel"),
                                     QStringLiteral("peer-9"),
                                     QString()};
        const QByteArray layout = eventBytes(6, 3, maximum, maximum);
        QCOMPARE(FfiConverterTypeTransferEvent::lift(libraryBuffer(layout)), expected);

        ByteWriter writer;
        FfiConverterTypeTransferEvent::write(expected, writer);
        QCOMPARE(writer.bytes(), layout);
    }

    void everyEventKindAndDirectionReads()
    {
        for (int kind = 1; kind <= 12; ++kind) {
            for (int direction = 1; direction <= 3; ++direction) {
                const TransferEvent event =
                    FfiConverterTypeTransferEvent::lift(libraryBuffer(eventBytes(kind, direction, 1, 2)));
                QCOMPARE(int(event.kind), kind);
                QCOMPARE(int(event.direction), direction);
            }
        }
    }

    void brokenEvents_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<UniffiInternalError::Case>("expected");

        const QByteArray valid = eventBytes(1, 1, 0, 0);
        QTest::newRow("kind 13") << eventBytes(13, 1, 0, 0) << Internal::unexpectedEnumCase;
        QTest::newRow("kind 0") << eventBytes(0, 1, 0, 0) << Internal::unexpectedEnumCase;
        QTest::newRow("direction 0") << eventBytes(1, 0, 0, 0) << Internal::unexpectedEnumCase;
        QTest::newRow("direction 4") << eventBytes(1, 4, 0, 0) << Internal::unexpectedEnumCase;
        QTest::newRow("cut in the last text") << valid.left(valid.size() - 1) << Internal::bufferOverflow;
        QTest::newRow("trailing byte") << valid + bytes({0}) << Internal::incompleteData;
    }

    void brokenEvents()
    {
        QFETCH(QByteArray, data);
        QFETCH(UniffiInternalError::Case, expected);
        const auto error = internalErrorOf([&] { FfiConverterTypeTransferEvent::lift(libraryBuffer(data)); });
        QVERIFY(error);
        QCOMPARE(error->kind(), expected);
    }

    void optionalEvents()
    {
        QCOMPARE(FfiConverterOptionTypeTransferEvent::lift(libraryBuffer(bytes({0}))), std::nullopt);
        const auto present =
            FfiConverterOptionTypeTransferEvent::lift(libraryBuffer(bytes({1}) + eventBytes(8, 2, 5, 5)));
        QVERIFY(present);
        QCOMPARE(present->kind, TransferEventKind::completed);

        const auto error = internalErrorOf(
            [&] { FfiConverterOptionTypeTransferEvent::lift(libraryBuffer(bytes({0}) + eventBytes(8, 2, 5, 5))); });
        QVERIFY(error);
        QCOMPARE(error->errorDescription(),
                 QStringLiteral("The buffer still has data after lifting its containing value"));
    }

    void enumerationsLoweredAloneHoldOnlyTheirTag()
    {
        OwnedRustBuffer kind = FfiConverterTypeTransferEventKind::lower(TransferEventKind::disconnected);
        QCOMPARE(QByteArray(kind.bytes().data(), kind.bytes().size()), int32(12));
        OwnedRustBuffer direction = FfiConverterTypeTransferDirection::lower(TransferDirection::none);
        QCOMPARE(QByteArray(direction.bytes().data(), direction.bytes().size()), int32(1));
    }

    void managementMessages()
    {
        const QByteArray responseLayout =
            nested("r-1") + nested("files.list") + bytes({2}) + nested("{\"entries\":[]}") + nested("");
        const ManagementResponse response = FfiConverterTypeManagementResponse::lift(libraryBuffer(responseLayout));
        QVERIFY(response.success); // any byte but 0 is true
        QCOMPARE(response.action, QStringLiteral("files.list"));
        QCOMPARE(response.payload, QStringLiteral("{\"entries\":[]}"));

        ManagementResponse failed = response;
        failed.success = false;
        failed.message = QStringLiteral("没有权限");
        QCOMPARE(FfiConverterTypeManagementResponse::lift(FfiConverterTypeManagementResponse::lower(failed)), failed);
        QVERIFY(!(failed == response));

        const ManagementRequest request{QStringLiteral("r-2"), QStringLiteral("apps.uninstall"),
                                        QStringLiteral("{\"packageName\":\"a.b\"}")};
        const QByteArray requestLayout = nested("r-2") + nested("apps.uninstall") + nested("{\"packageName\":\"a.b\"}");
        QCOMPARE(FfiConverterTypeManagementRequest::lift(libraryBuffer(requestLayout)), request);
        QCOMPARE(FfiConverterOptionTypeManagementRequest::lift(libraryBuffer(bytes({1}) + requestLayout)),
                 std::optional<ManagementRequest>(request));
    }

    void coreErrors_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("description");

        QTest::newRow("InvalidPairingPayload") << int32(1) << "TavrineMac.TavrineCoreError.InvalidPairingPayload";
        QTest::newRow("ServiceStart") << int32(2) + nested("port in use")
                                      << "TavrineMac.TavrineCoreError.ServiceStart(details: \"port in use\")";
        QTest::newRow("NotConnected") << int32(3) << "TavrineMac.TavrineCoreError.NotConnected";
        QTest::newRow("FileAccess escapes")
            << int32(4) + nested("say \"hi\"\\now\n\ttab\x01")
            << "TavrineMac.TavrineCoreError.FileAccess(details: \"say \\\"hi\\\"\\\\now\\n\\ttab\\u{1}\")";
        QTest::newRow("InvalidTransferId") << int32(5) << "TavrineMac.TavrineCoreError.InvalidTransferId";
        QTest::newRow("TransferCleanup") << int32(6) + nested(QStringLiteral("无法删除").toUtf8())
                                         << "TavrineMac.TavrineCoreError.TransferCleanup(details: \"无法删除\")";
        QTest::newRow("InvalidManagementRequest")
            << int32(7) + nested("") << "TavrineMac.TavrineCoreError.InvalidManagementRequest(details: \"\")";
    }

    void coreErrors()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, description);

        const TavrineCoreError error = FfiConverterTypeTavrineCoreError::lift(libraryBuffer(data));
        QCOMPARE(error.errorDescription(), description);
        QCOMPARE(QString::fromUtf8(error.what()), description);

        OwnedRustBuffer lowered = FfiConverterTypeTavrineCoreError::lower(error);
        QCOMPARE(QByteArray(lowered.bytes().data(), lowered.bytes().size()), data);
    }

    void unknownCoreErrorTags()
    {
        for (int tag : {0, 8, -1}) {
            const auto error =
                internalErrorOf([&] { FfiConverterTypeTavrineCoreError::lift(libraryBuffer(int32(tag))); });
            QVERIFY(error);
            QCOMPARE(error->errorDescription(), QStringLiteral("Raw enum value doesn't match any cases"));
        }
    }

    void equalityAndHashing()
    {
        const TavrineCoreError access = TavrineCoreError::FileAccess(QStringLiteral("a"));
        QCOMPARE(access, TavrineCoreError::FileAccess(QStringLiteral("a")));
        QCOMPARE(qHash(access), qHash(TavrineCoreError::FileAccess(QStringLiteral("a"))));
        QVERIFY(!(access == TavrineCoreError::FileAccess(QStringLiteral("b"))));
        QVERIFY(!(access == TavrineCoreError::TransferCleanup(QStringLiteral("a"))));

        QSet<TavrineCoreError> errors{access, TavrineCoreError::NotConnected(), TavrineCoreError::NotConnected()};
        QCOMPARE(errors.size(), 2);

        TransferEvent event{TransferEventKind::sending, TransferDirection::sending, "t", "f", 1, 2, "p", "i", ""};
        TransferEvent moved = event;
        moved.transferredBytes = 2;
        QSet<TransferEvent> events{event, event, moved};
        QCOMPARE(events.size(), 2);
        QCOMPARE(qHash(event, 7), qHash(TransferEvent(event), 7));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    FakeTavrineCore::install();
    CoreRecordsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_core_records.moc"
