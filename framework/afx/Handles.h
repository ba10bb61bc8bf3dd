// Owners of the Windows handles the module uses: one type per kind of handle,
// each with get/put/reset/release. Every handle the module frees is freed by
// one of these. Two libraries are bound for the life of the process and never
// freed, so no owner holds them: the installer's (host/Installer.cpp) and the
// HTML Help control's (help/HtmlHelp.cpp).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shtypes.h>
#include <utility>

namespace afx {

// A unique owner for a handle kind described by Traits
// (Traits::Type, Traits::Invalid(), Traits::Close(Type)); HandleTraits below.
template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type h) noexcept : m_h(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::Invalid(); }
    // Address for an API that hands out a new handle; the old one is closed first.
    Type* put() noexcept { reset(); return &m_h; }
    // Address for an in-and-out parameter: the callee may replace the handle
    // (closing the old one itself) and the owner then holds the new one.
    Type* addressof() noexcept { return &m_h; }
    void reset(Type h = Traits::Invalid()) noexcept {
        if (m_h != Traits::Invalid()) Traits::Close(m_h);
        m_h = h;
    }
    Type release() noexcept { return std::exchange(m_h, Traits::Invalid()); }

private:
    Type m_h = Traits::Invalid();
};

// The traits of a handle kind that `close` frees, `invalid` being its empty value.
template <typename T, typename CloseFn, CloseFn close, LONG_PTR invalid = 0>
struct HandleTraits {
    using Type = T;
    static Type Invalid() noexcept { return reinterpret_cast<Type>(invalid); }
    static void Close(Type h) noexcept { close(h); }
};
template <typename T, typename CloseFn, CloseFn close, LONG_PTR invalid = 0>
using UniqueAny = UniqueHandle<HandleTraits<T, CloseFn, close, invalid>>;

using UniqueRegKey = UniqueAny<HKEY, decltype(&::RegCloseKey), ::RegCloseKey>;
using UniqueModule = UniqueAny<HMODULE, decltype(&::FreeLibrary), ::FreeLibrary>;
using UniqueActCtx = UniqueAny<HANDLE, decltype(&::ReleaseActCtx), ::ReleaseActCtx, -1>;
using UniqueFile = UniqueAny<HANDLE, decltype(&::CloseHandle), ::CloseHandle, -1>;
using UniqueBstr = UniqueAny<BSTR, decltype(&::SysFreeString), ::SysFreeString>;
// A kernel object whose empty value is null (a mutex), and memory the system
// handed out with LocalAlloc (a security descriptor made from its text form).
using UniqueKernelHandle = UniqueAny<HANDLE, decltype(&::CloseHandle), ::CloseHandle>;
using UniqueLocalMemory = UniqueAny<HLOCAL, decltype(&::LocalFree), ::LocalFree>;
// The ownership of a mutex this thread holds: released, not closed; the
// handle itself stays with its UniqueKernelHandle, which must outlive this.
using MutexOwnership = UniqueAny<HANDLE, decltype(&::ReleaseMutex), ::ReleaseMutex>;

// Activation of an activation context for the lifetime of the object; the
// caller's context is back in force when it is destroyed.
class ActCtxActivation {
public:
    explicit ActCtxActivation(HANDLE ctx) noexcept {
        if (ctx != INVALID_HANDLE_VALUE && !::ActivateActCtx(ctx, &m_cookie)) m_cookie = 0;
    }
    ~ActCtxActivation() {
        if (m_cookie) ::DeactivateActCtx(0, m_cookie);
    }
    ActCtxActivation(const ActCtxActivation&) = delete;
    ActCtxActivation& operator=(const ActCtxActivation&) = delete;

private:
    ULONG_PTR m_cookie = 0;
};

// An in-process lock (SRWLOCK) held exclusively for the lifetime of the object.
class ExclusiveHold {
public:
    explicit ExclusiveHold(SRWLOCK& lock) noexcept : m_lock(lock) { ::AcquireSRWLockExclusive(&m_lock); }
    ~ExclusiveHold() { ::ReleaseSRWLockExclusive(&m_lock); }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

private:
    SRWLOCK& m_lock;
};

// A counted reference to a COM interface.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : m_p(other.release()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) { reset(); m_p = other.release(); }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    T** put() noexcept { reset(); return &m_p; }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    T* release() noexcept { return std::exchange(m_p, nullptr); }

private:
    T* m_p = nullptr;
};

// An item list (PIDL) handed out by the shell, freed with the allocator that
// made it. The allocator is borrowed: its owner must outlive this one.
class UniqueItemList {
public:
    UniqueItemList(IMalloc* allocator, LPITEMIDLIST list) noexcept
        : m_allocator(allocator), m_list(list) {}
    ~UniqueItemList() {
        if (m_list && m_allocator) m_allocator->Free(m_list);
    }
    UniqueItemList(const UniqueItemList&) = delete;
    UniqueItemList& operator=(const UniqueItemList&) = delete;

    LPITEMIDLIST get() const noexcept { return m_list; }
    explicit operator bool() const noexcept { return m_list != nullptr; }

private:
    IMalloc* m_allocator;
    LPITEMIDLIST m_list;
};

} // namespace afx
