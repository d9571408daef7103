#pragma once

#include "TransferCredentialStore.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

// Writes keychain items on a thread of its own, so that a keyring that takes its time (the Secret Service may keep a
// call waiting for 25 s) never holds the event loop. Batches are written one after another in the order they were
// asked for, so a later value of an item is never overtaken by an earlier one. An item that already holds the text
// (as far as this writer knows: it wrote it, or was told it is stored) is not written again.
class CredentialWriter
{
public:
    struct Item
    {
        TransferCredentialStore::Account account;
        QString text;
    };
    // The description of the first write that failed (the items after it are not written), or nothing.
    using Outcome = std::optional<QString>;

    explicit CredentialWriter(TransferCredentialStore credentials);
    // Writes what is still waiting, then ends the thread.
    ~CredentialWriter();
    CredentialWriter(const CredentialWriter &) = delete;
    CredentialWriter &operator=(const CredentialWriter &) = delete;

    // Writes `items` in order after every batch asked for before. `finished`, when given, is called on the thread of
    // `context` once the outcome is known. The context must outlive the writer; a call still queued when it goes is
    // dropped with it.
    std::shared_future<Outcome> write(QList<Item> items, QObject *context = nullptr,
                                      std::function<void()> finished = {});
    // Writes `items` after every batch asked for before, and waits for them.
    Outcome writeAndWait(QList<Item> items);
    // The item is known to hold `text` (it was just read from the keychain).
    void noteStored(const Item &item);
    // Returns once every batch asked for so far is written (or failed).
    void waitUntilWritten();

private:
    struct Batch
    {
        QList<Item> items;
        std::promise<Outcome> outcome;
        QObject *context = nullptr;
        std::function<void()> finished;
    };

    void run();
    Outcome writeBatch(const QList<Item> &items);

    TransferCredentialStore m_credentials;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_waiting;
    bool m_writing = false;
    bool m_stopping = false;
    // What each item is known to hold; touched under m_mutex.
    QHash<TransferCredentialStore::Account, QString> m_stored;
    std::thread m_thread;
};
