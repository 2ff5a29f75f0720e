#include "desktop/Mod_StartDoc.h"

#include "platform/shell.h"
#include "support/Mod_Diskinfo.h"

namespace Mod_StartDoc {

qint32 StartDoc(const QString& document) {
    return Platform::Shell::Open(document, Mod_Diskinfo::FolderOfPath(document));
}

}  // namespace Mod_StartDoc
