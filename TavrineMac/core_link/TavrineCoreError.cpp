#include "TavrineCoreError.h"

#include <QList>

namespace {

QString caseName(TavrineCoreError::Case kind)
{
    switch (kind) {
    case TavrineCoreError::Case::InvalidPairingPayload:
        return QStringLiteral("InvalidPairingPayload");
    case TavrineCoreError::Case::ServiceStart:
        return QStringLiteral("ServiceStart");
    case TavrineCoreError::Case::NotConnected:
        return QStringLiteral("NotConnected");
    case TavrineCoreError::Case::FileAccess:
        return QStringLiteral("FileAccess");
    case TavrineCoreError::Case::InvalidTransferId:
        return QStringLiteral("InvalidTransferId");
    case TavrineCoreError::Case::TransferCleanup:
        return QStringLiteral("TransferCleanup");
    case TavrineCoreError::Case::InvalidManagementRequest:
        return QStringLiteral("InvalidManagementRequest");
    }
    return QString();
}

// A text as a string literal writes it: quotation marks, backslashes and control characters escaped,
// the C1 controls of U+0080 to U+009F as well as the C0 ones, since screens would show them as nothing.
QString quotedLiteral(const QString &text)
{
    QString quoted = QStringLiteral("\"");
    for (const char32_t codePoint : text.toStdU32String()) {
        switch (codePoint) {
        case U'\0':
            quoted += QStringLiteral("\\0");
            break;
        case U'\t':
            quoted += QStringLiteral("\\t");
            break;
        case U'\n':
            quoted += QStringLiteral("\\n");
            break;
        case U'\r':
            quoted += QStringLiteral("\\r");
            break;
        case U'"':
            quoted += QStringLiteral("\\\"");
            break;
        case U'\\':
            quoted += QStringLiteral("\\\\");
            break;
        default:
            if (codePoint < 0x20 || (codePoint >= 0x7f && codePoint <= 0x9f)) {
                quoted += QStringLiteral("\\u{%1}").arg(QString::number(codePoint, 16).toUpper());
            } else {
                quoted += QString::fromUcs4(&codePoint, 1);
            }
        }
    }
    quoted += QLatin1Char('"');
    return quoted;
}

} // namespace

TavrineCoreError::TavrineCoreError(Case kind, const QString &details)
    : m_kind(kind), m_details(hasDetails(kind) ? details : QString()), m_what(errorDescription().toUtf8())
{}

bool TavrineCoreError::hasDetails(Case kind)
{
    return kind == Case::ServiceStart || kind == Case::FileAccess || kind == Case::TransferCleanup ||
           kind == Case::InvalidManagementRequest;
}

QString TavrineCoreError::errorDescription() const
{
    QString description = QStringLiteral("TavrineMac.TavrineCoreError.") + caseName(m_kind);
    if (hasDetails(m_kind)) {
        description += QStringLiteral("(details: ") + quotedLiteral(m_details) + QLatin1Char(')');
    }
    return description;
}

size_t qHash(const TavrineCoreError &error, size_t seed)
{
    if (TavrineCoreError::hasDetails(error.kind())) {
        return qHashMulti(seed, static_cast<int32_t>(error.kind()), error.details());
    }
    return qHashMulti(seed, static_cast<int32_t>(error.kind()));
}

TavrineCoreError FfiConverterTypeTavrineCoreError::read(ByteReader &reader)
{
    const auto kind = static_cast<TavrineCoreError::Case>(uniffi::readEnumTag(reader, 7));
    switch (kind) {
    case TavrineCoreError::Case::InvalidPairingPayload:
        return TavrineCoreError::InvalidPairingPayload();
    case TavrineCoreError::Case::NotConnected:
        return TavrineCoreError::NotConnected();
    case TavrineCoreError::Case::InvalidTransferId:
        return TavrineCoreError::InvalidTransferId();
    case TavrineCoreError::Case::ServiceStart:
        return TavrineCoreError::ServiceStart(reader.readString());
    case TavrineCoreError::Case::FileAccess:
        return TavrineCoreError::FileAccess(reader.readString());
    case TavrineCoreError::Case::TransferCleanup:
        return TavrineCoreError::TransferCleanup(reader.readString());
    case TavrineCoreError::Case::InvalidManagementRequest:
        return TavrineCoreError::InvalidManagementRequest(reader.readString());
    }
    throw UniffiInternalError(UniffiInternalError::Case::unexpectedEnumCase);
}

void FfiConverterTypeTavrineCoreError::write(const TavrineCoreError &error, ByteWriter &writer)
{
    writer.writeInt32(static_cast<int32_t>(error.kind()));
    if (TavrineCoreError::hasDetails(error.kind())) {
        writer.writeString(error.details());
    }
}

void liftAndThrowTavrineCoreError(uniffi::OwnedRustBuffer errorBuffer)
{
    throw FfiConverterTypeTavrineCoreError::lift(std::move(errorBuffer));
}
