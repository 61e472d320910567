#include "engine/launcher/launcherresources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE names a function of the global namespace, so it is called from here.
static void initLauncherQrc()
{
    Q_INIT_RESOURCE(launcher);
}

namespace tellaran {

void InitLauncherResources()
{
    initLauncherQrc();
}

} // namespace tellaran
