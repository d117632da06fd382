// The host's configuration: the framework settings (main/data/框架设置.ini)
// and one account file per bot account (main/data/Bot/QQ<id>.json).
//
// Who may touch what:
// - g_cfg is filled by hx_cfg_load during start-up, before other threads run.
// - The settings fields are written afterwards only on the user-interface
//   thread, through hx_cfg_set; every other thread reads the switches it
//   needs through hx_cfg_get, so that a change while lanes and links run is
//   seen whole (old or new value, never a torn one) and is no data race.
//   The text fields (钥匙, 标题内容, 公告) change only while no link runs.
// - The account table (accounts, accountCount) changes at run time only
//   through the hx_cfg_account_ functions, under hx_cfg_accounts_lock();
//   other threads read it through them (copies) or under that lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/ini.h"

inline constexpr int HX_MAX_ACCOUNTS = 16;
inline constexpr int HX_CFG_TEXT = 256;  // bytes of a text field, terminator included

struct HxAccount {
  char id[HX_CFG_TEXT];  // the bot's QQ number; empty marks a free record
  char nickname[HX_CFG_TEXT];
  char ip[HX_CFG_TEXT];   // where the account's backend listens (forward mode)
  std::int32_t port;      // 1..65535, or 0 when there is no usable port
  char key[HX_CFG_TEXT];  // access token for that backend; empty for none
};

// One field per key of section "设置"; flags are 0 or 1.
struct HxCfg {
  int floatLeft;             // 悬浮窗左边
  int floatTop;              // 悬浮窗顶边
  int floatPlaced;           // 悬浮窗位置已记录
  int pluginThreads;         // 插件线程数
  int logCap;                // 日志数量上限
  int msgCache;              // 启用消息缓存
  int reversePort;           // 反向端口
  int color;                 // 颜色
  int autoLogin;             // 自动登录
  int quickLogin;            // 快速登录
  int showFloat;             // 显示悬浮窗
  int showDashboard;         // 显示仪表盘
  int logScroll;             // 日志滚动
  int reverseMode;           // 开启反向通信模式
  int encC;                  // 编码_C模式
  int encL;                  // 编码_L模式
  int logPrivate;            // 输出私聊日志
  int recvPrivate;           // 接收私聊消息
  int recvGroup;             // 接收群聊消息
  int recvEvent;             // 接收事件消息
  int recvSelf;              // 接收自身消息
  int logPackets;            // 输出接收数据包
  int startMinimized;        // 启时直接最小化
  int floatWindow;           // 悬浮窗
  int heartbeat;             // 心跳 (seconds)
  int logDispatch;           // 输出日志
  int logApi;                // 输出API日志
  int logGroup;              // 输出群聊日志
  int logEvent;              // 输出事件日志
  int lgrDecode;             // 拉格朗日解码
  int logDebug;              // 输出调试日志
  char token[HX_CFG_TEXT];   // 钥匙
  char title[HX_CFG_TEXT];   // 标题内容
  char notice[HX_CFG_TEXT];  // 公告

  HxAccount accounts[HX_MAX_ACCOUNTS];
  int accountCount;
};

extern HxCfg g_cfg;
extern HxIni g_ini;

inline constexpr const char* HX_CFG_SECTION = "设置";
inline constexpr int HX_CFG_KEYS = 34;
inline constexpr int HX_DEFAULT_REVERSE_PORT = 8070;

// Resets g_cfg to the defaults, loads the settings file and scans the
// account files. Never fails: what cannot be read keeps its default.
void hx_cfg_load();
// Writes every setting into g_ini (known keys keep their place, new ones are
// appended in the save order, unknown keys survive) and saves the file.
bool hx_cfg_save();
// Rebuilds the account table from main/data/Bot/*.json (at most 16). In
// reverse mode the table is emptied again and the ignored files are logged.
void hx_cfg_scan_bots();
// The account whose id equals `id` byte for byte, or null. At run time only
// under hx_cfg_accounts_lock().
HxAccount* hx_cfg_bot(std::string_view id);
// An account from the bytes of its file (UTF-8 or GBK JSON) and the id its
// name gives; nullopt when the bytes are not a JSON object. An invalid port
// is logged and becomes 0.
std::optional<HxAccount> hx_cfg_parse_account(std::string_view raw, std::string_view id);
// The account file text (GBK, unformatted JSON); a null account gives empty
// texts and port "0". nullopt on failure.
std::optional<std::string> hx_bot_to_json_gbk(const HxAccount* acc);
// Writes main/data/Bot/QQ<id>.json atomically. False for a null account, an
// empty id, an id that is not a plain file-name part, or a failed write.
bool hx_cfg_save_bot(const HxAccount* acc);
// Deletes main/data/Bot/QQ<id>.json; true when a file was deleted.
bool hx_cfg_del_bot(std::string_view id);

// ---- The account table at run time (any thread) ----
std::mutex& hx_cfg_accounts_lock();
// A copy of the account `id`, or nullopt.
std::optional<HxAccount> hx_cfg_account(std::string_view id);
// Copies of every account, in table order.
std::vector<HxAccount> hx_cfg_accounts();
enum class HxAccountAdd { added, known, full };
// Adds an account that lives in memory only (reverse mode). A known account
// gets the nickname when one is given; a full table (16) takes nothing.
HxAccountAdd hx_cfg_account_add(std::string_view id, std::string_view ip, int port, std::string_view nickname);
// Removes the account `id`; true when there was one.
bool hx_cfg_account_remove(std::string_view id);
// Sets an account's nickname; the account as it is now, or nullopt when it
// is unknown. `changed` (optional) says whether the name differed.
std::optional<HxAccount> hx_cfg_account_set_nickname(std::string_view id, std::string_view nickname, bool* changed);

// ---- Settings read by other threads ----
// Reads a word-sized setting of g_cfg without a data race; any thread.
inline int hx_cfg_get(int HxCfg::*field) { return std::atomic_ref<int>(g_cfg.*field).load(std::memory_order_relaxed); }
// Writes one; the user-interface thread (and start-up) only.
inline void hx_cfg_set(int HxCfg::*field, int value) {
  std::atomic_ref<int>(g_cfg.*field).store(value, std::memory_order_relaxed);
}

// The data directory (hx_data_dir), and the host's own folders under it, each
// with a trailing separator: main/data/ and main/data/Bot/.
const std::string& hx_root();
std::string hx_cfg_data_dir();
std::string hx_cfg_bot_dir();
// The path of the settings file.
std::string hx_cfg_ini_path();
