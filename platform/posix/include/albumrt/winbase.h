// Kernel services of the Linux runtime: last error, critical sections,
// interlocked counters, modules and resources, ANSI code page (Windows-1252).
#pragma once

#include "albumrt/wintypes.h"

/* A re-entrant lock; the storage holds a recursive mutex. */
typedef struct _RTL_CRITICAL_SECTION {
  void* Impl;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define LOAD_LIBRARY_AS_DATAFILE 0x00000002

ALBUMRT_BEGIN_C
__attribute__((visibility("default"))) DWORD GetLastError(void);
__attribute__((visibility("default"))) void SetLastError(DWORD code);

__attribute__((visibility("default"))) void InitializeCriticalSection(LPCRITICAL_SECTION cs);
__attribute__((visibility("default"))) void EnterCriticalSection(LPCRITICAL_SECTION cs);
__attribute__((visibility("default"))) void LeaveCriticalSection(LPCRITICAL_SECTION cs);
__attribute__((visibility("default"))) void DeleteCriticalSection(LPCRITICAL_SECTION cs);

__attribute__((visibility("default"))) LONG InterlockedIncrement(LONG volatile* value);
__attribute__((visibility("default"))) LONG InterlockedDecrement(LONG volatile* value);
__attribute__((visibility("default"))) LONG InterlockedExchange(LONG volatile* target, LONG value);
__attribute__((visibility("default"))) LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange,
                                                                       LONG comparand);

/* Code page: CP_ACP is Windows-1252 on Linux; CP_UTF8 is also accepted. */
__attribute__((visibility("default"))) int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source,
                                                               int sourceBytes, LPWSTR dest, int destUnits);
__attribute__((visibility("default"))) int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source,
                                                               int sourceUnits, LPSTR dest, int destBytes,
                                                               LPCSTR defaultChar, LPBOOL usedDefault);
__attribute__((visibility("default"))) LPSTR CharNextA(LPCSTR p);
__attribute__((visibility("default"))) BOOL IsDBCSLeadByte(BYTE b);
__attribute__((visibility("default"))) int lstrcmpiA(LPCSTR a, LPCSTR b);
__attribute__((visibility("default"))) int lstrlenA(LPCSTR s);
__attribute__((visibility("default"))) int lstrlenW(LPCWSTR s);
__attribute__((visibility("default"))) UINT GetACP(void);

/* Modules and resources. A module is a shared object; its resources are the
   table the build embeds in it. */
__attribute__((visibility("default"))) HMODULE LoadLibraryA(LPCSTR fileName);
__attribute__((visibility("default"))) HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE reserved, DWORD flags);
__attribute__((visibility("default"))) BOOL FreeLibrary(HMODULE module);
__attribute__((visibility("default"))) FARPROC GetProcAddress(HMODULE module, LPCSTR name);
__attribute__((visibility("default"))) DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
__attribute__((visibility("default"))) HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
__attribute__((visibility("default"))) HGLOBAL LoadResource(HMODULE module, HRSRC resource);
__attribute__((visibility("default"))) LPVOID LockResource(HGLOBAL data);
__attribute__((visibility("default"))) DWORD SizeofResource(HMODULE module, HRSRC resource);
__attribute__((visibility("default"))) BOOL DisableThreadLibraryCalls(HMODULE module);
ALBUMRT_END_C
