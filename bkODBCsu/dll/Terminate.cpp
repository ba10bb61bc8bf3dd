// std::terminate's default handler, linked into the DLL only. The runtime's
// own prints the exception's demangled type to a console a setup module's host
// seldom has, and its demangler and formatted output would be a fifth of the
// image. No exception leaves the module's entry points, so nothing gets here
// but a fault: end the process as the runtime's handler does after printing.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx
