#include "UniffiInternalError.h"

UniffiInternalError::UniffiInternalError(Case kind) : UniffiInternalError(kind, QString()) {}

UniffiInternalError::UniffiInternalError(Case kind, const QString &message)
    : m_kind(kind), m_message(message), m_what(errorDescription().toUtf8())
{}

UniffiInternalError UniffiInternalError::rustPanic(const QString &message)
{
    return UniffiInternalError(Case::rustPanic, message);
}

QString UniffiInternalError::errorDescription() const
{
    switch (m_kind) {
    case Case::bufferOverflow:
        return QStringLiteral("Reading the requested value would read past the end of the buffer");
    case Case::incompleteData:
        return QStringLiteral("The buffer still has data after lifting its containing value");
    case Case::unexpectedOptionalTag:
        return QStringLiteral("Unexpected optional tag; should be 0 or 1");
    case Case::unexpectedEnumCase:
        return QStringLiteral("Raw enum value doesn't match any cases");
    case Case::unexpectedRustCallStatusCode:
        return QStringLiteral("Unexpected RustCallStatus code");
    case Case::unexpectedRustCallError:
        return QStringLiteral("CALL_ERROR but no errorClass specified");
    case Case::rustPanic:
        return m_message;
    }
    return QString();
}
