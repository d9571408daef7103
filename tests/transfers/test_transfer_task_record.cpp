#include "TransferTaskRecord.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

using Status = TransferTaskRecord::Status;
using Direction = TransferTaskRecord::Direction;
using Purpose = TransferTaskRecord::DeliveryPurpose;
using DecodingCase = TransferTaskRecordDecodingError::Case;

namespace {

QDateTime utc(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QJsonObject requiredKeysOnly()
{
    return QJsonDocument::fromJson(R"({"id":"t","direction":"sending","peerName":"P","fileName":"f",
        "transferredBytes":0,"totalBytes":0,"status":"queued","message":"",
        "createdAt":"2024-01-01T00:00:00Z","updatedAt":"2024-01-01T00:00:00Z"})")
        .object();
}

} // namespace

class TransferTaskRecordTest : public QObject
{
    Q_OBJECT

private slots:
    // raw: the status as the task file writes it.
    void derivedValues_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<qint64>("transferred");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("progress");
        QTest::addColumn<QString>("controls"); // p = pause, r = resume, t = retry, c = cancel, f = finished

        QTest::newRow("queued, no size") << Status::queued << u"queued"_s << 0ll << 0ll << 0.0 << u"pc"_s;
        QTest::newRow("waiting") << Status::waitingForConnection << u"waitingForConnection"_s << 10ll << 40ll << 0.25
                                 << u"rc"_s;
        QTest::newRow("sending") << Status::sending << u"sending"_s << 50ll << 100ll << 0.5 << u"pc"_s;
        QTest::newRow("receiving, over-reported")
            << Status::receiving << u"receiving"_s << 150ll << 100ll << 1.0 << u"pc"_s;
        QTest::newRow("paused") << Status::paused << u"paused"_s << 0ll << 100ll << 0.0 << u"rc"_s;
        QTest::newRow("completed, no size") << Status::completed << u"completed"_s << 0ll << 0ll << 1.0 << u"f"_s;
        QTest::newRow("completed, sized") << Status::completed << u"completed"_s << 30ll << 100ll << 0.3 << u"f"_s;
        QTest::newRow("failed, negative count") << Status::failed << u"failed"_s << -5ll << 100ll << 0.0 << u"tc"_s;
        QTest::newRow("needs attention, negative size")
            << Status::needsAttention << u"needsAttention"_s << 5ll << -1ll << 0.0 << u"tc"_s;
        QTest::newRow("cancelled") << Status::cancelled << u"cancelled"_s << 1ll << 2ll << 0.5 << u"f"_s;
    }

    void derivedValues()
    {
        QFETCH(Status, status);
        QFETCH(QString, raw);
        QFETCH(qint64, transferred);
        QFETCH(qint64, total);
        QFETCH(double, progress);
        QFETCH(QString, controls);
        QCOMPARE(TransferTaskRecord::rawValue(status), raw);
        QCOMPARE(TransferTaskRecord::statusFromRawValue(raw), status);

        TransferTaskRecord record;
        record.status = status;
        record.transferredBytes = transferred;
        record.totalBytes = total;
        QCOMPARE(record.progress(), progress);
        QCOMPARE(record.canPause(), controls.contains(u'p'));
        QCOMPARE(record.canResume(), controls.contains(u'r'));
        QCOMPARE(record.canRetry(), controls.contains(u't'));
        QCOMPARE(record.canCancel(), controls.contains(u'c'));
        QCOMPARE(TransferTaskRecord::isFinished(status), controls.contains(u'f'));
    }

    // Every field, with sizes over 2^53 that a double would round; absent optionals are left out.
    void writesTheExactFormAndReadsItBack()
    {
        const QByteArray stored =
            R"({"batchID":"batch-1","batchName":"相册","createdAt":"2024-05-06T07:00:00Z",)"
            R"("deliveryCompletedAt":"2024-05-06T07:08:09Z","deliveryPurpose":"export",)"
            R"("destinationBookmark":"L2hvbWUvbWUv5LiL6L29","destinationRelativePath":"相册/照片 2.jpg",)"
            R"("direction":"receiving","fileName":"照片.jpg","id":"transfer-7","message":"文件已被移动",)"
            R"("peerName":"小米 14","relativePath":"相册/照片.jpg","remoteDirectoryID":"dir-1",)"
            R"("remoteFileID":"file-1","sourceBookmark":"+/8A","status":"needsAttention",)"
            R"("totalBytes":9007199254740993,"transferredBytes":9007199254740993,)"
            R"("trustedDeviceID":"device-1","updatedAt":"2024-05-06T07:08:10Z"})";
        TransferTaskRecord record = TransferTaskRecord::fromJson(QJsonDocument::fromJson(stored).object());
        QCOMPARE(record.sourceBookmark, QByteArray("\xfb\xff\x00", 3));
        QCOMPARE(record.destinationBookmark, QByteArray("/home/me/下载"));
        QCOMPARE(record.transferredBytes, 9007199254740993);
        QCOMPARE(record.deliveryPurpose, Purpose::export_);
        QCOMPARE(record.batchName, u"相册"_s);
        QCOMPARE(record.remoteFileID, u"file-1"_s);
        // The file keeps whole seconds.
        record.createdAt = record.createdAt.addMSecs(999);
        QCOMPARE(QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact), stored);
        QCOMPARE(TransferTaskRecord::fromJson(requiredKeysOnly()).toJson(), requiredKeysOnly());
    }

    void readsWhatOtherWritersProduce()
    {
        const QByteArray text = R"({"id":"t","direction":"sending","peerName":"P","fileName":"a\/b.txt",
            "transferredBytes":5.0,"totalBytes":7,"status":"queued","message":"",
            "createdAt":"2023-12-31T16:00:00-08:00","updatedAt":"2024-01-01T00:00:00Z",
            "batchID":null,"deliveryPurpose":"preview","futureKey":{"nested":[1,2]}})";
        const TransferTaskRecord record = TransferTaskRecord::fromJson(QJsonDocument::fromJson(text).object());
        QCOMPARE(record.fileName, u"a/b.txt"_s);
        QCOMPARE(record.transferredBytes, 5);
        QCOMPARE(record.createdAt, utc(u"2024-01-01T00:00:00Z"_s));
        QCOMPARE(record.batchID, std::nullopt);
        QCOMPARE(record.deliveryPurpose, Purpose::preview);
    }

    void rejectsBrokenObjects_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value"); // undefined removes the key
        QTest::addColumn<DecodingCase>("expected");

        for (const QString &key : requiredKeysOnly().keys())
            QTest::addRow("missing %s", qPrintable(key))
                << key << QJsonValue(QJsonValue::Undefined) << DecodingCase::missingKey;
        QTest::newRow("null id") << u"id"_s << QJsonValue(QJsonValue::Null) << DecodingCase::missingKey;
        QTest::newRow("size as text") << u"totalBytes"_s << QJsonValue(u"5"_s) << DecodingCase::wrongType;
        QTest::newRow("fractional size") << u"totalBytes"_s << QJsonValue(1.5) << DecodingCase::wrongType;
        QTest::newRow("optional of wrong type") << u"batchID"_s << QJsonValue(5) << DecodingCase::wrongType;
        QTest::newRow("unknown status") << u"status"_s << QJsonValue(u"done"_s) << DecodingCase::invalidValue;
        QTest::newRow("bad Base64") << u"sourceBookmark"_s << QJsonValue(u"ab$d"_s) << DecodingCase::invalidValue;
        QTest::newRow("fractional date") << u"createdAt"_s << QJsonValue(u"2024-01-01T00:00:00.5Z"_s)
                                         << DecodingCase::invalidValue;
        QTest::newRow("date without zone")
            << u"updatedAt"_s << QJsonValue(u"2024-01-01T00:00:00"_s) << DecodingCase::invalidValue;
        QTest::newRow("no such day") << u"deliveryCompletedAt"_s << QJsonValue(u"2024-02-30T00:00:00Z"_s)
                                     << DecodingCase::invalidValue;
        // Dates that could not be written back, so the record would vanish at the next save.
        QTest::newRow("offset before year 1") << u"updatedAt"_s << QJsonValue(u"0001-01-01T00:30:00+01:00"_s)
                                              << DecodingCase::invalidValue;
        QTest::newRow("offset past year 9999") << u"createdAt"_s << QJsonValue(u"9999-12-31T23:30:00-01:00"_s)
                                               << DecodingCase::invalidValue;
    }

    void rejectsBrokenObjects()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(DecodingCase, expected);
        QJsonObject object = requiredKeysOnly();
        if (value.isUndefined())
            object.remove(key);
        else
            object.insert(key, value);
        try {
            TransferTaskRecord::fromJson(object);
            QFAIL("decoded a broken object");
        } catch (const TransferTaskRecordDecodingError &error) {
            QCOMPARE(error.errorCase(), expected);
            QCOMPARE(error.key(), key);
        }
    }
};

QTEST_APPLESS_MAIN(TransferTaskRecordTest)
#include "test_transfer_task_record.moc"
