#include "support/ProgramLocation.h"

#include "platform/files.h"

const ProgramLocation& Program() {
    static const ProgramLocation location{Platform::Files::ExecutableFolder(),
                                          Platform::Files::ExecutableBaseName()};
    return location;
}
