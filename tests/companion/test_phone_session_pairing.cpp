#include "FakeTransferClient.h"
#include "FileDescriptor.h"
#include "PhoneSession.h"
#include "StandardOutputCapture.h"
#include "TestSupport.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString pairingUrl(const QString &code)
{
    return u"tavrine://pair/v1?device=mac-1&key=K123456789abcdef&token=T123456789abcdef&endpoint=127.0.0.1:7000"
           "&code="_s +
           QString::fromLatin1(QUrl::toPercentEncoding(code));
}

TransferEvent linkEvent(TransferEventKind kind, const QString &message = {})
{
    return {.kind = kind, .peerName = u"computer"_s, .peerId = u"mac-1"_s, .message = message};
}

} // namespace

// The phone while it pairs: the code a person compares with the computer's, and the end of a pairing that cannot
// succeed.
class PhoneSessionPairingTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_storage.emplace().isValid()); }

    void cleanup()
    {
        m_session.reset();
        m_input.reset();
        m_inputWriteEnd.reset();
        m_storage.reset();
    }

    void confirmationCodeShownOnce_data()
    {
        const TestTable<QString, QString> rows; // the pairing URL's code, the line shown
        rows("digits", u"123456"_s, u"Confirmation code: 123  456"_s);
        rows("digits beyond 16 bits", u"𝟏𝟐𝟑𝟒𝟓𝟔"_s, u"Confirmation code: 𝟏𝟐𝟑  𝟒𝟓𝟔"_s);
    }

    // Shown after the computer starts awaiting confirmation, and not again when the link comes back meanwhile.
    void confirmationCodeShownOnce()
    {
        const auto [code, shownLine] = TestTable<QString, QString>::fetch();

        PhoneOptions options = pairOptions();
        options.pairingUrl = pairingUrl(code);
        FakeTransferClient &client = makeSession(options, std::nullopt);
        for (const TransferEventKind kind :
             {TransferEventKind::connecting, TransferEventKind::awaitingConfirmation, TransferEventKind::disconnected,
              TransferEventKind::connecting, TransferEventKind::awaitingConfirmation})
            client.events.enqueue(linkEvent(kind));

        StandardOutputCapture capture;
        m_session->start(m_input->get());
        const bool handled = QTest::qWaitFor([&] { return client.events.isEmpty(); });
        const QStringList lines = QString::fromUtf8(capture.take()).split(u'\n');

        QVERIFY(handled);
        QCOMPARE(lines.count(shownLine), 1);
        const qsizetype awaiting = lines.indexOf(QRegularExpression(u".*\"event\":\"awaitingConfirmation\".*"_s));
        QVERIFY(awaiting >= 0);
        QCOMPARE(lines.indexOf(shownLine), awaiting + 1);
    }

    void failedPairingEndsTheRun_data()
    {
        // Whether the phone pairs (else it reconnects with a stored pairing), the events, and the exit status
        // (nothing: the phone keeps running).
        const TestTable<bool, QList<TransferEvent>, std::optional<int>> rows;
        const TransferEvent refused = linkEvent(TransferEventKind::failed, u"pairing refused"_s);
        const TransferEvent untrusted = linkEvent(TransferEventKind::failed, u"this phone is not trusted"_s);
        rows("pairing refused", true, {linkEvent(TransferEventKind::connecting), refused}, 1);
        rows("pairing refused after the link dropped", true,
             {linkEvent(TransferEventKind::awaitingConfirmation), linkEvent(TransferEventKind::disconnected), refused},
             1);
        rows("host with another key while pairing", true,
             {linkEvent(TransferEventKind::failed, u"the host presented a key other than the paired one"_s)}, 1);
        // The core keeps trying a trusted phone, in case the computer restarts for it.
        rows("stored pairing refused", false, {untrusted}, std::nullopt);
        rows("refused after the pairing completed", true, {linkEvent(TransferEventKind::paired), untrusted},
             std::nullopt);
        rows("a transfer failed while pairing", true,
             {{.kind = TransferEventKind::failed,
               .direction = TransferDirection::receiving,
               .transferId = u"upload-1"_s,
               .fileName = u"song.mp3"_s,
               .message = u"the inbox cannot be written"_s}},
             std::nullopt);
    }

    void failedPairingEndsTheRun()
    {
        const auto [pairing, events, exitCode] = TestTable<bool, QList<TransferEvent>, std::optional<int>>::fetch();

        FakeTransferClient &client = pairing ? makeSession(pairOptions(), std::nullopt)
                                             : makeSession(serveOptions(), PhoneState{u"material"_s, u"computer"_s});
        client.connectionMaterial = u"material"_s;
        for (const TransferEvent &event : events)
            client.events.enqueue(event);
        QSignalSpy finished(m_session.get(), &PhoneSession::finished);
        m_session->start(m_input->get());

        QTRY_VERIFY(client.events.isEmpty());
        if (exitCode) {
            QCOMPARE(finished.size(), 1);
            QCOMPARE(finished.constFirst().constFirst().toInt(), *exitCode);
        } else {
            QVERIFY(finished.isEmpty());
        }
    }

private:
    PhoneOptions pairOptions() const
    {
        PhoneOptions options = serveOptions();
        options.command = PhoneOptions::Command::pair;
        options.pairingUrl = pairingUrl(u"123456"_s);
        return options;
    }

    PhoneOptions serveOptions() const
    {
        PhoneOptions options;
        options.storageDirectory = m_storage->path();
        options.deviceName = u"phone"_s;
        return options;
    }

    // A session over a fake client, reading commands from a pipe that stays open; the test starts it.
    FakeTransferClient &makeSession(const PhoneOptions &options, std::optional<PhoneState> state)
    {
        int input[2] = {-1, -1};
        if (::pipe(input) != 0)
            qFatal("no pipe for the phone's input");
        m_input.emplace(input[0]);
        m_inputWriteEnd.emplace(input[1]);
        auto client = std::make_unique<FakeTransferClient>();
        FakeTransferClient &fake = *client;
        m_session = std::make_unique<PhoneSession>(std::move(client), options, ManagementHandlers(), std::move(state));
        return fake;
    }

    std::optional<QTemporaryDir> m_storage;
    std::optional<FileDescriptor> m_input;
    std::optional<FileDescriptor> m_inputWriteEnd;
    std::unique_ptr<PhoneSession> m_session;
};

QTEST_GUILESS_MAIN(PhoneSessionPairingTest)
#include "test_phone_session_pairing.moc"
