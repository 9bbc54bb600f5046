// ITypeLib over a parsed type description, and LoadTypeLib.
#include <albumrt/typedesc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "caught_exception.h"
#include "typelib_impl.h"
#include "utf8.h"

namespace albumrt {
namespace tlb {

namespace {

char16_t Fold(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  // Latin-1 lower-case letters, except the division sign and y-diaeresis.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  return c;
}

// Copies the stored spelling of a name over the caller's buffer, as IsName
// and FindName do; the lengths are equal when the names matched.
void CopySpelling(LPOLESTR buffer, const std::u16string& name) {
  std::memcpy(buffer, name.data(), name.size() * sizeof(char16_t));
}

}  // namespace

bool SameNameIgnoringCase(const OLECHAR* a, const std::u16string& b) {
  size_t i = 0;
  for (; i < b.size(); ++i) {
    if (a[i] == 0 || Fold(a[i]) != Fold(b[i])) return false;
  }
  return a[i] == 0;
}

bool StoreBstr(BSTR* out, const std::u16string& text) {
  if (out == nullptr) return true;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out != nullptr;
}

TypeLib::TypeLib(Library lib) : lib_(std::move(lib)) {
  primary_.reserve(lib_.types.size());
  interfaceView_.reserve(lib_.types.size());
  for (size_t i = 0; i < lib_.types.size(); ++i) {
    const bool dual = lib_.types[i].kind == TKIND_DISPATCH;
    primary_.push_back(std::make_unique<TypeInfo>(*this, i, dual));
    interfaceView_.push_back(dual ? std::make_unique<TypeInfo>(*this, i, false) : nullptr);
  }
}

STDMETHODIMP TypeLib::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_ITypeLib) return E_NOINTERFACE;
  *ppv = static_cast<ITypeLib*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TypeLib::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

STDMETHODIMP_(ULONG) TypeLib::Release() {
  const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) {
    refs_.store(1, std::memory_order_relaxed);
    delete this;
  }
  return left;
}

STDMETHODIMP_(UINT) TypeLib::GetTypeInfoCount() { return static_cast<UINT>(lib_.types.size()); }

STDMETHODIMP TypeLib::GetTypeInfo(UINT index, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  if (index >= lib_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
  *ppTInfo = Primary(index);
  AddRef();
  return S_OK;
}

STDMETHODIMP TypeLib::GetTypeInfoType(UINT index, TYPEKIND* pTKind) {
  if (pTKind == nullptr) return E_INVALIDARG;
  if (index >= lib_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pTKind = lib_.types[index].kind;
  return S_OK;
}

STDMETHODIMP TypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) {
  if (ppTinfo == nullptr) return E_INVALIDARG;
  *ppTinfo = nullptr;
  for (size_t i = 0; i < lib_.types.size(); ++i) {
    if (lib_.types[i].guid == guid) {
      *ppTinfo = Primary(i);
      AddRef();
      return S_OK;
    }
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeLib::GetLibAttr(TLIBATTR** ppTLibAttr) {
  if (ppTLibAttr == nullptr) return E_INVALIDARG;
  auto* attr = static_cast<TLIBATTR*>(std::calloc(1, sizeof(TLIBATTR)));
  *ppTLibAttr = attr;
  if (attr == nullptr) return E_OUTOFMEMORY;
  attr->guid = lib_.guid;
  attr->lcid = lib_.lcid;
  // Pointers and VARIANTs have the 64-bit layout here.
  attr->syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
  attr->wMajorVerNum = lib_.major;
  attr->wMinorVerNum = lib_.minor;
  attr->wLibFlags = lib_.flags;
  return S_OK;
}

STDMETHODIMP_(void) TypeLib::ReleaseTLibAttr(TLIBATTR* pTLibAttr) { std::free(pTLibAttr); }

STDMETHODIMP TypeLib::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp != nullptr) *ppTComp = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP TypeLib::GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                       BSTR* pBstrHelpFile) {
  const std::u16string* name;
  const std::u16string* help;
  DWORD context;
  if (index == -1) {
    name = &lib_.name;
    help = &lib_.help;
    context = lib_.helpContext;
  } else if (index >= 0 && static_cast<size_t>(index) < lib_.types.size()) {
    name = &lib_.types[index].name;
    help = &lib_.types[index].help;
    context = lib_.types[index].helpContext;
  } else {
    return TYPE_E_ELEMENTNOTFOUND;
  }
  BSTR names[3] = {};
  const bool ok = StoreBstr(&names[0], *name) && (help->empty() || StoreBstr(&names[1], *help)) &&
                  (lib_.helpFile.empty() || StoreBstr(&names[2], lib_.helpFile));
  if (!ok) {
    for (BSTR b : names) SysFreeString(b);
    return E_OUTOFMEMORY;
  }
  // Absent strings are reported as null, present ones as new strings.
  if (pBstrName)
    *pBstrName = names[0];
  else
    SysFreeString(names[0]);
  if (pBstrDocString)
    *pBstrDocString = names[1];
  else
    SysFreeString(names[1]);
  if (pBstrHelpFile)
    *pBstrHelpFile = names[2];
  else
    SysFreeString(names[2]);
  if (pdwHelpContext) *pdwHelpContext = context;
  return S_OK;
}

STDMETHODIMP TypeLib::IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) {
  if (szNameBuf == nullptr || pfName == nullptr) return E_INVALIDARG;
  *pfName = FALSE;
  const auto check = [&](const std::u16string& name) {
    if (!name.empty() && SameNameIgnoringCase(szNameBuf, name)) {
      CopySpelling(szNameBuf, name);
      *pfName = TRUE;
    }
    return *pfName != FALSE;
  };
  for (const auto& type : lib_.types) {
    if (check(type.name)) return S_OK;
    for (const auto& f : type.funcs) {
      if (check(f.name)) return S_OK;
      for (const auto& p : f.params)
        if (check(p.name)) return S_OK;
    }
  }
  return S_OK;
}

STDMETHODIMP TypeLib::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId, USHORT* pcFound) {
  if (szNameBuf == nullptr || ppTInfo == nullptr || rgMemId == nullptr || pcFound == nullptr || *pcFound == 0)
    return E_INVALIDARG;
  const USHORT wanted = *pcFound;
  USHORT found = 0;
  for (size_t i = 0; i < lib_.types.size() && found < wanted; ++i) {
    const Type& type = lib_.types[i];
    MEMBERID id = MEMBERID_NIL;
    const std::u16string* spelling = nullptr;
    if (SameNameIgnoringCase(szNameBuf, type.name)) {
      spelling = &type.name;
    } else {
      for (const auto& f : type.funcs) {
        if (SameNameIgnoringCase(szNameBuf, f.name)) {
          spelling = &f.name;
          id = f.dispid;
          break;
        }
      }
    }
    if (spelling == nullptr) continue;
    CopySpelling(szNameBuf, *spelling);
    ppTInfo[found] = Primary(i);
    AddRef();
    rgMemId[found] = id;
    ++found;
  }
  *pcFound = found;
  return S_OK;
}

}  // namespace tlb

HRESULT CheckTypeDescription(const char* text, size_t size, std::string* message) {
  try {
    tlb::Library lib;
    std::string why;
    const HRESULT hr = tlb::Parse(text, size, lib, why);
    if (message) *message = std::move(why);
    return hr;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT LoadTypeLibFromDescription(const char* text, size_t size, const char16_t*, ITypeLib** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  try {
    tlb::Library lib;
    std::string why;
    const HRESULT hr = tlb::Parse(text, size, lib, why);
    if (FAILED(hr)) return hr;
    *out = new tlb::TypeLib(std::move(lib));
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

// The module loader replaces this with the real lookup of a TYPELIB resource.
__attribute__((weak)) HRESULT LoadTypeLibFromModule(const char16_t*, ITypeLib** out) {
  if (out) *out = nullptr;
  return TYPE_E_CANTLOADLIBRARY;
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

enum class Sniff { Description, Other, NeedMore };

// A description starts, after blank and comment lines, with "library".
Sniff LooksLikeDescription(const std::string& head) {
  size_t i = head.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (i < head.size()) {
    const char c = head[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '#') {
      const size_t end = head.find('\n', i);
      if (end == std::string::npos) return Sniff::NeedMore;
      i = end + 1;
    } else {
      if (head.size() - i < 8) return Sniff::NeedMore;
      const char after = head[i + 7];
      const bool word = after == ' ' || after == '\t' || after == '\r' || after == '\n';
      return head.compare(i, 7, "library") == 0 && word ? Sniff::Description : Sniff::Other;
    }
  }
  return Sniff::NeedMore;
}

// Descriptions are small; anything bigger is not one.
constexpr long kMaxDescriptionBytes = 4 << 20;

}  // namespace
}  // namespace albumrt

STDAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
  if (pptlib == nullptr) return E_POINTER;
  *pptlib = nullptr;
  if (szFile == nullptr) return E_INVALIDARG;
  try {
    // Paths made by the ANSI functions (GetModuleFileNameA, then CP_ACP) carry
    // the file system's bytes in the ANSI code page; a caller's own wide path
    // is taken as UTF-8. Try the ANSI reading first, as the module loader does.
    std::unique_ptr<std::FILE, albumrt::FileCloser> file;
    std::string path;
    BOOL lossy = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, szFile, -1, nullptr, 0, nullptr, &lossy);
    if (bytes > 1 && !lossy) {
      path.assign(static_cast<size_t>(bytes), '\0');
      WideCharToMultiByte(CP_ACP, 0, szFile, -1, path.data(), bytes, nullptr, nullptr);
      path.resize(static_cast<size_t>(bytes) - 1);
      file.reset(std::fopen(path.c_str(), "rb"));
    }
    if (!file) {
      path = albummaker::utf8::FromUtf16(szFile);
      if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
      file.reset(std::fopen(path.c_str(), "rb"));
    }
    if (!file) return TYPE_E_CANTLOADLIBRARY;
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
      text.append(buffer, got);
      if (text.size() > static_cast<size_t>(albumrt::kMaxDescriptionBytes)) break;
      if (albumrt::LooksLikeDescription(text) == albumrt::Sniff::Other) break;
    }
    if (std::ferror(file.get())) return TYPE_E_CANTLOADLIBRARY;
    // A short file that ends undecided ("library" alone) is parsed and refused.
    const auto kind = albumrt::LooksLikeDescription(text + "\n");
    if (kind != albumrt::Sniff::Description) {
      file.reset();
      return albumrt::LoadTypeLibFromModule(szFile, pptlib);
    }
    if (text.size() > static_cast<size_t>(albumrt::kMaxDescriptionBytes)) return TYPE_E_INVDATAREAD;
    return albumrt::LoadTypeLibFromDescription(text.data(), text.size(), szFile, pptlib);
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

// REGKIND_DEFAULT registers nothing here: a library is registered only when
// asked for (REGKIND_REGISTER), so loading never touches the registry store.
STDAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
  if (pptlib == nullptr) return E_POINTER;
  *pptlib = nullptr;
  if (regkind != REGKIND_DEFAULT && regkind != REGKIND_REGISTER && regkind != REGKIND_NONE) return E_INVALIDARG;
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLib(szFile, &lib);
  if (FAILED(hr)) return hr;
  if (regkind == REGKIND_REGISTER) {
    hr = RegisterTypeLib(lib, szFile, nullptr);
    if (FAILED(hr)) {
      lib->Release();
      return hr;
    }
  }
  *pptlib = lib;
  return S_OK;
}
