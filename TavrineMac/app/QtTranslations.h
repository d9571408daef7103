#pragma once

// Qt's own texts (the file dialogs, the standard buttons) in Chinese, like the rest of the interface, whatever
// the system's language.
namespace QtTranslations {

// Installs Qt's zh_CN catalog on the running application; false when none could be loaded.
bool install();

} // namespace QtTranslations
