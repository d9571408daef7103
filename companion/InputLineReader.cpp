#include "InputLineReader.h"

#include <cerrno>
#include <utility>

#include <unistd.h>

namespace {

constexpr qsizetype readChunkBytes = 4096;

QString lineText(QByteArray bytes)
{
    if (bytes.endsWith('\r')) {
        bytes.chop(1);
    }
    return QString::fromUtf8(bytes);
}

} // namespace

InputLineReader::InputLineReader(int fileDescriptor, QObject *parent)
    : QObject(parent), m_fileDescriptor(fileDescriptor), m_notifier(fileDescriptor, QSocketNotifier::Read)
{
    m_notifier.setEnabled(false);
    connect(&m_notifier, &QSocketNotifier::activated, this, &InputLineReader::readAvailable);
}

void InputLineReader::start()
{
    m_stopped = false;
    m_notifier.setEnabled(true);
}

void InputLineReader::stop()
{
    m_stopped = true;
    m_notifier.setEnabled(false);
}

// One read per notification: the descriptor is readable, so it does not block, and the descriptor is
// left in blocking mode because it is shared with the parent process.
void InputLineReader::readAvailable()
{
    char buffer[readChunkBytes];
    const ssize_t count = ::read(m_fileDescriptor, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (count <= 0) {
        m_notifier.setEnabled(false);
        if (!m_pending.isEmpty() && !m_stopped) {
            emit lineRead(lineText(std::exchange(m_pending, {})));
        }
        if (!m_stopped) {
            emit endOfInput();
        }
        return;
    }
    m_pending.append(buffer, count);
    emitCompleteLines();
}

void InputLineReader::emitCompleteLines()
{
    qsizetype end;
    while (!m_stopped && (end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        emit lineRead(lineText(line));
    }
}
