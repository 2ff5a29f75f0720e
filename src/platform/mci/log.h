#pragma once

#include <QLoggingCategory>

namespace Platform::Mci {

// What the media layer tells of itself: files that cannot play, the output lost and back.
Q_DECLARE_LOGGING_CATEGORY(lcMedia)

}  // namespace Platform::Mci
