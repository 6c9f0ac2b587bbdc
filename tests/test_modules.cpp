// Two broken module files for the host's error paths: one whose VyxCreateModule refuses, and
// (built with VORLA_NO_EXPORT_MODULE) one without the export.
#include "vyx/vyx.h"

#ifndef VORLA_NO_EXPORT_MODULE
extern "C" VYX_EXPORT VyxModule* VyxCreateModule(HostSystem*) { return nullptr; }
#else
extern "C" VYX_EXPORT int VyxSomethingElse() { return 0; }
#endif
