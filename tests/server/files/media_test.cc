// The media library through the host: formats recognised by their bytes,
// ids and files of concurrent uploads, refused and failed uploads that leave
// nothing behind, albums, who sees what, byte ranges and deletion.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "server/files/media.h"
#include "server/files/media_format.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

namespace fs = std::filesystem;
using files::MediaKind;
using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;
using namespace std::string_literals;

// A WAV file of `samples` 8-bit mono samples at 8 kHz, each byte distinct
// from its neighbours so that a misplaced range shows.
std::string wav(std::uint32_t samples) {
  auto le32 = [](std::uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  };
  std::string s = "RIFF" + le32(36 + samples) + "WAVEfmt " + le32(16) + "\x01\x00\x01\x00"s +
                  le32(8000) + le32(8000) + "\x01\x00\x08\x00"s + "data" + le32(samples);
  for (std::uint32_t i = 0; i < samples; ++i) s += static_cast<char>(i * 37 + 11);
  return s;
}

const std::string kJpeg = "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01"s;
const std::string kPng = "\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR"s;
const std::string kGif = "GIF89a\x01\x00\x01\x00\x80\x00\x00"s;
const std::string kWebp = "RIFF\x1A\x00\x00\x00WEBPVP8L"s;
const std::string kAsf = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C\x00"s;
const std::string kMp4 =
    "\x00\x00\x00\x18"
    "ftypisom\x00\x00\x02\x00"s;
const std::string kM4a =
    "\x00\x00\x00\x18"
    "ftypM4A \x00\x00\x02\x00"s;
const std::string kWebm = "\x1A\x45\xDF\xA3\x9F\x42\x86\x81\x01\x42\x82\x84webm"s;
const std::string kMkv = "\x1A\x45\xDF\xA3\xA3\x42\x86\x81\x01\x42\x82\x88matroska"s;
const std::string kMp3Frame = "\xFF\xFB\x90\x64\x00\x00\x00\x00"s;
const std::string kId3 = "ID3\x03\x00\x00\x00\x00\x00\x0A"s;
const std::string kHtml = "<html><script>alert(1)</script></html>";

TEST(MediaFormat, RecognisedByTheBytesAlone) {
  struct Case {
    MediaKind kind;
    std::string bytes;
    std::string_view format;  // "" refused
  };
  const Case cases[] = {
      {MediaKind::picture, kJpeg, "jpeg"},
      {MediaKind::picture, kPng, "png"},
      {MediaKind::picture, kGif, "gif"},
      {MediaKind::picture, kWebp, "webp"},
      {MediaKind::picture, "GIF87", ""},  // cut short
      {MediaKind::picture, kHtml, ""},
      {MediaKind::picture, wav(4), ""},
      {MediaKind::music, kMp3Frame, "mp3"},
      {MediaKind::music, kId3, "mp3"},
      {MediaKind::music, "\xFF\xF1\x50\x80\x00"s, ""},  // AAC in ADTS: layer bits 0
      {MediaKind::music, "\xFF\xFB\xF0\x64"s, ""},      // bit rate index 15
      {MediaKind::music, wav(4), "wav"},
      {MediaKind::music, "OggS\x00\x02"s, "ogg"},
      {MediaKind::music, "fLaC\x00\x00\x00\x22"s, "flac"},
      {MediaKind::music, kM4a, "m4a"},
      {MediaKind::music, kAsf, "wma"},
      {MediaKind::music, kJpeg, ""},
      {MediaKind::music, "", ""},
      {MediaKind::video, kAsf, "wmv"},
      {MediaKind::video, kMp4, "mp4"},
      {MediaKind::video,
       "\x00\x00\x00\x14"
       "ftypqt  \x00\x00\x00\x00"s,
       "mov"},
      {MediaKind::video, kWebm, "webm"},
      {MediaKind::video, kMkv, "mkv"},
      {MediaKind::video,
       "RIFF\x00\x00\x00\x00"
       "AVI LIST"s,
       "avi"},
      {MediaKind::video, "\x00\x00\x01\xBA\x44"s, "mpeg"},
      {MediaKind::video, "FLV\x01\x05"s, "flv"},
      {MediaKind::video, kMp3Frame, ""},
      {MediaKind::video, "MZ\x90\x00"s, ""},
  };
  for (const Case& c : cases) {
    const files::MediaFormat* f = files::recognise(c.kind, c.bytes);
    EXPECT_EQ(f ? f->name : "", c.format) << static_cast<int>(c.kind) << " " << c.format;
  }
}

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// zhang and li logged in; uploads up to 4000 bytes.
struct MediaFixture : ::testing::Test {
  TestApp app;
  Browser zhang{app}, li{app};

  MediaFixture() {
    app.db().exec("INSERT INTO sysconfig (type, maxsize) VALUES (1, 4000)");
    app.add_user("zhang", "张三", "pw");
    app.add_user("li", "李四", "pw");
    EXPECT_TRUE(zhang.login("zhang", "pw"));
    EXPECT_TRUE(li.login("li", "pw"));
  }
  std::string count(const std::string& table) {
    return app.db().scalar("SELECT COUNT(*) FROM " + table);
  }
  // Every entry of the media folders, temporaries included.
  std::set<std::string> stored_files() {
    std::set<std::string> out;
    for (const char* folder : {"MP3", "dv", "pic"})
      if (fs::is_directory(app.dir() / folder))
        for (const auto& e : fs::directory_iterator(app.dir() / folder))
          out.insert(std::string(folder) + "/" + e.path().filename().string());
    return out;
  }
  // The id a save page answered with ("OK <id> <token>"); 0 otherwise.
  static std::int64_t id_of(const http::Reply& r) {
    const std::string t = text_of(r);
    if (r.status != 200 || t.rfind("OK ", 0) != 0) return 0;
    return std::stoll(t.substr(3));
  }
  std::int64_t save(Browser& b, const std::string& page, const std::string& bytes,
                    const std::string& type = "application/octet-stream") {
    return id_of(b.post_raw(page, bytes, type));
  }
  // Completes the item of `page` (sharemp3.asp, ...) and returns where it leads.
  std::string share(Browser& b, const std::string& page, const std::string& title,
                    const std::string& isshare) {
    auto r = b.post(page, {{"title", title}, {"content", "说明<b>"}, {"isshare", isshare}});
    EXPECT_EQ(r.status, 302) << text_of(r);
    return header(r, "Location");
  }
  // A GET with extra request headers.
  http::Reply get(Browser& b, const std::string& target, const http::Pairs& headers = {}) {
    auto m = app.make("GET", "/tarvo/" + target);
    m.headers.emplace_back("Cookie", std::string(asp::kSessionCookie) + "=" + b.session_token());
    for (const auto& h : headers) m.headers.push_back(h);
    return app.send(m);
  }
};

TEST_F(MediaFixture, UploadsTakeTheNextIdAndShareCompletesThem) {
  // Ids are the largest plus one; gaps below it are not reused.
  for (int id : {1, 2, 7}) app.db().exec("INSERT INTO share (id, type) VALUES (?, 'x')", {id});
  const std::string music = wav(300);
  EXPECT_EQ(save(zhang, "savemp3.asp", music), 8);
  EXPECT_EQ(read(app.dir() / "MP3/8.mp3"), music);
  EXPECT_EQ(zhang.session("mp3id"), "8");
  // The document control sends its raw bodies as "multipart/form-data"
  // without a boundary.
  EXPECT_EQ(save(zhang, "savedv.asp", kAsf, "multipart/form-data"), 9);
  EXPECT_EQ(read(app.dir() / "dv/9.wmv"), kAsf);
  EXPECT_EQ(zhang.session("dvid"), "9");
  auto row = app.db().query("SELECT * FROM share WHERE id = 8").front();
  EXPECT_EQ(row.text("type"), "mp3");
  EXPECT_EQ(row.text("format"), "wav");
  EXPECT_EQ(row.text("uid"), "zhang");
  EXPECT_EQ(row.text("username"), "张三");
  EXPECT_EQ(row.text("ipaddress"), "10.0.0.7");
  EXPECT_EQ(row.text("savedate"), "2006-12-03 15:30:45");
  EXPECT_EQ(row.integer("filesize"), static_cast<std::int64_t>(music.size()));

  EXPECT_EQ(share(zhang, "sharemp3.asp", "春天", "1"), "shareview.asp?id=8");
  EXPECT_EQ(share(zhang, "sharedv.asp", "会议录像", "0"), "shareview.asp?id=9");
  EXPECT_EQ(app.db().scalar("SELECT title || '|' || content || '|' || isshare FROM share "
                            "WHERE id = 8"),
            "春天|说明<b>|1");
  EXPECT_EQ(app.db().scalar("SELECT isshare FROM share WHERE id = 9"), "0");
  // Without an upload of its own in the session, the share page changes nothing.
  EXPECT_EQ(share(li, "sharemp3.asp", "别人的", "1"), "sharemore.asp");
  li.set_session("mp3id", "8");
  EXPECT_EQ(share(li, "sharemp3.asp", "别人的", "1"), "sharemore.asp");
  EXPECT_EQ(app.db().scalar("SELECT title FROM share WHERE id = 8"), "春天");

  // Pictures wait under the session until an album gathers them; another
  // user's waiting pictures stay out of it.
  std::vector<std::int64_t> pics;
  for (const std::string& p : {kJpeg, kPng, kGif}) pics.push_back(save(zhang, "savepic.asp", p));
  EXPECT_EQ(pics, (std::vector<std::int64_t>{1, 2, 3}));
  EXPECT_EQ(read(app.dir() / "pic/2.jpg"), kPng);
  EXPECT_EQ(save(li, "savepic.asp", kWebp), 4);
  EXPECT_EQ(share(zhang, "sharepic.asp", "年会", "1"), "shareview.asp?id=10");
  EXPECT_EQ(app.db().scalar("SELECT group_concat(id) FROM sharepic WHERE shareid = '10'"), "1,2,3");
  EXPECT_EQ(app.db().scalar("SELECT shareid FROM sharepic WHERE id = 4"),
            std::to_string(li.session_id()));
  EXPECT_EQ(app.db().scalar("SELECT type || format FROM share WHERE id = 10"), "pic");
  // An album needs pictures.
  EXPECT_EQ(zhang.post("sharepic.asp", {{"title", "空"}, {"isshare", "1"}}).status, 400);
  EXPECT_EQ(count("share"), "6");
}

TEST_F(MediaFixture, RefusedOrFailedUploadsLeaveNothingBehind) {
  save(zhang, "savemp3.asp", wav(10));  // item 1, kept throughout
  const std::set<std::string> before = stored_files();
  struct Case {
    const char* what;
    std::string page;
    std::string body;
    int status;
    std::function<void()> arrange = [] {};
  };
  const Case cases[] = {
      {"empty body", "savemp3.asp", "", 400},
      {"a page as a picture", "savepic.asp", kHtml, 400},
      {"a picture as music", "savemp3.asp", kJpeg, 400},
      {"music as video", "savedv.asp", wav(10), 400},
      {"over MaxSize", "savemp3.asp", wav(4000), 413},
      {"over MaxSize, picture", "savepic.asp", kJpeg + std::string(4000, 'x'), 413},
      {"the record cannot be written", "savemp3.asp", wav(10), 500,
       [&] {
         app.db().exec(
             "CREATE TRIGGER nomore BEFORE INSERT ON share BEGIN SELECT RAISE(ABORT, 'full'); END");
       }},
      {"the picture record cannot be written", "savepic.asp", kJpeg, 500,
       [&] {
         app.db().exec(
             "CREATE TRIGGER nopic BEFORE INSERT ON sharepic BEGIN SELECT RAISE(ABORT, 'x'); END");
       }},
      {"the folder cannot be written", "savedv.asp", kAsf, 500,
       [&] {
         fs::remove_all(app.dir() / "dv");
         app.write_file("dv", "not a folder");
       }},
  };
  for (const Case& c : cases) {
    c.arrange();
    auto r = zhang.post_raw(c.page, c.body);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << text_of(r);
    EXPECT_EQ(count("share"), "1") << c.what;
    EXPECT_EQ(count("sharepic"), "0") << c.what;
    EXPECT_EQ(stored_files(), before) << c.what;
    EXPECT_EQ(zhang.session("dvid"), "") << c.what;
  }
  EXPECT_EQ(zhang.session("mp3id"), "1");
  EXPECT_EQ(read(app.dir() / "MP3/1.mp3"), wav(10));
}

TEST_F(MediaFixture, ConcurrentUploadsNeverShareAnIdOrAFile) {
  constexpr int kThreads = 6, kEach = 5;
  std::vector<std::unique_ptr<Browser>> users;
  for (int t = 0; t < kThreads; ++t) {
    const std::string uid = "u" + std::to_string(t);
    app.add_user(uid, uid, "pw");
    users.push_back(std::make_unique<Browser>(app));
    ASSERT_TRUE(users.back()->login(uid, "pw"));
  }
  // Each upload's bytes name their thread and number: a file holding another
  // upload's bytes shows.
  auto bytes_of = [](int t, int i) { return kId3 + "thread " + std::to_string(t * 100 + i); };
  std::vector<std::vector<std::int64_t>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const bool pic = i % 2 == 1;
        ids[t].push_back(save(*users[t], pic ? "savepic.asp" : "savemp3.asp",
                              pic ? kGif + std::to_string(t * 100 + i) : bytes_of(t, i)));
      }
    });
  for (auto& th : threads) th.join();
  std::set<std::int64_t> music, pictures;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kEach; ++i) {
      const std::int64_t id = ids[t][i];
      ASSERT_GT(id, 0) << t << "/" << i;
      const bool pic = i % 2 == 1;
      (pic ? pictures : music).insert(id);
      EXPECT_EQ(read(files::media_file(app.dir(), pic ? MediaKind::picture : MediaKind::music, id)),
                pic ? kGif + std::to_string(t * 100 + i) : bytes_of(t, i));
      EXPECT_EQ(app.db().scalar(pic ? "SELECT uid FROM sharepic WHERE id = ?"
                                    : "SELECT uid FROM share WHERE id = ?",
                                {id}),
                "u" + std::to_string(t));
    }
  EXPECT_EQ(music.size(), static_cast<std::size_t>(kThreads * 3));
  EXPECT_EQ(pictures.size(), static_cast<std::size_t>(kThreads * 2));
  EXPECT_EQ(stored_files().size(), music.size() + pictures.size());
}

TEST_F(MediaFixture, OnlySharedItemsAndOnesOwnAreSeen) {
  save(zhang, "savepic.asp", kJpeg);  // picture 1 -> shared album
  share(zhang, "sharepic.asp", "公开相册", "1");
  save(zhang, "savepic.asp", kPng);  // picture 2 -> private album
  share(zhang, "sharepic.asp", "私人相册", "0");
  save(zhang, "savemp3.asp", wav(20));  // item 3, private music
  share(zhang, "sharemp3.asp", "私人音乐", "0");
  save(zhang, "savepic.asp", kGif);  // picture 3, still waiting
  save(li, "savemp3.asp", wav(30));  // item 4, li's, never completed

  const std::string zhang_list = text_of(zhang.get("sharemore.asp"));
  const std::string li_list = text_of(li.get("sharemore.asp"));
  for (const char* title : {"公开相册", "私人相册", "私人音乐"})
    EXPECT_NE(zhang_list.find(title), std::string::npos) << title;
  EXPECT_NE(li_list.find("公开相册"), std::string::npos);
  EXPECT_NE(li_list.find("张三"), std::string::npos);
  EXPECT_NE(li_list.find(app.env().config.regional.shown("2006-12-03 15:30:45")),
            std::string::npos);
  EXPECT_EQ(li_list.find("私人"), std::string::npos);
  EXPECT_NE(li_list.find("（无标题）"), std::string::npos);  // li's own upload
  EXPECT_EQ(zhang_list.find("（无标题）"), std::string::npos);

  struct Case {
    std::string target;
    int zhang, li;
  };
  const Case cases[] = {
      {"shareview.asp?id=1", 200, 200},  {"shareview.asp?id=2", 200, 404},
      {"shareview.asp?id=3", 200, 404},  {"shareview.asp?id=4", 404, 200},
      {"sharefile.asp?pic=1", 200, 200}, {"sharefile.asp?pic=2", 200, 404},
      {"sharefile.asp?pic=3", 200, 404}, {"sharefile.asp?id=3", 200, 404},
      {"sharefile.asp?id=4", 404, 200},  {"sharefile.asp?id=1", 404, 404},  // an album has no file
      {"sharefile.asp?id=x", 404, 404},  {"sharefile.asp?pic=99", 404, 404},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zhang.get(c.target).status, c.zhang) << c.target;
    EXPECT_EQ(li.get(c.target).status, c.li) << c.target;
  }
  auto pic = li.get("sharefile.asp?pic=1");
  EXPECT_EQ(pic.body, kJpeg);
  EXPECT_EQ(header(pic, "Content-Type"), "image/jpeg");
  EXPECT_EQ(header(pic, "X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(header(zhang.get("sharefile.asp?pic=2"), "Content-Type"), "image/png");
  EXPECT_EQ(header(zhang.get("sharefile.asp?id=3"), "Content-Type"), "audio/wav");
  EXPECT_NE(header(zhang.get("sharefile.asp?id=3&download=1"), "Content-Disposition")
                .find("filename*=UTF-8''%E7%A7%81%E4%BA%BA%E9%9F%B3%E4%B9%90.wav"),
            std::string::npos);
  // The pages escape what users typed; the album shows its pictures.
  const std::string view = text_of(zhang.get("shareview.asp?id=1"));
  EXPECT_NE(view.find("说明&lt;b&gt;"), std::string::npos);
  EXPECT_NE(view.find("sharefile.asp?pic=1"), std::string::npos);
  EXPECT_NE(text_of(zhang.get("shareview.asp?id=3")).find("<audio id='player'"), std::string::npos);
  // Without a session nothing is served.
  Browser nobody(app);
  EXPECT_EQ(nobody.get("sharefile.asp?pic=1").status, 302);
}

TEST_F(MediaFixture, ByteRangesForPlayers) {
  const std::string music = wav(1000);
  const std::uint64_t n = music.size();
  save(zhang, "savemp3.asp", music);
  const std::string size = std::to_string(n);
  const std::string tag = header(get(zhang, "sharefile.asp?id=1"), "ETag");
  ASSERT_FALSE(tag.empty());
  struct Case {
    http::Pairs headers;
    int status;
    std::string content_range;
    std::string body;
  };
  const Case cases[] = {
      {{}, 200, "", music},
      {{{"Range", "bytes=0-9"}}, 206, "bytes 0-9/" + size, music.substr(0, 10)},
      {{{"Range", "bytes=100-"}},
       206,
       "bytes 100-" + std::to_string(n - 1) + "/" + size,
       music.substr(100)},
      {{{"Range", "bytes=-5"}},
       206,
       "bytes " + std::to_string(n - 5) + "-" + std::to_string(n - 1) + "/" + size,
       music.substr(n - 5)},
      {{{"Range", "bytes=10-99999"}},
       206,
       "bytes 10-" + std::to_string(n - 1) + "/" + size,
       music.substr(10)},
      {{{"Range", "bytes=" + size + "-"}}, 416, "bytes */" + size, ""},
      {{{"Range", "bytes=9-3"}}, 200, "", music},      // not a range: the whole file
      {{{"Range", "bytes=0-1,5-6"}}, 200, "", music},  // several ranges: the whole file
      {{{"Range", "items=0-1"}}, 200, "", music},
      {{{"Range", "bytes=0-9"}, {"If-Range", tag}}, 206, "bytes 0-9/" + size, music.substr(0, 10)},
      {{{"Range", "bytes=0-9"}, {"If-Range", "\"old\""}}, 200, "", music},
      {{{"If-None-Match", tag}}, 304, "", ""},
  };
  for (const Case& c : cases) {
    auto r = get(zhang, "sharefile.asp?id=1", c.headers);
    const std::string what = c.headers.empty() ? "none" : c.headers[0].second;
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(header(r, "Content-Range"), c.content_range) << what;
    EXPECT_EQ(r.body, c.body) << what;
    EXPECT_EQ(header(r, "Accept-Ranges"), "bytes") << what;
  }
  // A range of someone else's private item is refused like the whole file.
  EXPECT_EQ(get(li, "sharefile.asp?id=1", {{"Range", "bytes=0-9"}}).status, 404);
}

TEST_F(MediaFixture, OwnersDeleteRecordsAndFilesTogether) {
  for (const std::string& p : {kJpeg, kPng}) save(zhang, "savepic.asp", p);
  share(zhang, "sharepic.asp", "相册", "1");  // album 1 with pictures 1, 2
  save(zhang, "savemp3.asp", wav(10));        // item 2
  const std::set<std::string> all = stored_files();
  ASSERT_EQ(all.size(), 3u);

  // Someone else's item, or none, is refused; a GET deletes nothing.
  EXPECT_EQ(li.post("sharedel.asp", {{"id", "1"}}).status, 404);
  EXPECT_EQ(zhang.post("sharedel.asp", {{"id", "77"}}).status, 404);
  EXPECT_EQ(zhang.get("sharedel.asp?id=1").status, 302);
  // A delete that fails in the database keeps every file and record.
  app.db().exec(
      "CREATE TRIGGER keep BEFORE DELETE ON share BEGIN SELECT RAISE(ABORT, 'kept'); END");
  EXPECT_EQ(zhang.post("sharedel.asp", {{"id", "1"}}).status, 500);
  EXPECT_EQ(stored_files(), all);
  EXPECT_EQ(count("sharepic"), "2");
  app.db().exec("DROP TRIGGER keep");

  auto r = zhang.post("sharedel.asp", {{"id", "1"}});
  EXPECT_EQ(header(r, "Location"), "sharemore.asp");
  EXPECT_EQ(stored_files(), std::set<std::string>{"MP3/2.mp3"});
  EXPECT_EQ(count("sharepic"), "0");
  EXPECT_EQ(app.db().scalar("SELECT group_concat(id) FROM share"), "2");
  zhang.post("sharedel.asp", {{"id", "2"}});
  EXPECT_TRUE(stored_files().empty());
  EXPECT_EQ(count("share"), "0");
}

TEST_F(MediaFixture, StoredUploadsAreNeverStaticFiles) {
  save(zhang, "savemp3.asp", wav(10));
  for (const char* stored : {"dv/1.wmv", "pic/1.jpg", "upfiles/1.doc", "images/ok.gif"})
    app.write_file(stored, "stored");
  fs::create_symlink(app.dir() / "MP3", app.dir() / "music");
  for (const char* target : {"MP3/1.mp3", "mp3/1.mp3", "dv/1.wmv", "pic/1.jpg", "upfiles/1.doc",
                             "music/1.mp3", "data/office.db"})
    EXPECT_EQ(get(zhang, target).status, 404) << target;
  EXPECT_EQ(get(zhang, "images/ok.gif").body, "stored");
}

}  // namespace
}  // namespace desk
