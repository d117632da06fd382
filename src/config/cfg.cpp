#include "config/cfg.h"

#include <cjson/cJSON.h>

#include <cstring>
#include <memory>

#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/util.h"

HxCfg g_cfg;
HxIni g_ini;

namespace {

enum class Kind { integer, flag, text };

struct CfgKey {
  const char* key;
  Kind kind;
  int HxCfg::*num;
  char (HxCfg::*text)[HX_CFG_TEXT];
  int def;
};

constexpr CfgKey num(const char* key, int HxCfg::*field, int def) { return {key, Kind::integer, field, nullptr, def}; }
constexpr CfgKey flag(const char* key, int HxCfg::*field, int def) { return {key, Kind::flag, field, nullptr, def}; }
constexpr CfgKey text(const char* key, char (HxCfg::*field)[HX_CFG_TEXT]) {
  return {key, Kind::text, nullptr, field, 0};
}

// Every setting with its default, in the order hx_cfg_save writes new keys.
const CfgKey kKeys[] = {
    num("悬浮窗左边", &HxCfg::floatLeft, 1545),
    num("悬浮窗顶边", &HxCfg::floatTop, 142),
    num("悬浮窗位置已记录", &HxCfg::floatPlaced, 0),
    num("插件线程数", &HxCfg::pluginThreads, 24),
    num("日志数量上限", &HxCfg::logCap, 1000),
    num("反向端口", &HxCfg::reversePort, HX_DEFAULT_REVERSE_PORT),
    num("颜色", &HxCfg::color, 0),
    flag("自动登录", &HxCfg::autoLogin, 1),
    flag("快速登录", &HxCfg::quickLogin, 1),
    flag("显示悬浮窗", &HxCfg::showFloat, 1),
    flag("显示仪表盘", &HxCfg::showDashboard, 1),
    text("公告", &HxCfg::notice),
    flag("日志滚动", &HxCfg::logScroll, 1),
    flag("开启反向通信模式", &HxCfg::reverseMode, 0),
    text("标题内容", &HxCfg::title),
    flag("编码_C模式", &HxCfg::encC, 1),
    flag("编码_L模式", &HxCfg::encL, 0),
    flag("输出私聊日志", &HxCfg::logPrivate, 0),
    flag("接收私聊消息", &HxCfg::recvPrivate, 1),
    flag("接收群聊消息", &HxCfg::recvGroup, 1),
    flag("接收事件消息", &HxCfg::recvEvent, 1),
    flag("接收自身消息", &HxCfg::recvSelf, 1),
    flag("输出接收数据包", &HxCfg::logPackets, 0),
    flag("启时直接最小化", &HxCfg::startMinimized, 0),
    flag("悬浮窗", &HxCfg::floatWindow, 1),
    num("心跳", &HxCfg::heartbeat, 600),
    text("钥匙", &HxCfg::token),
    flag("输出日志", &HxCfg::logDispatch, 1),
    flag("输出API日志", &HxCfg::logApi, 0),
    flag("输出群聊日志", &HxCfg::logGroup, 1),
    flag("输出事件日志", &HxCfg::logEvent, 1),
    flag("拉格朗日解码", &HxCfg::lgrDecode, 0),
    flag("输出调试日志", &HxCfg::logDebug, 0),
    flag("启用消息缓存", &HxCfg::msgCache, 1),
};
static_assert(sizeof kKeys / sizeof kKeys[0] == HX_CFG_KEYS);

constexpr int kLaneDefault = 24;
constexpr int kLegacyLaneCount = 10;  // older versions stored 10 as their default; it means the default now

inline bool valid_port(long long p) { return p >= 1 && p <= 65535; }

const std::string kMain = std::string("main") + HX_SEP + "data" + HX_SEP;

// An account id becomes part of a file name: only a plain name is accepted.
bool plain_id(std::string_view id) {
  return !id.empty() && id.find_first_of("/\\:") == std::string_view::npos && id.find("..") == std::string_view::npos;
}

std::string bot_file(std::string_view id) { return hx_cfg_bot_dir() + "QQ" + std::string(id) + ".json"; }

const char* json_text(const cJSON* obj, const char* key) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, key);
  return cJSON_IsString(v) && v->valuestring ? v->valuestring : nullptr;
}

// The port of an account file: a decimal string or a JSON number; 0 when
// absent; -1 when present but not a port.
long long json_port(const cJSON* obj) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(obj, "监听端口");
  if (cJSON_IsString(v) && v->valuestring) return hx_to_i64(v->valuestring, 0);
  if (cJSON_IsNumber(v)) {
    double d = v->valuedouble;
    return d >= 1 && d <= 65535 && d == static_cast<double>(static_cast<long long>(d)) ? static_cast<long long>(d) : -1;
  }
  return 0;
}

bool read_account(const std::string& path, std::string_view id, HxAccount& acc) {
  std::optional<std::string> raw = hx_read_file(path);
  if (!raw) return false;
  std::optional<HxAccount> parsed = hx_cfg_parse_account(*raw, id);
  if (!parsed) return false;
  acc = *parsed;
  return true;
}

}  // namespace

std::optional<HxAccount> hx_cfg_parse_account(std::string_view raw, std::string_view id) {
  std::optional<std::string> text = hx_auto_to_utf8(raw);
  if (!text) return std::nullopt;
  HxJson root(cJSON_Parse(text->c_str()));
  if (!root || !cJSON_IsObject(root.get())) return std::nullopt;
  HxAccount acc;
  std::memset(&acc, 0, sizeof acc);
  hx_copy_field(acc.id, sizeof acc.id, id);
  if (const char* s = json_text(root.get(), "昵称")) hx_copy_field(acc.nickname, sizeof acc.nickname, s);
  if (const char* s = json_text(root.get(), "监听IP")) hx_copy_field(acc.ip, sizeof acc.ip, s);
  if (const char* s = json_text(root.get(), "钥匙")) hx_copy_field(acc.key, sizeof acc.key, s);
  long long port = json_port(root.get());
  if (port != 0 && !valid_port(port)) {
    // Cutting it to 16 bits would connect somewhere the user never asked for.
    hx_logf(HX_LOG_ERROR, "框架", "错误(↓)", "账号 %s 的监听端口无效（应为 1–65535），该账号没有可用的地址", acc.id);
    port = 0;
  }
  acc.port = static_cast<std::int32_t>(port);
  return acc;
}

const std::string& hx_root() { return hx_data_dir(); }

std::string hx_cfg_data_dir() { return hx_path_join(hx_root(), kMain); }

std::string hx_cfg_bot_dir() { return hx_cfg_data_dir() + "Bot" + HX_SEP; }

std::string hx_cfg_ini_path() { return hx_cfg_data_dir() + "框架设置.ini"; }

void hx_cfg_load() {
  std::memset(&g_cfg, 0, sizeof g_cfg);
  hx_ini_load(g_ini, hx_cfg_ini_path());
  for (const CfgKey& k : kKeys) {
    switch (k.kind) {
      case Kind::integer:
        g_cfg.*k.num = hx_to_int(hx_ini_get(g_ini, HX_CFG_SECTION, k.key, ""), k.def);
        break;
      case Kind::flag:
        g_cfg.*k.num = hx_to_bool(hx_ini_get(g_ini, HX_CFG_SECTION, k.key, ""), k.def);
        break;
      case Kind::text:
        hx_copy_field(g_cfg.*k.text, HX_CFG_TEXT, hx_ini_get(g_ini, HX_CFG_SECTION, k.key, ""));
        break;
    }
  }
  std::string_view lanes = hx_ini_get(g_ini, HX_CFG_SECTION, "插件线程数", "");
  if (lanes.empty() || g_cfg.pluginThreads == kLegacyLaneCount) g_cfg.pluginThreads = kLaneDefault;
  if (!valid_port(g_cfg.reversePort)) {
    hx_logf(HX_LOG_ERROR, "框架", "错误(↓)", "反向端口 %d 无效（应为 1–65535），改用默认端口 %d", g_cfg.reversePort,
            HX_DEFAULT_REVERSE_PORT);
    g_cfg.reversePort = HX_DEFAULT_REVERSE_PORT;
  }
  hx_cfg_scan_bots();
}

bool hx_cfg_save() {
  if (g_ini.path.empty()) g_ini.path = hx_cfg_ini_path();
  hx_dir_create(hx_cfg_data_dir());
  int unstored = 0;
  for (const CfgKey& k : kKeys) {
    std::string value;
    switch (k.kind) {
      case Kind::integer:
        value = std::to_string(g_cfg.*k.num);
        break;
      case Kind::flag:
        value = g_cfg.*k.num ? "真" : "假";
        break;
      case Kind::text:
        value = g_cfg.*k.text;
        break;
    }
    if (!hx_ini_set(g_ini, HX_CFG_SECTION, k.key, value)) ++unstored;
  }
  // What could be stored is written all the same; the caller learns the rest was not.
  const bool saved = hx_ini_save(g_ini);
  if (unstored > 0) {
    hx_logf(HX_LOG_ERROR, "框架", "错误(↓)", "配置保存不完整：%d 项设置无法写入 %s（分节或键的数量已达上限）", unstored,
            hx_path_show(g_ini.path));
  }
  return saved && unstored == 0;
}

void hx_cfg_scan_bots() {
  std::string dir = hx_cfg_bot_dir();
  hx_dir_create(dir);
  g_cfg.accountCount = 0;
  for (const HxDirEntry& e : hx_list_dir(dir)) {
    if (g_cfg.accountCount >= HX_MAX_ACCOUNTS) break;
    if (e.isDir || !hx_ends_with_ci(e.name, ".json")) continue;
    std::string_view id = std::string_view(e.name).substr(0, e.name.size() - 5);
    if (id.size() >= 2 && hx_icmp(id.substr(0, 2), "QQ") == 0) id.remove_prefix(2);
    if (read_account(dir + e.name, id, g_cfg.accounts[g_cfg.accountCount])) ++g_cfg.accountCount;
  }
  if (g_cfg.reverseMode && g_cfg.accountCount > 0) {
    int ignored = g_cfg.accountCount;
    std::memset(g_cfg.accounts, 0, sizeof g_cfg.accounts);
    g_cfg.accountCount = 0;
    hx_logf(HX_LOG_SYSTEM, "框架", "系统(↓)",
            "反向模式：忽略 main\\data\\Bot\\QQ*.json 共 %d 条（账号列表将由后端接入动态填充，不写盘）", ignored);
  }
}

HxAccount* hx_cfg_bot(std::string_view id) {
  for (int i = 0; i < g_cfg.accountCount; ++i) {
    if (id == g_cfg.accounts[i].id) return &g_cfg.accounts[i];
  }
  return nullptr;
}

std::optional<std::string> hx_bot_to_json_gbk(const HxAccount* acc) {
  HxJson root(cJSON_CreateObject());
  if (!root) return std::nullopt;
  std::string port = std::to_string(acc ? acc->port : 0);
  bool ok = cJSON_AddStringToObject(root.get(), "昵称", acc ? acc->nickname : "") &&
            cJSON_AddStringToObject(root.get(), "监听IP", acc ? acc->ip : "") &&
            cJSON_AddStringToObject(root.get(), "监听端口", port.c_str()) &&
            cJSON_AddStringToObject(root.get(), "钥匙", acc ? acc->key : "");
  if (!ok) return std::nullopt;
  HxJsonText printed(cJSON_PrintUnformatted(root.get()));
  if (!printed) return std::nullopt;
  return hx_utf8_to_gbk(printed.get());
}

bool hx_cfg_save_bot(const HxAccount* acc) {
  if (!acc || !plain_id(acc->id)) return false;
  std::optional<std::string> text = hx_bot_to_json_gbk(acc);
  if (!text) return false;
  hx_dir_create(hx_cfg_bot_dir());
  return hx_write_file(bot_file(acc->id), *text);
}

bool hx_cfg_del_bot(std::string_view id) { return plain_id(id) && hx_remove_file(bot_file(id)); }

// ---- the account table at run time ----

std::mutex& hx_cfg_accounts_lock() {
  static std::mutex mu;
  return mu;
}

std::optional<HxAccount> hx_cfg_account(std::string_view id) {
  std::lock_guard lock(hx_cfg_accounts_lock());
  if (const HxAccount* a = hx_cfg_bot(id)) return *a;
  return std::nullopt;
}

std::vector<HxAccount> hx_cfg_accounts() {
  std::lock_guard lock(hx_cfg_accounts_lock());
  return std::vector<HxAccount>(g_cfg.accounts, g_cfg.accounts + g_cfg.accountCount);
}

HxAccountAdd hx_cfg_account_add(std::string_view id, std::string_view ip, int port, std::string_view nickname) {
  std::lock_guard lock(hx_cfg_accounts_lock());
  if (HxAccount* a = hx_cfg_bot(id)) {
    if (!nickname.empty()) hx_copy_field(a->nickname, sizeof a->nickname, nickname);
    return HxAccountAdd::known;
  }
  if (g_cfg.accountCount >= HX_MAX_ACCOUNTS) return HxAccountAdd::full;
  HxAccount& a = g_cfg.accounts[g_cfg.accountCount];
  std::memset(&a, 0, sizeof a);
  hx_copy_field(a.id, sizeof a.id, id);
  hx_copy_field(a.ip, sizeof a.ip, ip);
  a.port = port;
  hx_copy_field(a.nickname, sizeof a.nickname, nickname);
  ++g_cfg.accountCount;
  return HxAccountAdd::added;
}

bool hx_cfg_account_remove(std::string_view id) {
  std::lock_guard lock(hx_cfg_accounts_lock());
  for (int i = 0; i < g_cfg.accountCount; ++i) {
    if (id != g_cfg.accounts[i].id) continue;
    std::memmove(&g_cfg.accounts[i], &g_cfg.accounts[i + 1],
                 sizeof(HxAccount) * static_cast<size_t>(g_cfg.accountCount - i - 1));
    --g_cfg.accountCount;
    std::memset(&g_cfg.accounts[g_cfg.accountCount], 0, sizeof(HxAccount));
    return true;
  }
  return false;
}

std::optional<HxAccount> hx_cfg_account_set_nickname(std::string_view id, std::string_view nickname, bool* changed) {
  if (changed) *changed = false;
  std::lock_guard lock(hx_cfg_accounts_lock());
  HxAccount* a = hx_cfg_bot(id);
  if (!a) return std::nullopt;
  if (nickname != a->nickname) {
    hx_copy_field(a->nickname, sizeof a->nickname, nickname);
    if (changed) *changed = true;
  }
  return *a;
}
