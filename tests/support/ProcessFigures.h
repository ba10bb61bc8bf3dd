// What a module can leave behind in its host process across a load and an
// unload: thread-local-storage indices, kernel handles, committed memory and
// the bytes its heaps hold.
// Shared by the soak program and the suite's cycle test.
#pragma once

#include <windows.h>
#include <psapi.h>

namespace bkfigures {

struct ProcessFigures {
    DWORD tlsIndices = 0;     // TLS indices in use (of the fixed number a process has)
    DWORD handles = 0;        // the process's kernel handles
    SIZE_T committed = 0;     // private committed bytes (PagefileUsage)
    SIZE_T heapBytes = 0;     // bytes in the busy blocks of the process's heaps

    static ProcessFigures Now() noexcept
    {
        ProcessFigures f;
        f.tlsIndices = TlsIndicesInUse();
        f.handles = HandleCount();
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
            f.committed = counters.PagefileUsage;
        f.heapBytes = HeapBytesInUse();
        return f;
    }

    // A leak smaller than a page, or one inside memory a heap had already
    // committed, shows here before it shows in the committed bytes.
    static SIZE_T HeapBytesInUse() noexcept
    {
        HANDLE heaps[64];
        const DWORD count = ::GetProcessHeaps(64, heaps);
        SIZE_T bytes = 0;
        for (DWORD i = 0; i < count && i < 64; ++i) {
            if (!::HeapLock(heaps[i])) continue;
            PROCESS_HEAP_ENTRY entry = {};
            while (::HeapWalk(heaps[i], &entry))
                if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes += entry.cbData;
            ::HeapUnlock(heaps[i]);
        }
        return bytes;
    }

    // Takes every free index, counts them and gives them back.
    static DWORD TlsIndicesInUse() noexcept
    {
        const DWORD kIndices = 64 + 1024;   // TLS_MINIMUM_AVAILABLE plus the expansion slots
        DWORD taken[kIndices];
        DWORD free = 0;
        while (free < kIndices && (taken[free] = ::TlsAlloc()) != TLS_OUT_OF_INDEXES) ++free;
        for (DWORD i = 0; i < free; ++i) ::TlsFree(taken[i]);
        return kIndices - free;
    }

    // GetProcessHandleCount answers 0 under Wine 8; the system's handle list
    // is counted for this process instead.
    static DWORD HandleCount() noexcept
    {
        DWORD count = 0;
        if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count) return count;
        struct Entry {
            ULONG ownerPid;
            BYTE objectType, flags;
            USHORT handle;
            PVOID object;
            ACCESS_MASK access;
        };
        using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
        const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
        if (!query) return 0;
        static BYTE buffer[4 << 20];
        ULONG size = 0;
        if (query(16 /* SystemHandleInformation */, buffer, sizeof buffer, &size) != 0) return 0;
        const ULONG entries = *reinterpret_cast<ULONG*>(buffer);
        const auto* entry = reinterpret_cast<const Entry*>(buffer + sizeof(ULONG_PTR));
        const ULONG self = ::GetCurrentProcessId();
        for (ULONG i = 0; i < entries; ++i) count += entry[i].ownerPid == self;
        return count;
    }
};

// Growth from `before` to `after`, signed (memory can be given back).
struct Growth {
    long tlsIndices;
    long handles;
    long long committedBytes;
    long long heapBytes;
};

inline Growth operator-(const ProcessFigures& after, const ProcessFigures& before) noexcept
{
    return {static_cast<long>(after.tlsIndices) - static_cast<long>(before.tlsIndices),
            static_cast<long>(after.handles) - static_cast<long>(before.handles),
            static_cast<long long>(after.committed) - static_cast<long long>(before.committed),
            static_cast<long long>(after.heapBytes) - static_cast<long long>(before.heapBytes)};
}

} // namespace bkfigures
