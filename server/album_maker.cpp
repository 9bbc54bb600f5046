#include "album_maker.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "caught_exception.h"
#include "com_util.h"

namespace albummaker::server {

namespace {

constexpr GUID kNullGuid = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Stores a new BSTR with the text through out; false when it cannot be made.
bool StoreBstr(const std::u16string& text, BSTR* out) {
  // SysAllocString measures up to the first NUL; the length form keeps
  // the whole text, which for paths and pages has no NUL anyway.
  BSTR s = SysAllocStringLen(AsOle(text.c_str()), static_cast<UINT>(text.size()));
  if (s == nullptr) return false;
  *out = s;
  return true;
}

std::u16string DecodeAnsi(const char* message) {
  const int bytes = static_cast<int>(std::strlen(message)) + 1;
  std::u16string wide(static_cast<std::size_t>(bytes) + 1, u'\0');
  const int units = MultiByteToWideChar(CP_ACP, 0, message, bytes, reinterpret_cast<LPWSTR>(wide.data()), bytes + 1);
  // The count includes the terminating NUL.
  wide.resize(units > 0 ? static_cast<std::size_t>(units - 1) : 0);
  return wide;
}

}  // namespace

// ---------------------------------------------------------------------------
// Error information

ErrorInfoRecord MakeErrorInfoRecord(const char* message) {
  ErrorInfoRecord record{kNullGuid, false, {}, DecodeAnsi(message)};
  am::UniqueTaskMemory<OLECHAR> progId;
  if (SUCCEEDED(ProgIDFromCLSID(kClsidAlbumMaker, progId.put())) && progId) {
    record.hasSource = true;
    record.source = AsU16(progId.get());
  }
  return record;
}

HRESULT ReportError(const char* message) {
  try {
    // The ProgID is looked up only once there is an object to take it.
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put())) || !create) return DISP_E_EXCEPTION;
    const ErrorInfoRecord record = MakeErrorInfoRecord(message);
    create->SetGUID(record.interfaceGuid);
    if (record.hasSource) create->SetSource(const_cast<LPOLESTR>(AsOle(record.source.c_str())));
    create->SetDescription(const_cast<LPOLESTR>(AsOle(record.description.c_str())));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void())) && info) SetErrorInfo(0, info.get());
  } catch (...) {
    // Without memory for the record the caller still learns of the failure.
  }
  return DISP_E_EXCEPTION;
}

// ---------------------------------------------------------------------------
// Type information

TypeInfoCache& SharedTypeInfo() {
  static TypeInfoCache cache;
  return cache;
}

HRESULT TypeInfoCache::Load(LCID lcid) {
  if (TypeInfo() != nullptr) return S_OK;
  ModuleState& module = Module();
  ScopedCriticalSection hold(module.typeInfoAndCleanupLock);
  if (TypeInfo() != nullptr) return S_OK;

  ComPtr<ITypeLib> library;
  HRESULT hr = LoadRegTypeLib(kLibidQuorrel, kTypeLibMajor, kTypeLibMinor, lcid, library.put());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> info;
  hr = library->GetTypeInfoOfGuid(kIidAlbumMaker, info.put());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo2> info2;
  if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, info2.put_void())) && info2) {
    info.reset(info2.detach());
  }
  hr = BuildNames(info.get());
  if (FAILED(hr)) {
    FreeNames();
    return hr;
  }
  // Registered once, by the call that loads; a failed load registers
  // nothing, so repeated failures cannot grow the list. The lock is
  // re-entrant, and holding it keeps load and registration one step.
  hr = AddCleanup(module, &TypeInfoCache::Cleanup, this);
  if (FAILED(hr)) {
    FreeNames();
    return hr;
  }
  typeInfo_.store(info.detach(), std::memory_order_release);
  return S_OK;
}

HRESULT TypeInfoCache::BuildNames(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  HRESULT hr = info->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  const UINT count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  if (count == 0) return S_OK;
  names_ = new (std::nothrow) NameEntry[count];
  if (names_ == nullptr) return E_OUTOFMEMORY;
  for (UINT i = 0; i < count; ++i) names_[i] = NameEntry{nullptr, 0, 0};
  nameCount_ = count;
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* desc = nullptr;
    hr = info->GetFuncDesc(i, &desc);
    if (FAILED(hr)) return hr;
    const DISPID dispid = desc->memid;
    info->ReleaseFuncDesc(desc);
    BSTR name = nullptr;
    hr = info->GetDocumentation(dispid, &name, nullptr, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    names_[i] = NameEntry{name, SysStringLen(name), dispid};
  }
  return S_OK;
}

void TypeInfoCache::FreeNames() {
  for (UINT i = 0; i < nameCount_; ++i) SysFreeString(names_[i].name);
  delete[] names_;
  names_ = nullptr;
  nameCount_ = 0;
}

bool TypeInfoCache::Lookup(const OLECHAR* name, UINT length, DISPID& dispid) const {
  for (UINT i = nameCount_; i > 0; --i) {
    const NameEntry& entry = names_[i - 1];
    if (entry.length == length && std::memcmp(entry.name, name, length * sizeof(OLECHAR)) == 0) {
      dispid = entry.dispid;
      return true;
    }
  }
  return false;
}

void TypeInfoCache::Cleanup(void* argument) {
  auto* cache = static_cast<TypeInfoCache*>(argument);
  ITypeInfo* info = cache->typeInfo_.exchange(nullptr, std::memory_order_acq_rel);
  if (info != nullptr) info->Release();
  cache->FreeNames();
}

// ---------------------------------------------------------------------------
// The object

AlbumMaker::AlbumMaker(IUnknown* outer) : outer_(outer) {}

AlbumMaker::~AlbumMaker() {
  // Normally already released by BeginDestruction.
  if (marshaler_ != nullptr) marshaler_->Release();
}

HRESULT AlbumMaker::FinishConstruction() {
  IUnknown* controlling = outer_ != nullptr ? outer_ : static_cast<IUnknown*>(Identity());
  return CoCreateFreeThreadedMarshaler(controlling, &marshaler_);
}

void AlbumMaker::BeginDestruction() {
  if (marshaler_ != nullptr) {
    IUnknown* marshaler = marshaler_;
    marshaler_ = nullptr;
    marshaler->Release();
  }
}

HRESULT AlbumMaker::InternalQueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  IUnknown* answer = nullptr;
  if (SameGuid(iid, IID_IUnknown) || SameGuid(iid, kIidAlbumMaker) || SameGuid(iid, IID_IDispatch)) {
    answer = static_cast<IAlbumMaker*>(this);
  } else if (SameGuid(iid, IID_ISupportErrorInfo)) {
    answer = static_cast<ISupportErrorInfo*>(this);
  } else if (SameGuid(iid, IID_IMarshal)) {
    return marshaler_ != nullptr ? marshaler_->QueryInterface(iid, out) : E_NOINTERFACE;
  } else {
    return E_NOINTERFACE;
  }
  answer->AddRef();
  *out = answer;
  return S_OK;
}

LONG AlbumMaker::InternalAddRef() { return InterlockedIncrement(&refCount_); }

LONG AlbumMaker::InternalRelease() { return InterlockedDecrement(&refCount_); }

LONG AlbumMaker::RefCount() { return InterlockedCompareExchange(&refCount_, 0, 0); }

void AlbumMaker::DestroySelf() {
  // A count of 1 keeps references taken and dropped while tearing down
  // from starting a second destruction.
  InterlockedExchange(&refCount_, 1);
  BeginDestruction();
  UnlockModule(Module());
  delete this;
}

HRESULT STDMETHODCALLTYPE AlbumMaker::QueryInterface(REFIID iid, void** out) {
  if (outer_ == nullptr) return InternalQueryInterface(iid, out);
  const HRESULT hr = outer_->QueryInterface(iid, out);
  if (FAILED(hr) && outer_ != static_cast<IUnknown*>(Identity())) return InternalQueryInterface(iid, out);
  return hr;
}

ULONG STDMETHODCALLTYPE AlbumMaker::AddRef() {
  if (outer_ != nullptr) return outer_->AddRef();
  return static_cast<ULONG>(InternalAddRef());
}

ULONG STDMETHODCALLTYPE AlbumMaker::Release() {
  if (outer_ != nullptr) return outer_->Release();
  const LONG count = InternalRelease();
  if (count == 0) DestroySelf();
  return static_cast<ULONG>(count);
}

// IDispatch ------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE AlbumMaker::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE AlbumMaker::GetTypeInfo(UINT, LCID lcid, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  TypeInfoCache& cache = SharedTypeInfo();
  const HRESULT hr = cache.Load(lcid);
  ITypeInfo* loaded = cache.TypeInfo();
  *info = loaded;
  if (loaded == nullptr) return hr;
  loaded->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE AlbumMaker::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  if (count > 0 && (names == nullptr || ids == nullptr)) return E_POINTER;
  TypeInfoCache& cache = SharedTypeInfo();
  HRESULT hr = cache.Load(lcid);
  ITypeInfo* info = cache.TypeInfo();
  if (info == nullptr) return hr;
  hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    if (names[i] == nullptr) return E_POINTER;
    const UINT length = static_cast<UINT>(lstrlenW(names[i]));
    DISPID dispid = 0;
    if (cache.Lookup(names[i], length, dispid)) {
      ids[i] = dispid;
      continue;
    }
    hr = info->GetIDsOfNames(names, count, ids);
    if (FAILED(hr)) return hr;
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE AlbumMaker::Invoke(DISPID dispid, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                                             VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  TypeInfoCache& cache = SharedTypeInfo();
  const HRESULT hr = cache.Load(lcid);
  ITypeInfo* info = cache.TypeInfo();
  if (info == nullptr) return hr;
  return info->Invoke(static_cast<IAlbumMaker*>(this), dispid, flags, params, result, exception, argError);
}

// IAlbumMaker ------------------------------------------------------------------

HRESULT AlbumMaker::GetPath(Which which, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  try {
    std::u16string copy;
    {
      std::lock_guard hold(pathLock_);
      copy = which == Which::Folder ? engine_.GetFolderPath() : engine_.GetPageTemplatePath();
    }
    return StoreBstr(copy, out) ? S_OK : E_OUTOFMEMORY;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

void AlbumMaker::SetPath(Which which, const char16_t* text) {
  std::lock_guard hold(pathLock_);
  if (which == Which::Folder) {
    engine_.SetFolderPath(text);
  } else {
    engine_.SetPageTemplatePath(text);
  }
}

HRESULT STDMETHODCALLTYPE AlbumMaker::get_FolderPath(BSTR* pVal) { return GetPath(Which::Folder, pVal); }

HRESULT STDMETHODCALLTYPE AlbumMaker::get_PageTemplatePath(BSTR* pVal) { return GetPath(Which::Template, pVal); }

HRESULT STDMETHODCALLTYPE AlbumMaker::put_FolderPath(BSTR value) {
  try {
    SetPath(Which::Folder, TextOf(value));
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT STDMETHODCALLTYPE AlbumMaker::put_PageTemplatePath(BSTR value) {
  try {
    SetPath(Which::Template, TextOf(value));
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT STDMETHODCALLTYPE AlbumMaker::getAlbumPage(VARIANT FileNameOrIndex, VARIANT FolderPath,
                                                   VARIANT PageTemplatePath, BSTR* page) {
  try {
    UniqueVariant scratch;
    if (SUCCEEDED(VariantChangeType(scratch.get(), &FolderPath, 0, VT_BSTR))) {
      SetPath(Which::Folder, TextOf(V_BSTR(scratch.get())));
    }
    if (SUCCEEDED(VariantChangeType(scratch.get(), &PageTemplatePath, 0, VT_BSTR))) {
      SetPath(Which::Template, TextOf(V_BSTR(scratch.get())));
    }
    if (page == nullptr) return S_OK;

    // Render on a copy of the paths, so the object's lock is not held while
    // the folder and the template are read.
    AlbumEngine snapshot;
    {
      std::lock_guard hold(pathLock_);
      snapshot.SetFolderPath(engine_.GetFolderPath().c_str());
      snapshot.SetPageTemplatePath(engine_.GetPageTemplatePath().c_str());
    }
    std::u16string text;
    if (SUCCEEDED(VariantChangeType(scratch.get(), &FileNameOrIndex, 0, VT_I4))) {
      text = snapshot.RenderPageByIndex(V_I4(scratch.get()));
    } else if (SUCCEEDED(VariantChangeType(scratch.get(), &FileNameOrIndex, 0, VT_BSTR))) {
      text = snapshot.RenderPageByName(TextOf(V_BSTR(scratch.get())));
    } else {
      text = snapshot.RenderPageByName(std::u16string());
    }
    return StoreBstr(text, page) ? S_OK : E_OUTOFMEMORY;
  } catch (...) {
    // The engine's failures become the caller's error information.
    return am::ResultFromCaughtException(&ReportError);
  }
}

// ISupportErrorInfo -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE AlbumMaker::InterfaceSupportsErrorInfo(REFIID iid) {
  // A C caller can pass a null IID; read through a volatile so the test is
  // not optimised away as a null reference.
  const IID* const volatile address = &iid;
  if (address == nullptr) return E_POINTER;
  return SameGuid(*address, kIidAlbumMaker) ? S_OK : S_FALSE;
}

}  // namespace albummaker::server
