#pragma once

#include <QLoggingCategory>

namespace ferryit {

// Ferryit's log: transfers starting, resuming, ending and failing, and what the other side
// sent that was refused. Debug lines are off unless switched on
// (QT_LOGGING_RULES="tellaran.ferry.debug=true"); file contents are never logged.
Q_DECLARE_LOGGING_CATEGORY(lcFerry)

} // namespace ferryit
