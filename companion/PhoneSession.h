#pragma once

#include "InputLineReader.h"
#include "ManagedTransferActions.h"
#include "ManagementHandlers.h"
#include "PhoneOptions.h"
#include "PhoneState.h"
#include "ReceivedFileDelivery.h"
#include "TransferClient.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <optional>

// One running phone: polls the core client for events and management requests, keeps the stored
// pairing current, delivers received files into the storage folder and follows the commands on its input.
// It answers the managed transfer actions itself, besides the handlers it is given. Requests for concurrent actions
// (thumbnails) are answered on a pool of workers, each when it is done; the answers are sent from the session's
// thread, and none after the session finished.
class PhoneSession : public QObject
{
    Q_OBJECT

public:
    // While this many answers are being made by the workers, the session takes no further request.
    static constexpr int maximumAnswersBeingMade = 32;

    // `storedState` is the pairing the client reconnects with; nothing for a new pairing.
    PhoneSession(std::unique_ptr<TransferClientProtocol> client, const PhoneOptions &options,
                 ManagementHandlers handlers, std::optional<PhoneState> storedState, QObject *parent = nullptr);
    ~PhoneSession() override;

    void start(int inputFileDescriptor);

    // Every action the phone answers, the managed transfer actions included.
    const ManagementHandlers &handlers() const { return m_handlers; }

signals:
    // Emitted once, after quit, the end of input or a fatal error; the client is disconnected by then.
    void finished(int exitCode);

private:
    void poll();
    void handleEvent(const TransferEvent &event);
    void handleRequest(const ManagementRequest &request);
    void sendAnswer(const ManagementRequest &request, const ManagementAnswer &answer);
    void handleLine(const QString &line);
    bool storePairing(const TransferEvent &event);
    void deliverReceivedFile(const TransferEvent &event, QJsonObject &line);
    // Acknowledges the files delivered since the last call once their new names are durable, one sync of each folder.
    void acknowledgeDeliveries();
    void sendFile(const QString &path, const QString &transferId);
    void confirmPairing();
    bool isPairing() const;
    void finish(int exitCode);

    std::unique_ptr<TransferClientProtocol> m_client;
    PhoneOptions m_options;
    ManagedTransferActions m_transferActions;
    ManagementHandlers m_handlers;
    std::optional<PhoneState> m_state;
    // The code of the pairing URL, until it is shown once.
    std::optional<QString> m_unshownConfirmationCode;
    ReceivedFileDelivery m_delivery;
    QStringList m_deliveredTransferIds; // delivered, to acknowledge
    QTimer m_acknowledgementTimer;
    QTimer m_pollTimer;
    QDeadlineTimer m_busyUntil;
    std::unique_ptr<InputLineReader> m_input;
    bool m_finished = false;
    QThreadPool m_workers;
    int m_answersBeingMade = 0;
};
