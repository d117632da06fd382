// Instances on Windows: named mutexes, global atoms and the registered
// window message that a second instance posts to "HXMainWnd" windows.
#include <windows.h>

#include <atomic>
#include <thread>

#include "sys/instance.h"
#include "wide.h"

namespace {

constexpr wchar_t kMainClass[] = L"HXMainWnd";
constexpr wchar_t kActivateMsg[] = L"HXFrame_Activate_Request";
constexpr int kSendTries = 15;
constexpr DWORD kSendPauseMs = 200;

struct Post {
  UINT msg;
  WPARAM atom;
  int found = 0;
};

BOOL CALLBACK post_to_main(HWND w, LPARAM lp) {
  auto* post = reinterpret_cast<Post*>(lp);
  wchar_t cls[64];
  if (GetClassNameW(w, cls, 64) && lstrcmpW(cls, kMainClass) == 0) {
    PostMessageW(w, post->msg, post->atom, 0);
    ++post->found;
  }
  return TRUE;
}

std::thread g_listenTh;
std::atomic<HWND> g_listenWnd{nullptr};
std::function<void(std::uint16_t)> g_onRequest;
UINT g_activateMsg = 0;

LRESULT CALLBACK listener_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == g_activateMsg && g_activateMsg != 0) {
    g_onRequest(static_cast<std::uint16_t>(wp));
    return 0;
  }
  if (msg == WM_CLOSE) {
    DestroyWindow(w);
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

std::uint16_t sys_global_atom(std::string_view name) {
  std::wstring w = sys_widen(name);
  if (w.empty() || w.size() > 255) return 0;  // atoms hold at most 255 characters
  return GlobalAddAtomW(w.c_str());
}

SysNamedLock::~SysNamedLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

SysNamedLock& SysNamedLock::operator=(SysNamedLock&& other) noexcept {
  if (this != &other) {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

SysNamedLock sys_named_lock(std::string_view name, bool* existed) {
  SysNamedLock lock;
  HANDLE h = CreateMutexW(nullptr, FALSE, sys_widen(name).c_str());
  *existed = h && GetLastError() == ERROR_ALREADY_EXISTS;
  if (h) lock.handle_ = reinterpret_cast<std::intptr_t>(h);
  return lock;
}

bool sys_activation_send(std::string_view, std::uint16_t atom) {
  Post post{RegisterWindowMessageW(kActivateMsg), atom};
  if (!post.msg) return false;
  for (int i = 0; i < kSendTries; ++i) {
    EnumWindows(post_to_main, reinterpret_cast<LPARAM>(&post));
    // The console stand-in listens with a message-only window, which the
    // enumeration of top-level windows does not show.
    for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, kMainClass, nullptr));) {
      PostMessageW(w, post.msg, post.atom, 0);
      ++post.found;
    }
    if (post.found) return true;
    Sleep(kSendPauseMs);
  }
  PostMessageW(HWND_BROADCAST, post.msg, post.atom, 0);
  return false;
}

bool sys_activation_listen(std::string_view, std::function<void(std::uint16_t)> on_request) {
  if (g_listenTh.joinable()) return false;
  g_activateMsg = RegisterWindowMessageW(kActivateMsg);
  g_onRequest = std::move(on_request);
  std::atomic<int> ready{0};  // 1 listening, -1 failed
  g_listenTh = std::thread([&ready] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = listener_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kMainClass;
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, kMainClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    g_listenWnd = w;
    ready = w ? 1 : -1;
    if (!w) return;
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  });
  while (ready == 0) Sleep(1);
  if (ready < 0) {
    g_listenTh.join();
    return false;
  }
  return true;
}

void sys_activation_stop() {
  if (!g_listenTh.joinable()) return;
  if (HWND w = g_listenWnd.exchange(nullptr)) PostMessageW(w, WM_CLOSE, 0, 0);
  g_listenTh.join();
}
