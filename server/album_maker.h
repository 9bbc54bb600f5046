// The AlbumMaker object: the dual interface IAlbumMaker over one album
// engine, with error information, dispatch from the type library and the
// aggregated free-threaded marshaler.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <mutex>
#include <string>

#include "album_engine.h"
#include "album_maker_interface.h"
#include "module_state.h"

namespace albummaker::server {

// What the object installs as the calling thread's error information when
// the engine fails. Exposed so the content can be checked apart from the
// platform's error objects.
struct ErrorInfoRecord {
  GUID interfaceGuid;
  bool hasSource;
  std::u16string source;
  std::u16string description;
};

// Builds the record for an engine message (8-bit text in the ANSI code page).
ErrorInfoRecord MakeErrorInfoRecord(const char* message);
// Installs the record for an engine message as the thread's error
// information; always returns DISP_E_EXCEPTION.
HRESULT ReportError(const char* message);

// The type information of IAlbumMaker, shared by all objects of the process,
// with a cache of the member names.
class TypeInfoCache {
 public:
  struct NameEntry {
    BSTR name;
    UINT length;
    DISPID dispid;
  };

  // Loads the type information once; S_OK when it is loaded.
  HRESULT Load(LCID lcid);
  // The loaded type information, or null; no reference is added.
  ITypeInfo* TypeInfo() const { return typeInfo_.load(std::memory_order_acquire); }
  // The DISPID of a member name of exactly this spelling, from the cache.
  bool Lookup(const OLECHAR* name, UINT length, DISPID& dispid) const;

  // Releases the type information and the name cache.
  static void Cleanup(void* cache);

 private:
  HRESULT BuildNames(ITypeInfo* info);
  void FreeNames();

  std::atomic<ITypeInfo*> typeInfo_{nullptr};
  UINT nameCount_ = 0;
  NameEntry* names_ = nullptr;
};

TypeInfoCache& SharedTypeInfo();

class AlbumMaker final : public IAlbumMaker, public ISupportErrorInfo {
 public:
  // A plain object when outer is null; otherwise the contained part of an
  // aggregate, whose references all go to outer.
  explicit AlbumMaker(IUnknown* outer = nullptr);
  ~AlbumMaker();
  AlbumMaker(const AlbumMaker&) = delete;
  AlbumMaker& operator=(const AlbumMaker&) = delete;

  // Creation and destruction steps (the sequences live with the class factory).
  HRESULT FinishConstruction();
  void BeginDestruction();
  // The interface map, without involving an outer object.
  HRESULT InternalQueryInterface(REFIID iid, void** out);
  LONG InternalAddRef();
  LONG InternalRelease();
  // The count of a plain object as it stands (tests and diagnostics).
  LONG RefCount();
  IAlbumMaker* Identity() { return this; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

  // IAlbumMaker
  HRESULT STDMETHODCALLTYPE get_FolderPath(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_FolderPath(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_PageTemplatePath(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_PageTemplatePath(BSTR value) override;
  HRESULT STDMETHODCALLTYPE getAlbumPage(VARIANT FileNameOrIndex, VARIANT FolderPath, VARIANT PageTemplatePath,
                                         BSTR* page) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  enum class Which { Folder, Template };
  HRESULT GetPath(Which which, BSTR* out);
  void SetPath(Which which, const char16_t* text);
  void DestroySelf();

  LONG refCount_ = 0;
  IUnknown* outer_;  // not counted; null for a plain object
  IUnknown* marshaler_ = nullptr;
  // Guards the engine's two paths, so a path change may overlap any other
  // call; renders work on a copy taken under it.
  std::mutex pathLock_;
  AlbumEngine engine_;
};

}  // namespace albummaker::server
