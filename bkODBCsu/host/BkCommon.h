// The product family's common library, imported at load time: the module
// cannot be loaded where that library is absent.
#pragma once

extern "C" void xs_logout(void);
