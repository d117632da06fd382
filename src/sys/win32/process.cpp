#include <windows.h>

#include <chrono>
#include <thread>

#include "sys/process.h"
#include "wide.h"

namespace {

// Quotes one argument by the rules CommandLineToArgvW reads back.
std::wstring quote_arg(const std::wstring& a) {
  if (!a.empty() && a.find_first_of(L" \t\"") == std::wstring::npos) return a;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : a) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  out += L'"';
  return out;
}

}  // namespace

int sys_pid() { return static_cast<int>(GetCurrentProcessId()); }

std::string sys_command_tail(int, char**) {
  const wchar_t* p = GetCommandLineW();
  // Skip the program name: quoted up to the next quote, else up to white space.
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return sys_narrow(p);
}

void sys_setenv(std::string_view name, const char* value) {
  SetEnvironmentVariableW(sys_widen(name).c_str(), value ? sys_widen(value).c_str() : nullptr);
}

std::optional<std::string> sys_getenv(std::string_view name) {
  std::wstring w = sys_widen(name);
  DWORD n = GetEnvironmentVariableW(w.c_str(), nullptr, 0);
  if (n == 0) return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::string>("");
  std::wstring buf(n, L'\0');
  n = GetEnvironmentVariableW(w.c_str(), buf.data(), n);
  buf.resize(n);
  return sys_narrow(buf);
}

bool sys_wait_pid(int pid, int timeout_ms) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!h) return true;  // gone already (or not ours to wait for)
  DWORD r = WaitForSingleObject(h, static_cast<DWORD>(timeout_ms));
  CloseHandle(h);
  return r != WAIT_TIMEOUT;
}

SysProcess::~SysProcess() { release(); }

SysProcess::SysProcess(SysProcess&& o) noexcept
    : pid_(o.pid_), out_(o.out_), handle_(o.handle_), reaped_(o.reaped_), exitCode_(o.exitCode_) {
  o.pid_ = 0;
  o.out_ = -1;
  o.handle_ = -1;
}

SysProcess& SysProcess::operator=(SysProcess&& o) noexcept {
  if (this != &o) {
    release();
    pid_ = o.pid_;
    out_ = o.out_;
    handle_ = o.handle_;
    reaped_ = o.reaped_;
    exitCode_ = o.exitCode_;
    o.pid_ = 0;
    o.out_ = -1;
    o.handle_ = -1;
  }
  return *this;
}

void SysProcess::release() {
  if (handle_ != -1) {
    if (!reaped_) TerminateProcess(reinterpret_cast<HANDLE>(handle_), 1);
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
  }
  if (out_ != -1) CloseHandle(reinterpret_cast<HANDLE>(out_));
  pid_ = 0;
  out_ = -1;
  handle_ = -1;
}

long SysProcess::read(void* buf, std::size_t len) {
  if (out_ == -1) return -1;
  DWORD n = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(out_), buf, static_cast<DWORD>(len), &n, nullptr)) {
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return static_cast<long>(n);
}

bool SysProcess::wait(int timeout_ms, int* exit_code) {
  if (handle_ == -1) return false;
  if (!reaped_) {
    if (WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
      return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(reinterpret_cast<HANDLE>(handle_), &code);
    exitCode_ = static_cast<int>(code);
    reaped_ = true;
  }
  if (exit_code) *exit_code = exitCode_;
  return true;
}

bool SysProcess::request_stop() {
  return pid_ > 0 && !reaped_ && GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid_));
}

void SysProcess::kill() {
  if (handle_ != -1 && !reaped_) TerminateProcess(reinterpret_cast<HANDLE>(handle_), 1);
}

SysProcess sys_spawn(const SysSpawn& req) {
  SysProcess p;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE rd = nullptr, wr = nullptr;
  if (req.captureOutput) {
    if (!CreatePipe(&rd, &wr, &sa, 0)) return p;
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
  }
  std::wstring cmd = quote_arg(sys_widen(req.exe));
  for (const auto& a : req.args) cmd += L" " + quote_arg(sys_widen(a));

  // The child's environment: ours with the requested changes.
  std::wstring block;
  if (!req.env.empty()) {
    wchar_t* cur = GetEnvironmentStringsW();
    for (const wchar_t* e = cur; *e; e += wcslen(e) + 1) {
      std::wstring_view entry(e);
      bool replaced = false;
      for (const auto& [k, v] : req.env) replaced |= entry.substr(0, entry.find(L'=', 1)) == sys_widen(k);
      if (!replaced) block.append(entry) += L'\0';
    }
    FreeEnvironmentStringsW(cur);
    for (const auto& [k, v] : req.env) {
      if (!v.empty()) block.append(sys_widen(k) + L"=" + sys_widen(v)) += L'\0';
    }
    block += L'\0';
  }

  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (req.captureOutput) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = wr;
    si.hStdError = wr;
    si.hStdInput = nullptr;
  }
  PROCESS_INFORMATION pi{};
  std::wstring cwd = sys_widen(req.cwd);
  BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, req.captureOutput,
                           CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP,
                           block.empty() ? nullptr : block.data(), cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
  if (wr) CloseHandle(wr);
  if (!ok) {
    if (rd) CloseHandle(rd);
    return p;
  }
  CloseHandle(pi.hThread);
  p.pid_ = static_cast<int>(pi.dwProcessId);
  p.handle_ = reinterpret_cast<std::intptr_t>(pi.hProcess);
  p.out_ = rd ? reinterpret_cast<std::intptr_t>(rd) : -1;
  return p;
}
