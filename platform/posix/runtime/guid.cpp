// GUIDs: the well-known interface identifiers, GUID text, and task memory.
#include <cstdlib>

#include <ole2.h>

#define ALBUMRT_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  extern "C" const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

ALBUMRT_DEFINE_GUID(GUID_NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
ALBUMRT_DEFINE_GUID(IID_NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
ALBUMRT_DEFINE_GUID(CLSID_NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
ALBUMRT_DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
ALBUMRT_DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
ALBUMRT_DEFINE_GUID(IID_IMarshal, 0x00000003, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
ALBUMRT_DEFINE_GUID(IID_IStream, 0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
ALBUMRT_DEFINE_GUID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
ALBUMRT_DEFINE_GUID(IID_ITypeInfo, 0x00020401, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
ALBUMRT_DEFINE_GUID(IID_ITypeLib, 0x00020402, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
ALBUMRT_DEFINE_GUID(IID_ITypeComp, 0x00020403, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
ALBUMRT_DEFINE_GUID(IID_ITypeInfo2, 0x00020412, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
ALBUMRT_DEFINE_GUID(IID_ISupportErrorInfo, 0xDF0B3D60, 0x548F, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
ALBUMRT_DEFINE_GUID(IID_IErrorInfo, 0x1CF2B120, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
ALBUMRT_DEFINE_GUID(IID_ICreateErrorInfo, 0x22F03340, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);

namespace {

constexpr int kGuidTextUnits = 38;  // {8-4-4-4-12}, without the terminator

int HexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Reads count hex digits at text[pos]; false on anything else.
bool ReadHex(LPCOLESTR text, int pos, int count, uint64_t& out) {
  out = 0;
  for (int i = 0; i < count; ++i) {
    int d = HexValue(text[pos + i]);
    if (d < 0) return false;
    out = (out << 4) | static_cast<uint64_t>(d);
  }
  return true;
}

// Parses exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
bool ParseGuid(LPCOLESTR text, GUID& out) {
  for (int i = 0; i < kGuidTextUnits; ++i)
    if (text[i] == 0) return false;
  if (text[kGuidTextUnits] != 0) return false;
  if (text[0] != u'{' || text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-' ||
      text[37] != u'}')
    return false;
  uint64_t v = 0;
  GUID g{};
  if (!ReadHex(text, 1, 8, v)) return false;
  g.Data1 = static_cast<uint32_t>(v);
  if (!ReadHex(text, 10, 4, v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ReadHex(text, 15, 4, v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  static constexpr int kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytePos[i], 2, v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  out = g;
  return true;
}

}  // namespace

extern "C" {

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax < kGuidTextUnits + 1) return 0;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  int pos = 0;
  auto put = [&](uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) lpsz[pos++] = static_cast<OLECHAR>(kDigits[(value >> (4 * i)) & 0xF]);
  };
  lpsz[pos++] = u'{';
  put(rguid.Data1, 8);
  lpsz[pos++] = u'-';
  put(rguid.Data2, 4);
  lpsz[pos++] = u'-';
  put(rguid.Data3, 4);
  lpsz[pos++] = u'-';
  put(rguid.Data4[0], 2);
  put(rguid.Data4[1], 2);
  lpsz[pos++] = u'-';
  for (int i = 2; i < 8; ++i) put(rguid.Data4[i], 2);
  lpsz[pos++] = u'}';
  lpsz[pos++] = 0;
  return pos;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  if (lpsz == nullptr) {
    *pclsid = CLSID_NULL;
    return S_OK;
  }
  if (!ParseGuid(lpsz, *pclsid)) {
    *pclsid = CLSID_NULL;
    return CO_E_CLASSSTRING;
  }
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
  if (lpiid == nullptr) return E_INVALIDARG;
  if (lpsz == nullptr) {
    *lpiid = IID_NULL;
    return S_OK;
  }
  if (!ParseGuid(lpsz, *lpiid)) return E_INVALIDARG;
  return S_OK;
}

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb != 0 ? cb : 1); }

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (pv != nullptr && cb == 0) {
    std::free(pv);
    return nullptr;
  }
  return std::realloc(pv, cb != 0 ? cb : 1);
}

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

}  // extern "C"
