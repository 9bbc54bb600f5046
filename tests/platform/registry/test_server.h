// The small in-process server the registry tests build as a module: one
// class with one interface, DllMain observations, and embedded resources.
#pragma once

#include <ole2.h>

namespace testserver {

// {6E1B8A52-3C4D-4F5E-9A0B-1C2D3E4F5A6B}
static const CLSID kClsid = {0x6E1B8A52, 0x3C4D, 0x4F5E, {0x9A, 0x0B, 0x1C, 0x2D, 0x3E, 0x4F, 0x5A, 0x6B}};
// {7F2C9B63-4D5E-4A6F-8B1C-2D3E4F5A6B7C}
static const IID kIidValue = {0x7F2C9B63, 0x4D5E, 0x4A6F, {0x8B, 0x1C, 0x2D, 0x3E, 0x4F, 0x5A, 0x6B, 0x7C}};
// The type library the module carries (test_server.typedesc).
// {8A3DAC74-5E6F-4B7A-9C2D-3E4F5A6B7C8D}
static const GUID kLibid = {0x8A3DAC74, 0x5E6F, 0x4B7A, {0x9C, 0x2D, 0x3E, 0x4F, 0x5A, 0x6B, 0x7C, 0x8D}};
constexpr const char* kLibidText = "{8A3DAC74-5E6F-4B7A-9C2D-3E4F5A6B7C8D}";
constexpr const char* kDualIidText = "{9B4EBD85-6F7A-4C8B-8D3E-4F5A6B7C8D9E}";
constexpr const char* kAutomationIidText = "{7F2C9B63-4D5E-4A6F-8B1C-2D3E4F5A6B7C}";
constexpr const char* kPlainIidText = "{AC5FCE96-7A8B-4D9C-9E4F-5A6B7C8D9EAF}";

struct ITestValue : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetValue(LONG* value) = 0;
};

// Exports of the module besides DllGetClassObject, for the tests to observe it.
using InstanceFn = HINSTANCE (*)();
using AttachPathFn = const char* (*)();
using AttachResourceSizeFn = long (*)();
using SetDetachFlagFn = void (*)(int*);
using LiveObjectsFn = long (*)();

}  // namespace testserver
