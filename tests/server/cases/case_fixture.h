// A law-firm application with lawyers zhang and li, administrator boss and
// zhao, who is given no case; all four logged in on their own sessions.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/testapp.h"

namespace desk::testing {

using Fields = std::vector<std::pair<std::string, std::string>>;

inline asp::AppConfig law_config() {
  asp::AppConfig c;
  c.edition = "law";
  return c;
}

// The fields of a complete acceptance form, with `changes` replacing or
// adding fields.
inline Fields case_fields(const Fields& changes = {}) {
  Fields f = {{"flag", "2"},
              {"lawno", "（2006）民字第12号"},
              {"lawtitle", "甲公司诉乙公司买卖合同纠纷"},
              {"jztype", "民事"},
              {"flbmtype", "合同"},
              {"judgeperiod", "一审"},
              {"demandanttm", "甲公司"},
              {"defendanttm", "乙公司"},
              {"needmoney", "10000"},
              {"moneytype", "固定收费"},
              {"moneyrate", "30"},
              {"receivedate", "2006-12-1"},
              {"receivetype", "当事人委托"},
              {"proxyrange", "一般代理"},
              {"proxyreason", "买卖合同纠纷"},
              {"lawdesc", "货款未付"},
              {"lawanalysis", "证据充分"},
              {"lawyerid", "zhang"},
              {"lawyername", "张三"}};
  for (const auto& [k, v] : changes) {
    bool replaced = false;
    for (auto& [fk, fv] : f)
      if (fk == k) fv = v, replaced = true;
    if (!replaced) f.emplace_back(k, v);
  }
  return f;
}

struct CaseFiles {
  TestApp app;
  Browser zhang{app}, li{app}, boss{app}, zhao{app};

  explicit CaseFiles(asp::AppConfig config = law_config()) : app(std::move(config)) {
    app.add_user("zhang", "张三", "pw");
    app.add_user("li", "李四", "pw");
    app.add_user("boss", "王总", "pw", "2");
    app.add_user("zhao", "赵六", "pw");
    const std::pair<Browser*, const char*> users[] = {
        {&zhang, "zhang"}, {&li, "li"}, {&boss, "boss"}, {&zhao, "zhao"}};
    for (auto [b, uid] : users) EXPECT_TRUE(b->login(uid, "pw")) << uid;
  }

  std::string scalar(const std::string& sql, const db::Params& p = {}) {
    return app.db().scalar(sql, p);
  }
  std::string count(const std::string& table) { return scalar("SELECT COUNT(*) FROM " + table); }

  // Accepts a case through the form as `b`; returns its id (0 when refused).
  std::int64_t accept(Browser& b, const Fields& changes = {}) {
    const std::string before = scalar("SELECT COALESCE(MAX(id), 0) FROM lawinfo");
    http::Reply r = b.post("lawaccept.asp", case_fields(changes));
    const std::string after = scalar("SELECT COALESCE(MAX(id), 0) FROM lawinfo");
    if (after == before) return 0;
    EXPECT_EQ(r.status, 200);
    return std::stoll(after);
  }
};

}  // namespace desk::testing
