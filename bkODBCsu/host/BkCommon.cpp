#include "BkCommon.h"

// The common library is a load-time dependency of the module, whatever the
// code paths taken: a machine without it must refuse the module at load, not
// fail later inside a command. This reference keeps the import in place.
extern "C" __attribute__((used)) void (*const g_bkCommonImport)(void) = &xs_logout;
