#pragma once

#include "BindingRuntime.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>

#include <exception>

// The core library's error, thrown by the operations that may fail.
class TavrineCoreError : public std::exception
{
public:
    enum class Case : int32_t
    {
        InvalidPairingPayload = 1,
        ServiceStart,
        NotConnected,
        FileAccess,
        InvalidTransferId,
        TransferCleanup,
        InvalidManagementRequest,
    };

    static TavrineCoreError InvalidPairingPayload() { return TavrineCoreError(Case::InvalidPairingPayload, {}); }
    static TavrineCoreError ServiceStart(const QString &details)
    {
        return TavrineCoreError(Case::ServiceStart, details);
    }
    static TavrineCoreError NotConnected() { return TavrineCoreError(Case::NotConnected, {}); }
    static TavrineCoreError FileAccess(const QString &details) { return TavrineCoreError(Case::FileAccess, details); }
    static TavrineCoreError InvalidTransferId() { return TavrineCoreError(Case::InvalidTransferId, {}); }
    static TavrineCoreError TransferCleanup(const QString &details)
    {
        return TavrineCoreError(Case::TransferCleanup, details);
    }
    static TavrineCoreError InvalidManagementRequest(const QString &details)
    {
        return TavrineCoreError(Case::InvalidManagementRequest, details);
    }

    Case kind() const { return m_kind; }
    static bool hasDetails(Case kind);
    // Empty for the cases without details.
    const QString &details() const { return m_details; }

    // The qualified debug rendering that screens show, e.g.
    // TavrineMac.TavrineCoreError.FileAccess(details: "disk full").
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const TavrineCoreError &left, const TavrineCoreError &right)
    {
        return left.m_kind == right.m_kind && left.m_details == right.m_details;
    }

private:
    TavrineCoreError(Case kind, const QString &details);

    Case m_kind;
    QString m_details;
    QByteArray m_what;
};

size_t qHash(const TavrineCoreError &error, size_t seed = 0);

struct FfiConverterTypeTavrineCoreError
    : uniffi::FfiConverterRustBuffer<FfiConverterTypeTavrineCoreError, TavrineCoreError>
{
    static TavrineCoreError read(ByteReader &reader);
    static void write(const TavrineCoreError &error, ByteWriter &writer);
};

// The error lift of the call status check: throws the TavrineCoreError in the buffer, or the
// UniffiInternalError that reading it gave.
[[noreturn]] void liftAndThrowTavrineCoreError(uniffi::OwnedRustBuffer errorBuffer);
