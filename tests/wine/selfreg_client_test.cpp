// A C++ client of the registered component under Wine: ProgID to CLSID,
// CoCreateInstance and late-bound calls from several MTA threads at once.
// The album folder and template come from AM_SELFREG_FOLDER and
// AM_SELFREG_TEMPLATE (Windows paths); selfreg.sh registers the DLL first.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "owners.h"

namespace {

std::wstring Env(const char* name) {
  const char* value = std::getenv(name);
  std::string text = value == nullptr ? "" : value;
  return std::wstring(text.begin(), text.end());
}

// Runs on its own thread: one object, a few pages, every step's result kept.
struct ThreadRun {
  HRESULT init = E_FAIL, progId = E_FAIL, create = E_FAIL, names = E_FAIL, put = E_FAIL;
  std::vector<std::wstring> pages;

  void operator()(const std::wstring& folder, const std::wstring& templ) {
    const am::Apartment apartment;
    init = apartment.result();
    if (FAILED(init)) return;
    CLSID clsid{};
    progId = CLSIDFromProgID(L"Quorrel.AlbumMaker", &clsid);
    if (FAILED(progId)) return;
    am::ComPtr<IDispatch> dispatch;
    create = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch.put_void());
    if (FAILED(create)) return;
    LPOLESTR memberNames[] = {const_cast<LPOLESTR>(L"FOLDERPATH"), const_cast<LPOLESTR>(L"pagetemplatepath"),
                              const_cast<LPOLESTR>(L"getAlbumPage")};
    DISPID ids[3] = {};
    names = S_OK;
    for (int i = 0; i < 3 && SUCCEEDED(names); ++i)
      names = dispatch->GetIDsOfNames(IID_NULL, &memberNames[i], 1, LOCALE_USER_DEFAULT, &ids[i]);
    if (SUCCEEDED(names)) {
      put = S_OK;
      const std::wstring* values[] = {&folder, &templ};
      for (int i = 0; i < 2 && SUCCEEDED(put); ++i) {
        am::UniqueVariant v;
        V_VT(v.get()) = VT_BSTR;
        V_BSTR(v.get()) = SysAllocString(values[i]->c_str());
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{v.get(), &named, 1, 1};
        put = dispatch->Invoke(ids[i], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                               nullptr);
      }
      for (int round = 0; round < 20 && SUCCEEDED(put); ++round) {
        VARIANT args[3];
        for (VARIANT& a : args) {
          VariantInit(&a);
          V_VT(&a) = VT_NULL;
        }
        V_VT(&args[2]) = VT_I4;
        V_I4(&args[2]) = round % 3;
        DISPPARAMS params{args, nullptr, 3, 0};
        am::UniqueVariant result;
        const HRESULT hr = dispatch->Invoke(ids[2], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                            result.get(), nullptr, nullptr);
        pages.push_back(hr == S_OK && V_VT(result.get()) == VT_BSTR ? std::wstring(V_BSTR(result.get())) : L"<failed>");
      }
    }
  }
};

TEST(RegisteredComponent, CreatedByProgIdFromSeveralMtaThreads) {
  const std::wstring folder = Env("AM_SELFREG_FOLDER");
  const std::wstring templ = Env("AM_SELFREG_TEMPLATE");
  ASSERT_FALSE(folder.empty());
  ASSERT_FALSE(templ.empty());
  constexpr int kThreads = 4;
  ThreadRun runs[kThreads];
  std::vector<std::thread> threads;
  for (ThreadRun& run : runs) threads.emplace_back([&run, &folder, &templ] { run(folder, templ); });
  for (std::thread& t : threads) t.join();

  const wchar_t* expected[] = {L"1:a.jpg", L"2:b.jpg", L"3:c.gif"};
  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(runs[t].init, S_OK);
    EXPECT_EQ(runs[t].progId, S_OK);
    EXPECT_EQ(runs[t].create, S_OK);
    EXPECT_EQ(runs[t].names, S_OK);
    EXPECT_EQ(runs[t].put, S_OK);
    ASSERT_EQ(runs[t].pages.size(), 20u);
    for (std::size_t i = 0; i < runs[t].pages.size(); ++i) EXPECT_EQ(runs[t].pages[i], expected[i % 3]) << i;
  }
}

TEST(RegisteredComponent, UnknownProgIdIsRefused) {
  const am::Apartment apartment;
  ASSERT_TRUE(SUCCEEDED(apartment.result()));
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(L"Quorrel.AlbumMaker.Nonexistent", &clsid), CO_E_CLASSSTRING);
}

}  // namespace
