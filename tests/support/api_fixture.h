// API functions against scripted backends: account 10001 answers as the
// test's script says (ok by default), account 10002 refuses every action,
// account 99999 has no link. Every action a backend received can be read
// back as "action params" with the params printed compactly.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/api.h"
#include "foundation/json.h"
#include "support/link_fixture.h"
#include "support/wait.h"

// One API call of a table: what it returns (as text) and the action it sends.
struct ApiCase {
  const char* name;
  std::function<std::string()> call;
  std::string sent;  // "action params", or "" when nothing may be sent
  std::string result;
};

class ApiBackendTest : public LinkFixture {
 public:
  static constexpr hx_i64 kBot = 10001;
  static constexpr hx_i64 kRefuser = 10002;
  static constexpr hx_i64 kNobody = 99999;

 protected:
  // The script of account 10001's backend.
  virtual std::string script() const { return R"({"replies": {"*": {"mode": "ok", "data": {"message_id": 1}}}})"; }

  void SetUp() override {
    LinkFixture::SetUp();
    if (IsSkipped()) return;
    ok_ = std::make_unique<Backend>(std::vector<std::string>{"forward", "--self-id", "10001"}, script());
    refuser_ = std::make_unique<Backend>(std::vector<std::string>{"forward", "--self-id", "10002"},
                                         R"({"replies": {"*": {"mode": "failed", "retcode": 100}}})");
    add_account("10001", ok_->port());
    add_account("10002", refuser_->port());
    for (const char* qq : {"10001", "10002"}) {
      ASSERT_TRUE(hx_ob_login(qq));
      ASSERT_TRUE(wait_until([qq] { return hx_ob_online(qq); }));
    }
    // Logging in fetches the nickname and roster; the tests read the
    // actions sent after that.
    for (Backend* b : {ok_.get(), refuser_.get()})
      ASSERT_TRUE(wait_until([b] {
        for (const std::string& a : actions(*b))
          if (a.rfind("get_group_list ", 0) == 0) return true;
        return false;
      }));
  }
  void TearDown() override {
    hx_ob_stop();
    ok_.reset();
    refuser_.reset();
    LinkFixture::TearDown();
  }

  static std::vector<std::string> actions(Backend& b) {
    std::vector<std::string> out;
    for (const std::string& line : b.records()) {
      HxJson rec(cJSON_Parse(line.c_str()));
      const cJSON* action = cJSON_GetObjectItemCaseSensitive(rec.get(), "action");
      if (!cJSON_IsString(action)) continue;
      HxJsonText params(cJSON_PrintUnformatted(cJSON_GetObjectItemCaseSensitive(rec.get(), "params")));
      out.push_back(std::string(action->valuestring) + " " + (params ? params.get() : "null"));
    }
    return out;
  }
  // The next action past the first `seen`, waited for.
  static std::string next_action(Backend& b, std::size_t seen) {
    std::vector<std::string> all;
    wait_until([&] { return (all = actions(b)).size() > seen; }, 3000);
    return all.size() > seen ? all[seen] : "<none>";
  }

  // Runs each case against account 10001's backend.
  void run(const std::vector<ApiCase>& cases) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      const std::size_t seen = actions(*ok_).size();
      EXPECT_EQ(c.call(), c.result);
      if (!c.sent.empty()) {
        EXPECT_EQ(next_action(*ok_, seen), c.sent);
      } else {
        hold_for(100);
        EXPECT_EQ(actions(*ok_).size(), seen) << "nothing is sent";
      }
    }
  }

  std::unique_ptr<Backend> ok_, refuser_;
};
