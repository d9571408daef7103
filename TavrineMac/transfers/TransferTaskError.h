#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Why a local file cannot be sent.
class TransferTaskError : public std::exception
{
public:
    enum class Case { notAFile, sourceMissing };

    explicit TransferTaskError(Case errorCase);

    Case errorCase() const { return m_case; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Case m_case;
    QByteArray m_what;
};
