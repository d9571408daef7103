#include "TavrineCoreFunctions.h"

#include "BindingRuntime.h"

#include <QLibrary>

#include <atomic>
#include <mutex>

namespace {

TavrineCoreFunctions installedFunctions;
std::atomic<bool> functionsInstalled = false;
std::function<std::optional<TavrineCoreFunctions>()> functionsLoader;
std::once_flag loaderRan;

} // namespace

void installTavrineCoreFunctions(const TavrineCoreFunctions &functions)
{
    installedFunctions = functions;
    functionsInstalled = true;
}

void installTavrineCoreLoader(std::function<std::optional<TavrineCoreFunctions>()> loader)
{
    functionsLoader = std::move(loader);
}

const TavrineCoreFunctions &tavrineCoreFunctions()
{
    if (!functionsInstalled && functionsLoader) {
        // Core calls may come from more than one thread; the first one loads, the others wait for it.
        std::call_once(loaderRan, [] {
            if (const std::optional<TavrineCoreFunctions> loaded = functionsLoader()) {
                installTavrineCoreFunctions(*loaded);
            }
        });
    }
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
