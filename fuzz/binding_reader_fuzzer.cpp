// The buffers the core library hands back (events, management messages, errors, texts) lifted by the
// binding layer: any bytes either lift to a value or fail with UniffiInternalError, and a lifted value
// written again reads back the same.
#include "BindingRuntime.h"
#include "FuzzCheck.h"
#include "ManagementMessages.h"
#include "TavrineCoreError.h"
#include "TransferEvent.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

template <auto value> auto answer()
{
    return value;
}

// The lifted buffer is the fuzzer's own input and stays with it.
void keepBuffer(RustBuffer, RustCallStatus *) {}

// Only what a lift reaches: the contract check and the freeing of the lifted buffer.
TavrineCoreFunctions bufferOnlyFunctions()
{
    TavrineCoreFunctions functions;
    functions.ffi_tavrine_core_uniffi_contract_version = answer<uint32_t(TAVRINE_CORE_CONTRACT_VERSION)>;
#define TAVRINE_FUZZ_CHECKSUM(operation, checksum)                                                                     \
    functions.uniffi_tavrine_core_checksum_##operation = answer<uint16_t(checksum)>;
    TAVRINE_CORE_CHECKSUMS(TAVRINE_FUZZ_CHECKSUM)
#undef TAVRINE_FUZZ_CHECKSUM
    functions.ffi_tavrine_core_rustbuffer_free = keepBuffer;
    return functions;
}

template <typename Converter> void liftAndWriteBack(const RustBuffer &buffer)
{
    std::optional<typename Converter::Value> value;
    try {
        value.emplace(Converter::lift(uniffi::OwnedRustBuffer(buffer)));
    } catch (const UniffiInternalError &) {
        return;
    }
    ByteWriter writer;
    Converter::write(*value, writer);
    ByteReader reader(writer.bytes());
    requirePromise(Converter::read(reader) == *value && reader.offset() == reader.size(),
                   "a lifted value written again reads back the same");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    installTavrineCoreFunctions(bufferOnlyFunctions());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const RustBuffer buffer{size, size, const_cast<uint8_t *>(data)};
    liftAndWriteBack<uniffi::FfiConverterString>(buffer);
    liftAndWriteBack<FfiConverterOptionString>(buffer);
    liftAndWriteBack<FfiConverterOptionTypeTransferEvent>(buffer);
    liftAndWriteBack<FfiConverterOptionTypeManagementRequest>(buffer);
    liftAndWriteBack<FfiConverterOptionTypeManagementResponse>(buffer);
    liftAndWriteBack<FfiConverterTypeTavrineCoreError>(buffer);
    return 0;
}
