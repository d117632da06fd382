// Code page 936 through the system's converter. The code page is always
// named by number: the ANSI code page of the machine is never relied on.
#include <windows.h>

#include "sys/codepage.h"
#include "wide.h"

namespace {

constexpr UINT kGbk = 936;

// Converts between a code page and UTF-16; false when the system refuses.
bool to_wide(UINT cp, std::string_view in, std::wstring& out) {
  out.clear();
  if (in.empty()) return true;
  int n = MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), out.data(), n) == n;
}

bool from_wide(UINT cp, std::wstring_view in, std::string& out) {
  if (in.empty()) return true;
  int n = WideCharToMultiByte(cp, 0, in.data(), static_cast<int>(in.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  size_t at = out.size();
  out.resize(at + static_cast<size_t>(n));
  return WideCharToMultiByte(cp, 0, in.data(), static_cast<int>(in.size()), out.data() + at, n, nullptr, nullptr) == n;
}

// Whether the UTF-16 text converts to GBK exactly, best fit not allowed.
bool gbk_holds(const wchar_t* w, int n) {
  if (n == 0) return true;
  BOOL used_default = FALSE;
  int len = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, w, n, nullptr, 0, nullptr, &used_default);
  return len > 0 && !used_default;
}

}  // namespace

std::wstring sys_widen(std::string_view utf8) {
  std::wstring w;
  to_wide(CP_UTF8, utf8, w);
  return w;
}

std::string sys_narrow(std::wstring_view wide) {
  std::string s;
  from_wide(CP_UTF8, wide, s);
  return s;
}

bool sys_cp936_to_utf8(std::string_view gbk, std::string& out) {
  std::wstring w;
  return to_wide(kGbk, gbk, w) && from_wide(CP_UTF8, w, out);
}

// GBK holds no character beyond the BMP; the converter would give one "?"
// per surrogate, we give one per character as for any other.
static void fold_surrogate_pairs(std::wstring& w) {
  size_t o = 0;
  for (size_t i = 0; i < w.size(); ++i, ++o) {
    bool pair = w[i] >= 0xD800 && w[i] <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF;
    w[o] = pair ? L'?' : w[i];
    if (pair) ++i;
  }
  w.resize(o);
}

bool sys_utf8_to_cp936(std::string_view utf8, std::string& out) {
  std::wstring w;
  if (!to_wide(CP_UTF8, utf8, w)) return false;
  fold_surrogate_pairs(w);
  return from_wide(kGbk, w, out);
}

bool sys_cp936_holds(std::string_view utf8) {
  std::wstring w;
  return to_wide(CP_UTF8, utf8, w) && gbk_holds(w.data(), static_cast<int>(w.size()));
}

bool sys_cp936_holds_cp(char32_t cp) {
  wchar_t w[2];
  int n = 1;
  if (cp > 0xFFFF) {
    w[0] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
    w[1] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    n = 2;
  } else {
    w[0] = static_cast<wchar_t>(cp);
  }
  return gbk_holds(w, n);
}
