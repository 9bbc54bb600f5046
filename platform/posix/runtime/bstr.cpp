// BSTR: a uint32 byte length, the UTF-16 units, and a terminating 0 unit.
// The pointer handed out addresses the first unit.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <ole2.h>

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

// Allocates room for byteLen bytes of text plus a wide terminator; the
// terminator and the byte after the text are zeroed.
BSTR AllocateBytes(size_t byteLen) {
  if (byteLen > 0xFFFFFFF0u) return nullptr;
  auto* base = static_cast<unsigned char*>(std::malloc(kPrefix + byteLen + sizeof(OLECHAR) + 1));
  if (base == nullptr) return nullptr;
  auto len = static_cast<uint32_t>(byteLen);
  std::memcpy(base, &len, sizeof len);
  std::memset(base + kPrefix + byteLen, 0, sizeof(OLECHAR) + 1);
  return reinterpret_cast<BSTR>(base + kPrefix);
}

unsigned char* BaseOf(BSTR s) { return reinterpret_cast<unsigned char*>(s) - kPrefix; }

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  size_t bytes = static_cast<size_t>(ui) * sizeof(OLECHAR);
  BSTR s = AllocateBytes(bytes);
  if (s == nullptr) return nullptr;
  if (strIn != nullptr)
    std::memcpy(s, strIn, bytes);
  else
    std::memset(s, 0, bytes);
  return s;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(lstrlenW(psz)));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
  BSTR s = AllocateBytes(len);
  if (s == nullptr) return nullptr;
  if (psz != nullptr)
    std::memcpy(s, psz, len);
  else
    std::memset(s, 0, len);
  return s;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (pbstr == nullptr) return FALSE;
  BSTR fresh = SysAllocString(psz);
  if (fresh == nullptr && psz != nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

void SysFreeString(BSTR bstrString) {
  if (bstrString != nullptr) std::free(BaseOf(bstrString));
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  uint32_t len = 0;
  std::memcpy(&len, BaseOf(bstr), sizeof len);
  return len;
}

UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

}  // extern "C"
