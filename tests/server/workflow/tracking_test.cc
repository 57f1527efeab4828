// Tracking and searching documents: each user sees the documents drafted,
// registered or handled by them, administrators see all.
#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::TestApp;
using testing::text_of;

bool has(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

// Outgoing: F1 drafted by ann and verified by bob, sent on to cai; F2 drafted
// by cai alone; F3 a body ann uploaded but never drafted. Incoming: S1
// registered by bob and instructed by cai; S2 registered by cai and
// instructed by ann.
struct Archive {
  TestApp app;
  Browser ann{app}, bob{app}, cai{app}, boss{app};
  std::string f1, f2, f3, s1, s2;

  Archive() {
    app.add_user("ann", "安", "pw");
    app.add_user("bob", "包", "pw");
    app.add_user("cai", "蔡", "pw");
    app.add_user("boss", "管理员", "pw", "2");
    auto& db = app.db();
    f1 = fawen("ann", "安", "关于<春节>值班的通知", "办发〔2006〕1号", "2006-11-01 09:00:00");
    f2 = fawen("cai", "蔡", "财务检查安排", "财发〔2006〕2号", "2006-11-20 10:00:00");
    f3 = std::to_string(db.insert("INSERT INTO fawen (filedata, writeid) VALUES (x'00', 'ann')"));
    workflow(f1, "ann", "安", "bob", "0", "1", "", "2006-11-01 09:00:00");
    workflow(f1, "bob", "包", "cai", "1", "2", "文字<通顺>", "2006-11-02 11:00:00");
    workflow(f2, "cai", "蔡", "cai", "0", "2", "", "2006-11-20 10:00:00");
    s1 = shouwen("bob", "包", "市里来文", "市发〔2006〕7号", "2006-11-05 08:00:00");
    s2 = shouwen("cai", "蔡", "省厅来文", "省发〔2006〕8号", "2006-11-25 08:00:00");
    swflow(s1, "bob", "包", "cai", "0", "1", "拟请蔡阅");
    swflow(s1, "cai", "蔡", "", "1", "", "阅");
    swflow(s2, "cai", "蔡", "ann", "0", "1", "");
    swflow(s2, "ann", "安", "", "1", "", "同意");
    EXPECT_TRUE(ann.login("ann", "pw"));
    EXPECT_TRUE(bob.login("bob", "pw"));
    EXPECT_TRUE(cai.login("cai", "pw"));
    EXPECT_TRUE(boss.login("boss", "pw"));
  }

  std::string fawen(const std::string& uid, const std::string& name, const std::string& title,
                    const std::string& wenhao, const std::string& time) {
    return std::to_string(app.db().insert(
        "INSERT INTO fawen (writeid, writename, title, wenhao, writetime, writedep) "
        "VALUES (?, ?, ?, ?, ?, '办公室')",
        {uid, name, title, wenhao, time}));
  }
  std::string shouwen(const std::string& uid, const std::string& name, const std::string& title,
                      const std::string& wenhao, const std::string& time) {
    return std::to_string(app.db().insert(
        "INSERT INTO shouwen (writeid, writename, title, wenhao, draftime) VALUES (?, ?, ?, ?, ?)",
        {uid, name, title, wenhao, time}));
  }
  void workflow(const std::string& flowid, const std::string& uid, const std::string& name,
                const std::string& next, const std::string& handtype, const std::string& nexttype,
                const std::string& remark, const std::string& time) {
    app.db().exec(
        "INSERT INTO workflow (flowid, handleid, handlename, nextid, handtype, nexttype, remark, "
        "handletime) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
        {flowid, uid, name, next, handtype, nexttype, remark, time});
  }
  void swflow(const std::string& flowid, const std::string& uid, const std::string& name,
              const std::string& next, const std::string& handletype, const std::string& nexttype,
              const std::string& remark) {
    app.db().exec(
        "INSERT INTO swflow (flowid, handleid, handlename, nextid, handletype, nexttype, remark, "
        "handletime) VALUES (?, ?, ?, ?, ?, ?, ?, '2006-11-26 08:00:00')",
        {flowid, uid, name, next, handletype, nexttype, remark});
  }
  static std::string link(const std::string& kind, const std::string& id) {
    return "flowdetail.asp?type=" + kind + "&id=" + id;
  }
};

TEST(FlowList, ShowsOnlyTheUsersOwnDocumentsNewestFirst) {
  Archive a;
  std::string t = text_of(a.ann.get("flowlist.asp"));
  EXPECT_TRUE(has(t, Archive::link("fawen", a.f1)));
  EXPECT_TRUE(has(t, "关于&lt;春节&gt;值班的通知"));
  EXPECT_FALSE(has(t, "<春节>"));
  EXPECT_TRUE(has(t, Archive::link("shouwen", a.s2)));
  EXPECT_FALSE(has(t, Archive::link("fawen", a.f2)));
  EXPECT_FALSE(has(t, Archive::link("fawen", a.f3)));  // never drafted
  EXPECT_FALSE(has(t, Archive::link("shouwen", a.s1)));

  t = text_of(a.bob.get("flowlist.asp"));
  EXPECT_TRUE(has(t, Archive::link("fawen", a.f1)));
  EXPECT_TRUE(has(t, Archive::link("shouwen", a.s1)));
  EXPECT_FALSE(has(t, Archive::link("shouwen", a.s2)));

  // cai is the next handler of F1 but has not handled it yet.
  t = text_of(a.cai.get("flowlist.asp"));
  EXPECT_FALSE(has(t, Archive::link("fawen", a.f1)));
  EXPECT_TRUE(has(t, Archive::link("fawen", a.f2)));
  const auto newer = t.find(Archive::link("shouwen", a.s2));
  const auto older = t.find(Archive::link("shouwen", a.s1));
  ASSERT_NE(newer, std::string::npos);
  ASSERT_NE(older, std::string::npos);
  EXPECT_LT(newer, older);
}

TEST(FlowDetail, HistoryForThoseWhoMaySeeIt) {
  Archive a;
  auto r = a.bob.get(Archive::link("fawen", a.f1));
  ASSERT_EQ(r.status, 200);
  std::string t = text_of(r);
  // Steps by name, the next recipient by name, remarks escaped, in order.
  EXPECT_TRUE(
      has(t, "<td>安</td><td>2006-11-1 09:00:00</td><td>拟稿</td><td>核稿</td><td>包</td>"));
  EXPECT_TRUE(has(t,
                  "<td>包</td><td>2006-11-2 11:00:00</td><td>核稿</td><td>审核</td><td>蔡</td>"
                  "<td>文字&lt;通顺&gt;</td>"));

  r = a.ann.get(Archive::link("shouwen", a.s2));
  ASSERT_EQ(r.status, 200);
  t = text_of(r);
  EXPECT_TRUE(has(t, "省厅来文"));
  EXPECT_TRUE(has(t, "<td>收文登记</td><td>收文批办</td><td>安</td>"));
  EXPECT_TRUE(has(t, "<td>收文批办</td><td>办结</td><td></td><td>同意</td>"));
  EXPECT_FALSE(has(t, "swload.asp"));  // the detail view does not touch the session's document

  for (auto [who, kind, id] :
       {std::tuple{&a.ann, "fawen", a.f2}, std::tuple{&a.cai, "fawen", a.f1},
        std::tuple{&a.ann, "shouwen", a.s1}, std::tuple{&a.ann, "fawen", a.f3},
        std::tuple{&a.ann, "fawen", std::string("x")}}) {
    r = who->get(Archive::link(kind, id));
    EXPECT_EQ(r.status, 404) << kind << id;
    EXPECT_TRUE(has(text_of(r), "无权查看")) << kind << id;
  }
  EXPECT_EQ(a.ann.get("flowdetail.asp?type=workflow&id=" + a.f1).status, 400);
  // The administrator sees every document.
  EXPECT_EQ(a.boss.get(Archive::link("fawen", a.f2)).status, 200);
  EXPECT_EQ(a.boss.get(Archive::link("shouwen", a.s1)).status, 200);
}

TEST(FindWork, SearchesWhatTheUserMaySee) {
  Archive a;
  // Title substring over both kinds; the query comes from a GB2312 page.
  const std::string laiwen = text::url_encode(text::to_gb18030("来文"));
  std::string t = text_of(a.ann.get("findwork.asp?search=1&title=" + laiwen));
  EXPECT_TRUE(has(t, Archive::link("shouwen", a.s2)));
  EXPECT_FALSE(has(t, Archive::link("shouwen", a.s1)));
  t = text_of(a.boss.get("findwork.asp?search=1&title=" + laiwen));
  EXPECT_TRUE(has(t, Archive::link("shouwen", a.s1)));
  EXPECT_TRUE(has(t, Archive::link("shouwen", a.s2)));
  EXPECT_FALSE(has(t, Archive::link("fawen", a.f1)));

  // Only the kind asked for; no criteria lists everything the user may see.
  t = text_of(a.cai.get("findwork.asp?search=1&kind=fawen"));
  EXPECT_TRUE(has(t, Archive::link("fawen", a.f2)));
  EXPECT_FALSE(has(t, Archive::link("fawen", a.f1)));
  EXPECT_FALSE(has(t, "type=shouwen"));

  // Dates: writetime of outgoing, registration time of incoming documents,
  // both ends included.
  t = text_of(a.boss.get("findwork.asp?search=1&date1=2006-11-2&date2=2006/11/20"));
  EXPECT_TRUE(has(t, Archive::link("fawen", a.f2)));
  EXPECT_TRUE(has(t, Archive::link("shouwen", a.s1)));
  EXPECT_FALSE(has(t, Archive::link("fawen", a.f1)));
  EXPECT_FALSE(has(t, Archive::link("shouwen", a.s2)));
  EXPECT_FALSE(has(t, Archive::link("fawen", a.f3)));

  auto r = a.boss.get("findwork.asp?search=1&date1=yesterday");
  EXPECT_EQ(r.status, 400);
  EXPECT_TRUE(has(text_of(r), "无法识别"));
  EXPECT_FALSE(has(text_of(r), "type=fawen"));
}

TEST(FindWork, DocumentNumbersMatchLiterally) {
  Archive a;
  const std::string pct = a.fawen("ann", "安", "百分号", "A%1", "2006-11-10 09:00:00");
  const std::string plain = a.fawen("ann", "安", "普通", "AB1", "2006-11-10 09:00:00");
  const std::string under = a.fawen("ann", "安", "下划线", "C_2", "2006-11-10 09:00:00");
  const std::string other = a.fawen("ann", "安", "其他", "CD2", "2006-11-10 09:00:00");
  std::string t = text_of(a.ann.get("findwork.asp?search=1&wenhao=%25"));
  EXPECT_TRUE(has(t, Archive::link("fawen", pct)));
  EXPECT_FALSE(has(t, Archive::link("fawen", plain)));
  t = text_of(a.ann.get("findwork.asp?search=1&wenhao=C_"));
  EXPECT_TRUE(has(t, Archive::link("fawen", under)));
  EXPECT_FALSE(has(t, Archive::link("fawen", other)));
  // The form shows what was searched, escaped.
  t = text_of(a.ann.get("findwork.asp?search=1&title=%27%3E%3Cb%3E"));
  EXPECT_TRUE(has(t, "value='&#39;&gt;&lt;b&gt;'"));
  EXPECT_TRUE(has(t, "没有找到"));
}

}  // namespace
}  // namespace desk
