#include "ManagementMessages.h"

size_t qHash(const ManagementRequest &request, size_t seed)
{
    return qHashMulti(seed, request.requestId, request.action, request.payload);
}

size_t qHash(const ManagementResponse &response, size_t seed)
{
    return qHashMulti(seed, response.requestId, response.action, response.success, response.payload, response.message);
}

ManagementRequest FfiConverterTypeManagementRequest::read(ByteReader &reader)
{
    ManagementRequest request;
    request.requestId = reader.readString();
    request.action = reader.readString();
    request.payload = reader.readString();
    return request;
}

void FfiConverterTypeManagementRequest::write(const ManagementRequest &request, ByteWriter &writer)
{
    writer.writeString(request.requestId);
    writer.writeString(request.action);
    writer.writeString(request.payload);
}

ManagementResponse FfiConverterTypeManagementResponse::read(ByteReader &reader)
{
    ManagementResponse response;
    response.requestId = reader.readString();
    response.action = reader.readString();
    response.success = reader.readBool();
    response.payload = reader.readString();
    response.message = reader.readString();
    return response;
}

void FfiConverterTypeManagementResponse::write(const ManagementResponse &response, ByteWriter &writer)
{
    writer.writeString(response.requestId);
    writer.writeString(response.action);
    writer.writeBool(response.success);
    writer.writeString(response.payload);
    writer.writeString(response.message);
}
