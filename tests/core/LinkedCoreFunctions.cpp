#include "LinkedCoreFunctions.h"

namespace {

constexpr char rawPrefix[] = "raw:";

// Swaps a name written by rawFileName() for its bytes; the library owns both buffers.
RustBuffer unwrapRawName(RustBuffer name)
{
    const QByteArray text(reinterpret_cast<const char *>(name.data), qsizetype(name.len));
    if (!text.startsWith(rawPrefix)) {
        return name;
    }
    const QByteArray bytes = QByteArray::fromHex(text.mid(qsizetype(sizeof rawPrefix - 1)));
    RustCallStatus status{};
    ffi_tavrine_core_rustbuffer_free(name, &status);
    return ffi_tavrine_core_rustbuffer_from_bytes(
        ForeignBytes{int32_t(bytes.size()), reinterpret_cast<const uint8_t *>(bytes.constData())}, &status);
}

void hostSendWithRawName(uint64_t handle, RustBuffer localPath, RustBuffer fileName, RustBuffer transferId,
                         RustCallStatus *status)
{
    uniffi_tavrine_core_fn_method_transferhost_send_file_with_id(handle, localPath, unwrapRawName(fileName),
                                                                 transferId, status);
}

void phoneSendWithRawName(uint64_t handle, int32_t descriptor, RustBuffer fileName, uint64_t size,
                          RustBuffer transferId, RustCallStatus *status)
{
    uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor_with_id(handle, descriptor,
                                                                              unwrapRawName(fileName), size,
                                                                              transferId, status);
}

} // namespace

TavrineCoreFunctions linkedCoreFunctions()
{
    TavrineCoreFunctions functions;
#define TAVRINE_LINKED(name) functions.name = &::name;
#define TAVRINE_LINKED_CHECKSUM(operation, checksum) TAVRINE_LINKED(uniffi_tavrine_core_checksum_##operation)
    TAVRINE_CORE_FUNCTIONS(TAVRINE_LINKED)
    TAVRINE_CORE_CHECKSUMS(TAVRINE_LINKED_CHECKSUM)
#undef TAVRINE_LINKED_CHECKSUM
#undef TAVRINE_LINKED
    return functions;
}

TavrineCoreFunctions linkedCoreFunctionsWithRawNames()
{
    TavrineCoreFunctions functions = linkedCoreFunctions();
    functions.uniffi_tavrine_core_fn_method_transferhost_send_file_with_id = &hostSendWithRawName;
    functions.uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor_with_id = &phoneSendWithRawName;
    return functions;
}

QString rawFileName(const QByteArray &bytes)
{
    return QString::fromLatin1(rawPrefix + bytes.toHex());
}
