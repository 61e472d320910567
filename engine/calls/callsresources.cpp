#include "engine/calls/callsresources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE names a function of the global namespace, so it is called from here.
static void initCallsQrc()
{
    Q_INIT_RESOURCE(calls);
}

namespace tellaran {

void InitCallsResources()
{
    initCallsQrc();
}

} // namespace tellaran
