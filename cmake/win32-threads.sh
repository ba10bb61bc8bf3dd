#!/bin/sh
# Compiler launcher of the setup module: runs the win32 thread-model flavour of
# the mingw-w64 driver CMake names ($1, the posix flavour the tests need).
# The module links its C++ runtime statically; with the posix flavour that
# runtime brings winpthreads, whose TLS index and thread handles outlive every
# unload of the DLL. The win32 flavour builds on plain Win32 TLS and semaphores.
compiler=$1
shift
exec "${compiler%-posix}-win32" "$@"
