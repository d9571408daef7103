#include "FakeTransferClient.h"
#include "FileDescriptor.h"
#include "MediaActions.h"
#include "PhoneSession.h"
#include "StorageIds.h"
#include "StorageTree.h"

#include <QImage>
#include <QJsonDocument>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>

#include <unistd.h>

using namespace Qt::StringLiterals;

// How a session ends while its workers are making answers: by "quit" on its input, or by going away.
using Endings = TestTable<bool>;

namespace {

const QString holdAction = u"test.hold"_s;
constexpr int photoCount = 24;

QString jsonText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QStringList sortedIds(const QList<ManagementResponse> &responses)
{
    QStringList ids;
    for (const ManagementResponse &response : responses)
        ids.append(response.requestId);
    ids.sort();
    return ids;
}

} // namespace

// Thumbnails are made on workers and answered when done, each with its request's id; the session takes no more
// work than it bounds and sends nothing once it ended.
class PhoneSessionAnswersTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        m_storage = m_root->filePath(u"storage"_s);
        int input[2];
        QCOMPARE(::pipe(input), 0);
        m_inputReadEnd.emplace(input[0]);
        m_inputWriteEnd.emplace(input[1]);
        m_started.acquire(m_started.available());
        m_proceed.acquire(m_proceed.available());
        m_returned = 0;
        m_log.clear();
    }

    void cleanup()
    {
        m_proceed.release(1000);
        m_session.reset();
    }

    // A thumbnail held up on a worker holds up no other answer; each answer carries the id of its request and
    // the picture it asked for.
    void thumbnailsArriveWithTheirIdsWhateverTheirOrder()
    {
        MediaActions media(m_storage);
        ManagementHandlers handlers = holdingHandlers();
        media.addTo(handlers);
        startSession(std::move(handlers));
        FakeTransferClient &client = *m_client;
        QHash<QString, QSize> expected;
        client.requests.enqueue({u"held"_s, holdAction, u"{}"_s});
        for (int index = 0; index < photoCount; ++index) {
            const QString path = u"DCIM/%1.jpg"_s.arg(index);
            QImage image(40 + index, 30, QImage::Format_RGB32);
            image.fill(QColor::fromHsv(index * 15, 200, 200));
            QVERIFY(QDir().mkpath(m_storage + u"/DCIM"_s) && image.save(m_storage + u'/' + path, "JPEG"));
            // Every third asks for a picture smaller than the photo.
            const int maxDimension = index % 3 == 0 ? 20 : 1024;
            const QString requestId = u"request-%1"_s.arg(photoCount - index);
            expected.insert(requestId,
                            maxDimension == 20 ? QSize(20, int(std::lround(30 * 20.0 / (40 + index)))) : image.size());
            client.requests.enqueue(
                {requestId, u"media.thumbnail"_s,
                 jsonText({{u"id"_s, StorageIds::idForRelativePath(path)}, {u"maxDimension"_s, maxDimension}})});
        }

        QTRY_COMPARE_WITH_TIMEOUT(client.responses.size(), photoCount, 20'000);
        for (const ManagementResponse &response : std::as_const(client.responses)) {
            QVERIFY2(response.success, qPrintable(response.message));
            const int index = photoCount - response.requestId.section(u'-', 1).toInt();
            const auto thumbnail = decodeManagedAnswer<ManagedMediaThumbnail>(response.payload);
            QCOMPARE(thumbnail.id, StorageIds::idForRelativePath(u"DCIM/%1.jpg"_s.arg(index)));
            const QImage image = QImage::fromData(QByteArray::fromBase64(thumbnail.dataBase64.toLatin1()), "JPEG");
            QCOMPARE(image.size(), expected.value(response.requestId));
            const int hueDistance =
                std::abs(QColor(image.pixel(image.width() / 2, image.height() / 2)).hue() - index * 15);
            QVERIFY2(std::min(hueDistance, 360 - hueDistance) <= 5, qPrintable(response.requestId));
        }
        m_proceed.release();
        QTRY_COMPARE(client.responses.size(), photoCount + 1);
        QCOMPARE(client.responses.constLast().requestId, u"held"_s);
    }

    void nothingIsSentOnceTheSessionEnded_data()
    {
        const Endings rows;
        rows("quit", false);
        rows("session gone", true);
    }

    // Answers being made when the session ends are dropped, those waiting for a worker are not made at all.
    void nothingIsSentOnceTheSessionEnded()
    {
        const auto [destroyed] = Endings::fetch();
        startSession(holdingHandlers());
        const int requests = 2 * QThread::idealThreadCount() + 4;
        for (int index = 0; index < requests; ++index)
            m_client->requests.enqueue({u"request-%1"_s.arg(index), holdAction, u"{}"_s});
        QTRY_VERIFY(m_started.available() >= 2);

        if (destroyed) {
            m_proceed.release(requests);
            m_session.reset();
        } else {
            QSignalSpy finished(m_session.get(), &PhoneSession::finished);
            QCOMPARE(::write(m_inputWriteEnd->get(), "quit\n", 5), 5);
            QVERIFY(finished.wait(10'000));
            m_proceed.release(requests);
        }
        QTRY_COMPARE(m_returned.load(), m_started.available());
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(m_log, QList<ManagementResponse>());
        // What waited for a worker when the session quit was never made.
        QVERIFY(destroyed || m_started.available() <= std::max(2, QThread::idealThreadCount()));
    }

    // A computer that sends request after request does not pile up work: the session leaves them with the link
    // until its workers catch up, then answers every one.
    void takesNoMoreRequestsThanItsWorkersMake()
    {
        startSession(holdingHandlers());
        const int requests = PhoneSession::maximumAnswersBeingMade + 5;
        QStringList ids;
        for (int index = 0; index < requests; ++index) {
            ids.append(u"request-%1"_s.arg(index, 2, 10, QChar(u'0')));
            m_client->requests.enqueue({ids.constLast(), holdAction, u"{}"_s});
        }
        QTRY_COMPARE(m_client->requests.size(), 5);
        m_proceed.release(requests);
        QTRY_COMPARE(m_client->responses.size(), requests);
        QCOMPARE(sortedIds(m_client->responses), ids);
    }

private:
    // A concurrent action that tells it started, then waits for the test to let it proceed.
    ManagementHandlers holdingHandlers()
    {
        ManagementHandlers handlers;
        handlers.addConcurrent(holdAction, [this](const QJsonObject &) {
            m_started.release();
            const bool proceeded = m_proceed.tryAcquire(1, 20'000);
            ++m_returned;
            return proceeded ? ManagementAnswer::succeeded({}) : ManagementAnswer::failed(u"never let go"_s);
        });
        return handlers;
    }

    void startSession(ManagementHandlers handlers)
    {
        auto client = std::make_unique<FakeTransferClient>();
        client->responseLog = &m_log;
        m_client = client.get();
        PhoneOptions options;
        options.storageDirectory = m_storage;
        m_session = std::make_unique<PhoneSession>(std::move(client), options, std::move(handlers), std::nullopt);
        m_session->start(m_inputReadEnd->get());
    }

    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    std::optional<FileDescriptor> m_inputReadEnd;
    std::optional<FileDescriptor> m_inputWriteEnd;
    QSemaphore m_started;
    QSemaphore m_proceed;
    std::atomic<int> m_returned = 0;
    QList<ManagementResponse> m_log;
    // Declared last: the session goes first, and with it the client.
    FakeTransferClient *m_client = nullptr;
    std::unique_ptr<PhoneSession> m_session;
};

QTEST_GUILESS_MAIN(PhoneSessionAnswersTest)
#include "test_phone_session_answers.moc"
