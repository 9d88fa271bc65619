// Kernel services: events, multiple-object waits, critical sections,
// registered waits on a thread pool, threads, local time, last-error codes,
// debugger trace output and the version query. Semantics follow the Windows
// calls of the same names; the Linux implementation is in platform/linux/.
#pragma once

#include "WinTypes.h"

namespace win {

// ---- Waits ---------------------------------------------------------------
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_ABANDONED_0 = 0x80;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// ---- Events ----------------------------------------------------------------
/// Creates an unnamed event; the name must be null. Returns null on failure.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
/// Closes an event or a thread handle.
BOOL CloseHandle(HANDLE object);

/// Waits on events or threads (a thread handle is signalled once the thread has ended).
/// Returns WAIT_OBJECT_0 + index of the lowest signalled handle (wait-all false),
/// WAIT_TIMEOUT, or WAIT_FAILED with the last error set.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// ---- Critical sections (re-entrant) ----------------------------------------------
struct CRITICAL_SECTION {
    void* impl = nullptr;  // owned by the layer between Initialize and Delete
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// ---- Registered waits on the thread pool -------------------------------------------
using WAITORTIMERCALLBACK = void (*)(PVOID context, BOOL timerOrWaitFired);
inline constexpr ULONG WT_EXECUTEDEFAULT = 0x00000000;
inline constexpr ULONG WT_EXECUTEONLYONCE = 0x00000008;
/// Permanent unless WT_EXECUTEONLYONCE: the callback runs on a pool thread every
/// time the object is signalled; runs may overlap on different pool threads.
BOOL RegisterWaitForSingleObject(HANDLE* newWaitObject, HANDLE object, WAITORTIMERCALLBACK callback, PVOID context,
                                 ULONG milliseconds, ULONG flags);
/// With INVALID_HANDLE_VALUE as completion event: returns only after every run in
/// progress has finished; no run starts after it.
BOOL UnregisterWaitEx(HANDLE waitHandle, HANDLE completionEvent);

// ---- Threads -----------------------------------------------------------------
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);
/// Starts a thread running routine(parameter). The handle is signalled when the
/// thread ends; close it with CloseHandle. Returns null on failure.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId);
void Sleep(DWORD milliseconds);

// ---- Local time --------------------------------------------------------------
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
void GetLocalTime(SYSTEMTIME* time);

/// A point in time: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
void GetSystemTimeAsFileTime(FILETIME* time);
/// Converts a UTC file time to the local time zone's file time (the offset in
/// force at that moment). FALSE for a time outside the calendar's range.
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
/// Splits a file time into calendar fields, without any zone conversion.
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields);

// ---- Last error ----------------------------------------------------------------
/// Per-thread last-error code.
DWORD GetLastError();
void SetLastError(DWORD error);

// ---- Debugger trace ----------------------------------------------------------
/// Writes a trace line to standard error when QUORVANE_DEBUG=1 is set; else nothing.
void OutputDebugStringA(LPCSTR text);

// ---- Version query -------------------------------------------------------------
inline constexpr DWORD VER_PLATFORM_WIN32s = 0;
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};
/// Answers as an NT-family system of major version 5 or later when the running
/// kernel offers packet sockets. dwOSVersionInfoSize must be 148.
BOOL GetVersionExA(OSVERSIONINFOA* info);

}  // namespace win
