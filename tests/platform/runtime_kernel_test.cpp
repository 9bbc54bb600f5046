// Kernel and code-page services of the runtime.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

namespace {

TEST(RuntimeLastError, IsKeptPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOther = 12345;
  std::thread other([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_FILE_NOT_FOUND);
  });
  other.join();
  EXPECT_EQ(seenByOther, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(RuntimeCriticalSection, IsReentrantAndExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);  // the owner may enter again
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);

  long plain = 0;  // guarded only by the section; TSan reports any race
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        EnterCriticalSection(&cs);
        ++plain;
        LeaveCriticalSection(&cs);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(plain, 8000);
  DeleteCriticalSection(&cs);
}

TEST(RuntimeInterlocked, ReturnsTheResultingValues) {
  LONG v = 5;
  EXPECT_EQ(InterlockedIncrement(&v), 6);
  EXPECT_EQ(InterlockedDecrement(&v), 5);
  EXPECT_EQ(InterlockedExchange(&v, 9), 5);
  EXPECT_EQ(v, 9);
  EXPECT_EQ(InterlockedCompareExchange(&v, 1, 8), 9);  // no match: unchanged
  EXPECT_EQ(v, 9);
  EXPECT_EQ(InterlockedCompareExchange(&v, 1, 9), 9);
  EXPECT_EQ(v, 1);
}

TEST(RuntimeInterlocked, CountsExactlyUnderContention) {
  LONG counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        InterlockedIncrement(&counter);
        InterlockedIncrement(&counter);
        InterlockedDecrement(&counter);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
}

// ---- Code pages ----

TEST(RuntimeCodePage, AnsiIsWindows1252AndEveryByteRoundTrips) {
  EXPECT_EQ(GetACP(), 1252u);
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::u16string wide(all.size(), u'\0');
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, all.data(), static_cast<int>(all.size()), wide.data(),
                                static_cast<int>(wide.size())),
            255);
  EXPECT_EQ(wide[0x80 - 1], 0x20AC);  // euro sign
  EXPECT_EQ(wide[0x81 - 1], 0x0081);  // undefined bytes keep their value
  EXPECT_EQ(wide[0x9F - 1], 0x0178);
  EXPECT_EQ(wide[0xE9 - 1], 0x00E9);
  std::string back(all.size(), '\0');
  BOOL usedDefault = TRUE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), back.data(),
                                static_cast<int>(back.size()), nullptr, &usedDefault),
            255);
  EXPECT_EQ(back, all);
  EXPECT_FALSE(usedDefault);
}

TEST(RuntimeCodePage, MinusOneCountsTheTerminatorAndZeroMeasures) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0), 3);
  WCHAR out[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, out, 4), 4);
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"h\u00e9", -1, nullptr, 0, nullptr, nullptr), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"h\u00e9", -1, nullptr, 0, nullptr, nullptr), 4);
}

TEST(RuntimeCodePage, ReportsTooSmallBuffersAndBadArguments) {
  WCHAR small[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char narrow[2];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", 3, narrow, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, 3, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 5), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  BOOL used = FALSE;
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 2, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(RuntimeCodePage, UnmappableCharactersBecomeTheDefaultCharacter) {
  char out[8] = {};
  BOOL used = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u4e2db", 3, out, 8, nullptr, &used), 3);
  EXPECT_EQ(std::string(out, 3), "a?b");
  EXPECT_TRUE(used);
  used = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u0100\u20ac", 2, out, 8, "#", &used), 2);
  EXPECT_EQ(std::string(out, 2), "#\x80");
  EXPECT_TRUE(used);
  used = TRUE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"plain", 5, out, 8, nullptr, &used), 5);
  EXPECT_FALSE(used);
}

TEST(RuntimeCodePage, Utf8RoundTripsAndReplacesInvalidBytes) {
  const char16_t text[] = u"A\u00e9\u20ac\U0001F600";
  char utf8[16] = {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  ASSERT_EQ(n, 1 + 2 + 3 + 4 + 1);
  EXPECT_STREQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  WCHAR back[8] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, back, 8), 6);
  EXPECT_EQ(std::u16string(back), std::u16string(text));

  WCHAR lax[4] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0,
                                "a\xFF"
                                "b",
                                3, lax, 4),
            3);
  EXPECT_EQ(lax[1], 0xFFFD);
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                "a\xFF"
                                "b",
                                3, lax, 4),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  // An encoded surrogate and an overlong form are not UTF-8; each byte that
  // cannot continue a sequence is replaced on its own.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xED\xA0\x80", 3, lax, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC0\x80", 2, nullptr, 0), 2);
  // A sequence cut short is one replacement, and the next character survives.
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0,
                                "\xE2\x82"
                                "A",
                                3, lax, 4),
            2);
  EXPECT_EQ(lax[0], 0xFFFD);
  EXPECT_EQ(lax[1], u'A');
  // A lone surrogate has no UTF-8 form and becomes U+FFFD.
  const char16_t lone[] = {0xD800, u'x', 0};
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 2, utf8, sizeof utf8, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(utf8, 4), "\xEF\xBF\xBDx");
}

TEST(RuntimeText, CharNextStepsOneByteAndStopsOnTheTerminator) {
  const char* s = "ab";
  EXPECT_EQ(CharNextA(s), s + 1);
  EXPECT_EQ(CharNextA(s + 2), s + 2);
  for (int b = 0; b < 256; ++b) EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(b)));
}

TEST(RuntimeText, CompareIgnoresLetterCaseOfAsciiAndLatinLetters) {
  EXPECT_EQ(lstrcmpiA("ForceRemove", "FORCEREMOVE"), 0);
  EXPECT_EQ(lstrcmpiA("caf\xE9", "CAF\xC9"), 0);    // e acute in Windows-1252
  EXPECT_EQ(lstrcmpiA("\x9A\xFF", "\x8A\x9F"), 0);  // s caron, y diaeresis
  EXPECT_LT(lstrcmpiA("apple", "Banana"), 0);
  EXPECT_GT(lstrcmpiA("Banana", "apple"), 0);
  EXPECT_LT(lstrcmpiA("ab", "abc"), 0);
  EXPECT_GT(lstrcmpiA("abc", "AB"), 0);
  EXPECT_NE(lstrcmpiA("a", "b"), 0);
  EXPECT_LT(lstrcmpiA("a_b", "aB"), 0);  // letters fold to lower case, as on Windows
  EXPECT_LT(lstrcmpiA("[", "A"), 0);
  EXPECT_NE(lstrcmpiA("a-b", "ab"), 0);
  EXPECT_EQ(lstrcmpiA(nullptr, nullptr), 0);
  EXPECT_LT(lstrcmpiA(nullptr, "a"), 0);
  EXPECT_EQ(lstrlenA("abc"), 3);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenW(u"abcd"), 4);
  EXPECT_EQ(lstrlenW(nullptr), 0);
}

}  // namespace
