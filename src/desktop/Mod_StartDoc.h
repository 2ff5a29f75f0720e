#pragma once

#include <QString>

namespace Mod_StartDoc {

// Opens a document, folder or web address with the desktop's associated program, in the
// document's own folder. Above 32 on success, 32 or less on failure.
qint32 StartDoc(const QString& document);

}  // namespace Mod_StartDoc
