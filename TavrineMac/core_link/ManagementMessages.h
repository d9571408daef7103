#pragma once

#include "BindingRuntime.h"

#include <QHashFunctions>
#include <QString>

// A management action as the phone side receives it.
struct ManagementRequest
{
    QString requestId;
    QString action;
    QString payload; // JSON text

    bool operator==(const ManagementRequest &) const = default;
};

// The answer to one management action.
struct ManagementResponse
{
    QString requestId;
    QString action;
    bool success = false;
    QString payload; // JSON text
    QString message;

    bool operator==(const ManagementResponse &) const = default;
};

size_t qHash(const ManagementRequest &request, size_t seed = 0);
size_t qHash(const ManagementResponse &response, size_t seed = 0);

struct FfiConverterTypeManagementRequest
    : uniffi::FfiConverterRustBuffer<FfiConverterTypeManagementRequest, ManagementRequest>
{
    static ManagementRequest read(ByteReader &reader);
    static void write(const ManagementRequest &request, ByteWriter &writer);
};

struct FfiConverterTypeManagementResponse
    : uniffi::FfiConverterRustBuffer<FfiConverterTypeManagementResponse, ManagementResponse>
{
    static ManagementResponse read(ByteReader &reader);
    static void write(const ManagementResponse &response, ByteWriter &writer);
};

using FfiConverterOptionTypeManagementRequest = uniffi::FfiConverterOptional<FfiConverterTypeManagementRequest>;
using FfiConverterOptionTypeManagementResponse = uniffi::FfiConverterOptional<FfiConverterTypeManagementResponse>;
using FfiConverterOptionString = uniffi::FfiConverterOptional<uniffi::FfiConverterString>;
