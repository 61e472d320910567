#include "ferry/ferrylog.h"

namespace ferryit {

Q_LOGGING_CATEGORY(lcFerry, "tellaran.ferry", QtWarningMsg)

} // namespace ferryit
