#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdio>

#include <unistd.h>

// Sends this process's standard output into a temporary file until `take`, so that a test reads what the phone
// printed. Qt Test reports on standard output too: assert only after `take`.
class StandardOutputCapture
{
public:
    StandardOutputCapture()
    {
        std::fflush(stdout);
        if (m_file.open()) {
            m_savedOutput = ::dup(STDOUT_FILENO);
            ::dup2(m_file.handle(), STDOUT_FILENO);
        }
    }
    ~StandardOutputCapture() { restore(); }
    StandardOutputCapture(const StandardOutputCapture &) = delete;
    StandardOutputCapture &operator=(const StandardOutputCapture &) = delete;

    // Ends the capture; what was written during it.
    QByteArray take()
    {
        restore();
        return m_file.seek(0) ? m_file.readAll() : QByteArray();
    }

private:
    void restore()
    {
        if (m_savedOutput < 0)
            return;
        std::fflush(stdout);
        ::dup2(m_savedOutput, STDOUT_FILENO);
        ::close(m_savedOutput);
        m_savedOutput = -1;
    }

    QTemporaryFile m_file;
    int m_savedOutput = -1;
};
