#include "TestSupport.h"
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

// The status as the task file writes it, bytes transferred and in all, the progress shown, and the controls
// offered: p = pause, r = resume, t = retry, c = cancel, f = finished.
using DerivedValues = TestTable<Status, QString, qint64, qint64, double, QString>;
// A key of an object of the required keys only, its value (undefined removes it), and the error.
using BrokenObjects = TestTable<QString, QJsonValue, DecodingCase>;

} // namespace

class TransferTaskRecordTest : public QObject
{
    Q_OBJECT

private slots:
    void derivedValues_data()
    {
        const DerivedValues rows;
        rows("queued, no size", Status::queued, u"queued"_s, 0, 0, 0.0, u"pc"_s);
        rows("waiting", Status::waitingForConnection, u"waitingForConnection"_s, 10, 40, 0.25, u"rc"_s);
        rows("sending", Status::sending, u"sending"_s, 50, 100, 0.5, u"pc"_s);
        rows("receiving, over-reported", Status::receiving, u"receiving"_s, 150, 100, 1.0, u"pc"_s);
        rows("paused", Status::paused, u"paused"_s, 0, 100, 0.0, u"rc"_s);
        rows("completed, no size", Status::completed, u"completed"_s, 0, 0, 1.0, u"f"_s);
        rows("completed, sized", Status::completed, u"completed"_s, 30, 100, 0.3, u"f"_s);
        rows("failed, negative count", Status::failed, u"failed"_s, -5, 100, 0.0, u"tc"_s);
        rows("needs attention, negative size", Status::needsAttention, u"needsAttention"_s, 5, -1, 0.0, u"tc"_s);
        rows("cancelled", Status::cancelled, u"cancelled"_s, 1, 2, 0.5, u"f"_s);
    }

    void derivedValues()
    {
        const auto [status, raw, transferred, total, progress, controls] = DerivedValues::fetch();
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
            R"({"batchID":"batch-1","batchName":"相册","chosenName":"旅行.jpg","createdAt":"2024-05-06T07:00:00Z",)"
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
        const BrokenObjects rows;
        const QJsonValue absent(QJsonValue::Undefined);
        for (const QString &key : requiredKeysOnly().keys())
            rows(qPrintable(u"missing "_s + key), key, absent, DecodingCase::missingKey);
        rows("null id", u"id"_s, QJsonValue(QJsonValue::Null), DecodingCase::missingKey);
        rows("size as text", u"totalBytes"_s, u"5"_s, DecodingCase::wrongType);
        rows("fractional size", u"totalBytes"_s, 1.5, DecodingCase::wrongType);
        rows("optional of wrong type", u"batchID"_s, 5, DecodingCase::wrongType);
        rows("unknown status", u"status"_s, u"done"_s, DecodingCase::invalidValue);
        rows("bad Base64", u"sourceBookmark"_s, u"ab$d"_s, DecodingCase::invalidValue);
        rows("fractional date", u"createdAt"_s, u"2024-01-01T00:00:00.5Z"_s, DecodingCase::invalidValue);
        rows("date without zone", u"updatedAt"_s, u"2024-01-01T00:00:00"_s, DecodingCase::invalidValue);
        rows("no such day", u"deliveryCompletedAt"_s, u"2024-02-30T00:00:00Z"_s, DecodingCase::invalidValue);
        // Dates that could not be written back, so the record would vanish at the next save.
        rows("offset before year 1", u"updatedAt"_s, u"0001-01-01T00:30:00+01:00"_s, DecodingCase::invalidValue);
        rows("offset past year 9999", u"createdAt"_s, u"9999-12-31T23:30:00-01:00"_s, DecodingCase::invalidValue);
    }

    void rejectsBrokenObjects()
    {
        const auto [key, value, expected] = BrokenObjects::fetch();
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
