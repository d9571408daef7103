#include "TavrineCoreFunctions.h"

#include "BindingRuntime.h"

#include <QLibrary>

namespace {

TavrineCoreFunctions installedFunctions;
bool functionsInstalled = false;

} // namespace

void installTavrineCoreFunctions(const TavrineCoreFunctions &functions)
{
    installedFunctions = functions;
    functionsInstalled = true;
}

const TavrineCoreFunctions &tavrineCoreFunctions()
{
    if (!functionsInstalled) {
        uniffi::fatalError(QStringLiteral("The core library is not loaded"));
    }
    return installedFunctions;
}

std::optional<TavrineCoreFunctions> loadTavrineCoreFunctions(const QString &libraryPath, QString *errorMessage)
{
    // The library stays loaded for the life of the process: handles and buffers outlive any scope here.
    QLibrary library(libraryPath);
    if (!library.load()) {
        if (errorMessage) {
            *errorMessage = library.errorString();
        }
        return std::nullopt;
    }

    TavrineCoreFunctions functions;
    QStringList missing;
#define TAVRINE_CORE_RESOLVE(name)                                                                                     \
    functions.name = reinterpret_cast<decltype(&::name)>(library.resolve(#name));                                      \
    if (!functions.name) {                                                                                             \
        missing.append(QStringLiteral(#name));                                                                         \
    }
#define TAVRINE_CORE_RESOLVE_CHECKSUM(operation, checksum)                                                             \
    TAVRINE_CORE_RESOLVE(uniffi_tavrine_core_checksum_##operation)
    TAVRINE_CORE_FUNCTIONS(TAVRINE_CORE_RESOLVE)
    TAVRINE_CORE_CHECKSUMS(TAVRINE_CORE_RESOLVE_CHECKSUM)
#undef TAVRINE_CORE_RESOLVE_CHECKSUM
#undef TAVRINE_CORE_RESOLVE

    if (!missing.isEmpty()) {
        if (errorMessage) {
            *errorMessage = QStringLiteral("%1 lacks %2").arg(library.fileName(), missing.join(QStringLiteral(", ")));
        }
        return std::nullopt;
    }
    return functions;
}
