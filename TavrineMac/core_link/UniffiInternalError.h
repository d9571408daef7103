#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The binding layer's own error: a broken buffer or an unexpected call status.
class UniffiInternalError : public std::exception
{
public:
    enum class Case
    {
        bufferOverflow,
        incompleteData,
        unexpectedOptionalTag,
        unexpectedEnumCase,
        unexpectedRustCallStatusCode,
        unexpectedRustCallError,
        rustPanic,
    };

    explicit UniffiInternalError(Case kind);
    static UniffiInternalError rustPanic(const QString &message);

    Case kind() const { return m_kind; }
    // The panic message; empty for the other cases.
    const QString &message() const { return m_message; }

    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const UniffiInternalError &left, const UniffiInternalError &right)
    {
        return left.m_kind == right.m_kind && left.m_message == right.m_message;
    }

private:
    UniffiInternalError(Case kind, const QString &message);

    Case m_kind;
    QString m_message;
    QByteArray m_what;
};
