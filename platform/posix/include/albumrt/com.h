// COM of the Linux runtime: GUIDs, IUnknown, class factories, the marshaler
// interface, task memory, GUID text and activation. The interfaces are C++
// structs of pure virtual functions in COM slot order and without a virtual
// destructor, so their vtables are laid out as COM's.
#pragma once

#include <string.h>

#include "albumrt/wintypes.h"

/* Interface declaration helpers, spelled as the Windows headers spell them. */
#ifndef interface
#define interface struct
#endif
#define MIDL_INTERFACE(x) struct
#define DECLSPEC_UUID(x)
#define DECLSPEC_NOVTABLE
#define __RPC_FAR
/* The calling convention of the marshalling helpers widl declares. */
#define __RPC_USER
#define PURE = 0
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODV(method) virtual HRESULT STDMETHODVCALLTYPE method
#define STDMETHODVCALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define IFACEMETHODIMP STDMETHODIMP
#define IFACEMETHODIMP_(type) STDMETHODIMP_(type)
/* Exported data: declared here, defined once in the runtime. */
#ifdef __cplusplus
#define ALBUMRT_DATA extern "C" __attribute__((visibility("default")))
#else
#define ALBUMRT_DATA extern __attribute__((visibility("default")))
#endif

#ifndef EXTERN_C
#define EXTERN_C ALBUMRT_EXTERN_C
#endif

#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_NULL 0
#define FACILITY_RPC 1
#define FACILITY_DISPATCH 2
#define FACILITY_STORAGE 3
#define FACILITY_ITF 4
#define MAKE_HRESULT(sev, fac, code) \
  ((HRESULT)(((unsigned long)(sev) << 31) | ((unsigned long)(fac) << 16) | ((unsigned long)(code))))
#define MAKE_SCODE(sev, fac, code) MAKE_HRESULT(sev, fac, code)
#ifndef CO_E_NOTINITIALIZED
#define CO_E_NOTINITIALIZED _HRESULT_TYPEDEF_(0x800401F0L)
#endif
#define CO_E_IIDSTRING _HRESULT_TYPEDEF_(0x800401F4L)
#define CO_E_CLASS_CREATE_FAILED _HRESULT_TYPEDEF_(0x80080001L)
#define CO_E_APPNOTFOUND _HRESULT_TYPEDEF_(0x800401F5L)
#define CLASS_E_NOTLICENSED _HRESULT_TYPEDEF_(0x80040112L)
#define REGDB_E_IIDNOTREG _HRESULT_TYPEDEF_(0x80040155L)

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef GUID FMTID;
typedef GUID* LPGUID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;
typedef const GUID* LPCGUID;

#ifdef __cplusplus
#define REFGUID const GUID&
#define REFIID const IID&
#define REFCLSID const IID&
#define REFFMTID const IID&
#else
#define REFGUID const GUID*
#define REFIID const IID*
#define REFCLSID const IID*
#define REFFMTID const IID*
#endif

/* DEFINE_GUID declares a GUID; with INITGUID defined it also defines it. */
#ifdef INITGUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  EXTERN_C const GUID name;                                          \
  EXTERN_C const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) EXTERN_C const GUID name
#endif

#ifdef __cplusplus
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }
inline BOOL InlineIsEqualGUID(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline BOOL IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline BOOL IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b) != 0; }
inline bool operator!=(REFGUID a, REFGUID b) { return !(a == b); }
#else
#define IsEqualGUID(a, b) (memcmp((a), (b), sizeof(GUID)) == 0)
#define InlineIsEqualGUID(a, b) IsEqualGUID(a, b)
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#endif

ALBUMRT_DATA const GUID GUID_NULL;
ALBUMRT_DATA const IID IID_NULL;
ALBUMRT_DATA const CLSID CLSID_NULL;
ALBUMRT_DATA const IID IID_IUnknown;
ALBUMRT_DATA const IID IID_IClassFactory;
ALBUMRT_DATA const IID IID_IMarshal;
ALBUMRT_DATA const IID IID_IStream;

typedef enum tagCOINIT {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

typedef enum tagCLSCTX {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_INPROC_SERVER16 = 0x8,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_INPROC_HANDLER16 = 0x20,
  CLSCTX_NO_CODE_DOWNLOAD = 0x400,
  CLSCTX_NO_FAILURE_LOG = 0x4000,
  CLSCTX_DISABLE_AAA = 0x8000,
  CLSCTX_ENABLE_AAA = 0x10000,
  CLSCTX_FROM_DEFAULT_CONTEXT = 0x20000
} CLSCTX;
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

typedef enum tagMSHCTX {
  MSHCTX_LOCAL = 0,
  MSHCTX_NOSHAREDMEM = 1,
  MSHCTX_DIFFERENTMACHINE = 2,
  MSHCTX_INPROC = 3,
  MSHCTX_CROSSCTX = 4
} MSHCTX;

typedef enum tagMSHLFLAGS {
  MSHLFLAGS_NORMAL = 0,
  MSHLFLAGS_TABLESTRONG = 1,
  MSHLFLAGS_TABLEWEAK = 2,
  MSHLFLAGS_NOPING = 4
} MSHLFLAGS;

typedef struct _COSERVERINFO COSERVERINFO;

#ifdef __cplusplus

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
  STDMETHOD_(ULONG, AddRef)(void) PURE;
  STDMETHOD_(ULONG, Release)(void) PURE;
};

struct IClassFactory : public IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
  STDMETHOD(LockServer)(BOOL fLock) PURE;
};

/* Only its identity is used here: nothing is marshalled inside one process. */
struct IStream;

struct IMarshal : public IUnknown {
  STDMETHOD(GetUnmarshalClass)
  (REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags, CLSID* pCid) PURE;
  STDMETHOD(GetMarshalSizeMax)
  (REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags, DWORD* pSize) PURE;
  STDMETHOD(MarshalInterface)
  (IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags) PURE;
  STDMETHOD(UnmarshalInterface)(IStream* pStm, REFIID riid, void** ppv) PURE;
  STDMETHOD(ReleaseMarshalData)(IStream* pStm) PURE;
  STDMETHOD(DisconnectObject)(DWORD dwReserved) PURE;
};

#else
typedef struct IUnknown IUnknown;
typedef struct IClassFactory IClassFactory;
typedef struct IStream IStream;
typedef struct IMarshal IMarshal;
#endif

typedef IUnknown* LPUNKNOWN;
typedef IClassFactory* LPCLASSFACTORY;
typedef IMarshal* LPMARSHAL;
typedef IStream* LPSTREAM;

ALBUMRT_BEGIN_C
__attribute__((visibility("default"))) HRESULT CoInitialize(LPVOID pvReserved);
__attribute__((visibility("default"))) HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
__attribute__((visibility("default"))) void CoUninitialize(void);

__attribute__((visibility("default"))) LPVOID CoTaskMemAlloc(SIZE_T cb);
__attribute__((visibility("default"))) LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
__attribute__((visibility("default"))) void CoTaskMemFree(LPVOID pv);

__attribute__((visibility("default"))) int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
__attribute__((visibility("default"))) HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
__attribute__((visibility("default"))) HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid);

__attribute__((visibility("default"))) HRESULT CoCreateFreeThreadedMarshaler(LPUNKNOWN punkOuter,
                                                                             LPUNKNOWN* ppunkMarshal);

__attribute__((visibility("default"))) HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
__attribute__((visibility("default"))) HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
__attribute__((visibility("default"))) HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext,
                                                                COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv);
__attribute__((visibility("default"))) HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter,
                                                                DWORD dwClsContext, REFIID riid, LPVOID* ppv);
ALBUMRT_END_C
