// Registry of the Linux runtime: a persistent key tree in a .reg text file.
#pragma once

#include "albumrt/wintypes.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define HKEY_USERS ((HKEY)(ULONG_PTR)0x80000003u)
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)0x80000004u)
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)0x80000005u)
#define HKEY_DYN_DATA ((HKEY)(ULONG_PTR)0x80000006u)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define READ_CONTROL 0x00020000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000L
#define SYNCHRONIZE 0x00100000L
#define KEY_READ ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & (~SYNCHRONIZE))
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & (~SYNCHRONIZE))
#define KEY_ALL_ACCESS                                                                                                 \
  ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | \
    KEY_CREATE_LINK) &                                                                                                 \
   (~SYNCHRONIZE))

typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

ALBUMRT_BEGIN_C
__attribute__((visibility("default"))) LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access,
                                                             PHKEY result);
__attribute__((visibility("default"))) LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR cls,
                                                               DWORD options, REGSAM access,
                                                               LPSECURITY_ATTRIBUTES security, PHKEY result,
                                                               LPDWORD disposition);
__attribute__((visibility("default"))) LSTATUS RegCloseKey(HKEY key);
__attribute__((visibility("default"))) LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
__attribute__((visibility("default"))) LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
__attribute__((visibility("default"))) LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                                              const BYTE* data, DWORD size);
__attribute__((visibility("default"))) LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                                                                LPDWORD type, LPBYTE data, LPDWORD size);
__attribute__((visibility("default"))) LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                                                             LPDWORD reserved, LPSTR cls, LPDWORD clsSize,
                                                             PFILETIME lastWrite);
__attribute__((visibility("default"))) LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                                                             LPDWORD reserved, LPDWORD type, LPBYTE data,
                                                             LPDWORD dataSize);
__attribute__((visibility("default"))) LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR cls, LPDWORD clsSize, LPDWORD reserved,
                                                                LPDWORD subKeys, LPDWORD maxSubKeyLen,
                                                                LPDWORD maxClassLen, LPDWORD values,
                                                                LPDWORD maxValueNameLen, LPDWORD maxValueLen,
                                                                LPDWORD securityDescriptor, PFILETIME lastWrite);
// Until called again with a null newKey, the predefined key `key` stands for
// the key behind newKey in this process (per-user registration redirects
// HKEY_CLASSES_ROOT to HKEY_CURRENT_USER\Software\Classes this way).
__attribute__((visibility("default"))) LSTATUS RegOverridePredefKey(HKEY key, HKEY newKey);
ALBUMRT_END_C
