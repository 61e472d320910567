#include "engine/windows/windowsresources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE names a function of the global namespace, so it is called from here.
static void initWindowsQrc()
{
    Q_INIT_RESOURCE(windows);
}

namespace tellaran {

void InitWindowsResources()
{
    initWindowsQrc();
}

} // namespace tellaran
