#include "LinkedCoreFunctions.h"

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
