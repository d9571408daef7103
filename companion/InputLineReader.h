#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

// Reads text lines from a file descriptor (standard input) as they arrive, without blocking the event
// loop.
class InputLineReader : public QObject
{
    Q_OBJECT

public:
    explicit InputLineReader(int fileDescriptor, QObject *parent = nullptr);

    void start();
    // No line is reported after this, not even one already read.
    void stop();

signals:
    void lineRead(const QString &line);
    // The end of input or a read error; an unterminated last line was reported before it.
    void endOfInput();

private:
    void readAvailable();
    void emitCompleteLines();

    int m_fileDescriptor;
    QSocketNotifier m_notifier;
    QByteArray m_pending;
    bool m_stopped = false;
};
