// The .docx engine on real packages: every change is checked by reading the
// saved package back.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "tests/support/docx_fixtures.h"
#include "web/docx/document.h"
#include "web/docx/error.h"

namespace desk::docx {
namespace {

using testing::DocxParts;
using testing::make_docx;

// The saved package, opened again: what a later reader sees.
Document reopen(Document& d) {
  return Document::open(d.save());
}

struct Xml {
  pugi::xml_document doc;
  explicit Xml(const std::string& bytes) { doc.load_buffer(bytes.data(), bytes.size()); }
  std::size_t count(const char* xpath) const { return doc.select_nodes(xpath).size(); }
  std::string value(const char* xpath) const {
    auto n = doc.select_node(xpath);
    return n.attribute() ? n.attribute().value() : n.node().text().get();
  }
};

Xml part(Document& d, const std::string& name) {
  return Xml(d.part_bytes(name));
}

Errc error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.code();
  }
  ADD_FAILURE() << "no error";
  return Errc::io;
}

TEST(DocxPackage, RefusesHostileAndBrokenInput) {
  std::string valid = make_docx();
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "<w:sdt>";
  for (int i = 0; i < 300; ++i) deep += "</w:sdt>";
  DocxParts nested;
  nested.body = deep;
  DocxParts entity;
  entity.extra = {{"word/settings.xml",
                   "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\"><!ENTITY b "
                   "\"&a;&a;&a;&a;\">]><w:settings>&b;</w:settings>"}};
  entity.extra_rels = {
      "<Relationship Id=\"rId9\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "relationships/settings\" Target=\"settings.xml\"/>"};
  DocxParts bomb;
  bomb.extra = {{"word/media/zeros.bin", std::string(3 << 20, '\0')}};
  Limits small;
  small.max_part_bytes = 1 << 20;

  struct Case {
    const char* what;
    std::string bytes;
    Errc code;
    Limits limits = {};
    bool touch_settings = false;
  } cases[] = {
      {"not a zip", "PK\x03\x04 this is not a zip file", Errc::malformed},
      {"truncated", valid.substr(0, valid.size() / 2), Errc::malformed},
      {"dot-dot entry", testing::zip_bytes({{"../evil.xml", "x"}}), Errc::unsafe},
      {"absolute entry", testing::zip_bytes({{"/etc/passwd", "x"}}), Errc::unsafe},
      {"backslash entry", testing::zip_bytes({{"word\\..\\x", "x"}}), Errc::unsafe},
      {"names equal but for case",
       testing::zip_bytes({{"word/document.xml", "a"}, {"Word/Document.xml", "b"}}), Errc::unsafe},
      {"no main document", testing::zip_bytes({{"[Content_Types].xml", "<Types/>"}}),
       Errc::malformed},
      {"nesting too deep", make_docx(nested), Errc::unsafe},
      {"entity declarations", make_docx(entity), Errc::unsafe, {}, true},
      {"zip bomb by ratio", make_docx(bomb), Errc::unsafe},
      {"part above the size limit", make_docx(bomb), Errc::unsafe, small},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(error_of([&] {
                auto d = Document::open(c.bytes, c.limits);
                if (c.touch_settings) d.track_revisions();
              }),
              c.code);
  }
  EXPECT_NO_THROW(Document::open(valid));
}

// The fuzz target's kept corpus: each hostile file is refused for its reason.
TEST(DocxPackage, KeptFuzzCorpusIsRefusedForTheRightReason) {
  struct Case {
    const char* file;
    const char* refusal;  // "" when the file opens
  } cases[] = {
      {"minimal.docx", ""},
      {"full.docx", ""},
      {"wide-xml.docx", ""},
      {"dotdot-target.docx", ""},  // the relationship leading outside is not followed
      {"zip-bomb-ratio.docx", "is a zip bomb"},
      {"zip-bomb-lying-size.docx", "inflates beyond its declared 300 bytes"},
      {"dotdot-entry.docx", "\"..\" in path"},
      {"absolute-entry.docx", "absolute path"},
      {"deep-xml.docx", "nests deeper than 256 elements"},
      {"entity-expansion.docx", "DTDs and entity declarations are refused"},
      {"truncated-half.docx", "not a zip package"},
      {"truncated-directory.docx", "not a zip package"},
      {"not-a-zip.docx", "not a zip package"},
  };
  for (const auto& c : cases) {
    std::string refusal;
    try {
      auto d = Document::load(std::filesystem::path(DESK_FUZZ_CORPUS) / "docx" / c.file);
      d.text(d.main_part());
      EXPECT_EQ(d.track_revisions(), std::string(c.file) == "full.docx") << c.file;
    } catch (const Error& e) {
      refusal = e.what();
    }
    if (*c.refusal)
      EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.file << ": " << refusal;
    else
      EXPECT_EQ(refusal, "") << c.file;
  }
}

TEST(DocxPackage, KeepsUnknownPartsAndPreservedTextByteForByte) {
  DocxParts parts;
  parts.body =
      "<w:p><w:r><w:t xml:space=\"preserve\">  two  spaces\t&amp; a tab </w:t></w:r></w:p>"
      "<w:p><w:r><w:t>plain</w:t></w:r></w:p><w:sectPr/>";
  std::string blob("\x00\x01\xff binary \r\n", 13);
  parts.extra = {{"customXml/item1.xml", "<?xml version=\"1.0\"?>\r\n<data  a='1' >x</data>"},
                 {"word/unknown.bin", blob}};
  auto d = Document::open(make_docx(parts));
  Position end{d.main_part(), 1, Position::kEnd};
  d.insert_text(end, " more", nullptr);
  d.set_track_revisions(true);
  auto again = reopen(d);

  EXPECT_EQ(again.part_bytes("word/unknown.bin"), blob);
  EXPECT_EQ(again.part_bytes("customXml/item1.xml"),
            "<?xml version=\"1.0\"?>\r\n<data  a='1' >x</data>");
  std::string doc = again.part_bytes("word/document.xml");
  EXPECT_NE(doc.find("<w:t xml:space=\"preserve\">  two  spaces\t&amp; a tab </w:t>"),
            std::string::npos)
      << doc;
  EXPECT_EQ(again.text("word/document.xml"), "  two  spaces\t& a tab \nplain more");
  EXPECT_TRUE(again.track_revisions());
  EXPECT_FALSE(again.modified());
}

TEST(DocxRevisions, TrackingAndShowingLiveInSettingsInSchemaOrder) {
  struct Case {
    const char* settings;  // "" = no settings part
    bool track, show;
    const char* children;  // element names of w:settings after the change
  } cases[] = {
      {"", true, true, "trackRevisions"},
      {"", false, false, "revisionView"},
      {"<w:zoom w:percent=\"100\"/><w:defaultTabStop w:val=\"420\"/>", true, false,
       "zoom revisionView trackRevisions defaultTabStop"},
      {"<w:revisionView w:comments=\"0\"/><w:trackRevisions/><w:documentProtection "
       "w:edit=\"forms\" w:enforcement=\"0\"/>",
       false, true, "revisionView documentProtection"},
      {"<w:revisionView w:insDel=\"0\" w:formatting=\"0\" w:markup=\"0\"/><w:trackRevisions "
       "w:val=\"false\"/>",
       true, true, "trackRevisions"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    DocxParts parts;
    parts.settings = c.settings;
    auto d = Document::open(make_docx(parts));
    d.set_track_revisions(c.track);
    d.set_show_revisions(c.show);
    auto again = reopen(d);
    EXPECT_EQ(again.track_revisions(), c.track);
    EXPECT_EQ(again.show_revisions(), c.show);
    Xml s = part(again, "word/settings.xml");
    std::string names;
    for (auto n : s.doc.document_element().children())
      names += (names.empty() ? "" : " ") + std::string(n.name()).substr(2);
    EXPECT_EQ(names, c.children);
  }
}

TEST(DocxRevisions, AcceptAllKeepsInsertionsAndDropsDeletions) {
  const std::string ins = "w:id=\"1\" w:author=\"a\" w:date=\"2024-01-01T00:00:00Z\"";
  struct Case {
    const char* what;
    std::string body;
    const char* text;
  } cases[] = {
      {"insert and delete",
       "<w:p><w:r><w:t>A</w:t></w:r><w:ins " + ins + "><w:r><w:t>B</w:t></w:r></w:ins><w:del " +
           ins + "><w:r><w:delText>C</w:delText></w:r></w:del></w:p>",
       "AB"},
      {"move",
       "<w:p><w:moveFromRangeStart w:id=\"5\" w:name=\"m\"/><w:moveFrom " + ins +
           "><w:r><w:t>X</w:t></w:r></w:moveFrom><w:moveFromRangeEnd w:id=\"5\"/></w:p>"
           "<w:p><w:moveTo " +
           ins + "><w:r><w:t>X</w:t></w:r></w:moveTo><w:r><w:t>Y</w:t></w:r></w:p>",
       "\nXY"},
      {"formatting change keeps the new formatting",
       "<w:p><w:r><w:rPr><w:b/><w:rPrChange " + ins +
           "><w:rPr/></w:rPrChange></w:rPr><w:t>bold</w:t></w:r></w:p>",
       "bold"},
      {"deleted paragraph marks join paragraphs",
       "<w:p><w:pPr><w:rPr><w:del " + ins +
           "/></w:rPr></w:pPr><w:r><w:t>one</w:t></w:r></w:p><w:p><w:pPr><w:rPr><w:del " + ins +
           "/></w:rPr></w:pPr><w:r><w:t>two</w:t></w:r></w:p><w:p><w:pPr><w:jc "
           "w:val=\"center\"/></w:pPr><w:r><w:t>three</w:t></w:r></w:p>",
       "onetwothree"},
      {"deleted row",
       "<w:tbl><w:tr><w:tc><w:p><w:r><w:t>keep</w:t></w:r></w:p></w:tc></"
       "w:tr><w:tr><w:trPr><w:del " +
           ins + "/></w:trPr><w:tc><w:p><w:r><w:t>gone</w:t></w:r></w:p></w:tc></w:tr></w:tbl>",
       "keep"},
      {"insertion inside a deletion",
       "<w:p><w:del " + ins + "><w:ins " + ins +
           "><w:r><w:delText>x</w:delText></w:r></w:ins></w:del><w:r><w:t>y</w:t></w:r></w:p>",
       "y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DocxParts parts;
    parts.body = c.body;
    auto d = Document::open(make_docx(parts));
    d.accept_all_revisions();
    auto again = reopen(d);
    EXPECT_EQ(again.text("word/document.xml"), c.text);
    Xml doc = part(again, "word/document.xml");
    for (const char* x : {"//w:ins", "//w:del", "//w:moveFrom", "//w:moveTo", "//w:rPrChange",
                          "//w:moveFromRangeStart", "//w:delText"})
      EXPECT_EQ(doc.count(x), 0u) << x;
  }
  // The surviving paragraph of a join keeps its own properties.
  DocxParts parts;
  parts.body = cases[3].body;
  auto d = Document::open(make_docx(parts));
  d.accept_all_revisions();
  EXPECT_EQ(part(d, "word/document.xml").value("//w:p/w:pPr/w:jc/@w:val"), "center");
}

TEST(DocxRevisions, AcceptAllReachesHeaders) {
  DocxParts parts;
  parts.body = "<w:sectPr><w:headerReference w:type=\"default\" r:id=\"rId7\"/></w:sectPr>";
  parts.extra = {
      {"word/header1.xml",
       std::string("<w:hdr ") + testing::kWordNamespaces +
           "><w:p><w:ins w:id=\"3\" w:author=\"a\"><w:r><w:t>H</w:t></w:r></w:ins><w:del "
           "w:id=\"4\" w:author=\"a\"><w:r><w:delText>D</w:delText></w:r></w:del></w:p></"
           "w:hdr>"}};
  parts.extra_rels = {
      "<Relationship Id=\"rId7\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "relationships/header\" Target=\"header1.xml\"/>"};
  auto d = Document::open(make_docx(parts));
  d.accept_all_revisions();
  auto again = reopen(d);
  EXPECT_EQ(again.text("word/header1.xml"), "H");
}

TEST(DocxRevisions, TrackedTypingCarriesAuthorDateAndFormatting) {
  DocxParts parts;
  parts.body =
      "<w:p><w:ins w:id=\"7\" "
      "w:author=\"x\"><w:r><w:rPr><w:b/></w:rPr><w:t>A</w:t></w:r></w:ins></w:p>";
  auto d = Document::open(make_docx(parts));
  Revision rev{"张三", "2024-05-06T07:08:09Z"};
  Position at{d.main_part(), 0, Position::kEnd};
  at = d.insert_text(at, "B", &rev);
  d.insert_text(at, "C", nullptr);
  auto again = reopen(d);
  Xml doc = part(again, "word/document.xml");
  EXPECT_EQ(again.text("word/document.xml"), "ABC");
  EXPECT_EQ(doc.value("(//w:ins)[2]/@w:author"), "张三");
  EXPECT_EQ(doc.value("(//w:ins)[2]/@w:date"), "2024-05-06T07:08:09Z");
  EXPECT_EQ(doc.value("(//w:ins)[2]/@w:id"), "8");
  EXPECT_EQ(doc.count("//w:r[w:rPr/w:b]"), 3u);
}

TEST(DocxRevisions, DeletionSplitsRunsAndIsMarkedWhenTracked) {
  DocxParts parts;
  parts.body =
      "<w:p><w:r><w:rPr><w:b/></w:rPr><w:t>季度报告</w:t></w:r><w:r><w:t xml:space=\"preserve\"> "
      "draft</w:t></w:r><w:del w:id=\"3\" w:author=\"x\"><w:r><w:delText>old</w:delText></w:r>"
      "</w:del><w:r><w:tab/></w:r><w:r><w:t>end</w:t></w:r></w:p>";
  struct Case {
    std::size_t first, count;
    bool tracked;
    std::size_t deleted;
    std::string text, gone;  // the text after; the text newly marked deleted
    std::size_t tabs;        // tabs newly marked deleted
  };
  // Characters count in code points; deleted text of earlier revisions does
  // not count; a tab is taken only whole.
  for (const Case& k : {Case{2, 4, true, 4, "季度raft\tend", "报告 d", 0},
                        Case{0, 2, false, 2, "报告 draft\tend", "", 0},
                        Case{8, 4, true, 4, "季度报告 drand", "fte", 1},
                        Case{10, 1, true, 1, "季度报告 draftend", "", 1},
                        Case{20, 3, true, 0, "季度报告 draft\tend", "", 0}}) {
    auto d = Document::open(make_docx(parts));
    Revision rev{"李四", "2024-05-06T07:08:09Z"};
    EXPECT_EQ(d.delete_text(d.main_part(), 0, k.first, k.count, k.tracked ? &rev : nullptr),
              k.deleted);
    auto again = reopen(d);
    Xml doc = part(again, "word/document.xml");
    EXPECT_EQ(again.text("word/document.xml"), k.text) << k.first;
    std::string gone;
    for (auto n : doc.doc.select_nodes("//w:del[@w:author='李四']//w:delText"))
      gone += n.node().text().get();
    EXPECT_EQ(gone, k.gone) << k.first;
    EXPECT_EQ(doc.count("//w:del[@w:author='李四']//w:tab"), k.tabs) << k.first;
    EXPECT_EQ(doc.count("//w:del[@w:author='x']"), 1u);
  }
  // The bold run's formatting stays on each of its pieces.
  auto d = Document::open(make_docx(parts));
  Revision rev{"李四", "2024-05-06T07:08:09Z"};
  d.delete_text(d.main_part(), 0, 1, 2, &rev);
  EXPECT_EQ(part(d, "word/document.xml").count("//w:r[w:rPr/w:b]"), 3u);
}

TEST(DocxProtection, HashMatchesPublishedVectors) {
  EXPECT_EQ(legacy_password_key("password"), 0x147A83AFu);
  EXPECT_EQ(legacy_password_key("kvq"), 0x6B4FCCCEu);
  EXPECT_EQ(legacy_password_key(""), 0u);
  std::string salt16;
  for (char i = 0; i < 16; ++i) salt16.push_back(i);
  struct Case {
    const char* password;
    std::string salt;
    HashAlgorithm alg;
    std::uint32_t spin;
    const char* hash;
  } cases[] = {
      {"kvq", salt16, HashAlgorithm::sha512, 100000,
       "93AiZ3wBlW6UVkn89+pw1VDzvqLYeTghTx+IURDAbKiTijgaXECpl3hY8lO+BcYESwJKQAc1MRJlWsuhFNKtDA=="},
      {"kvq", salt16, HashAlgorithm::sha1, 50000, "DDeEmJ2y8rrq6/si7UYbe1GslJQ="},
      {"johnjohn", base64_decode("pH1TDVHSfGBxkd3Q88UNhQ=="), HashAlgorithm::sha512, 100000,
       "pVjR9ktO9vlxijXcMPlH+4PLwD4Xwy1aqbNQOFmWaSpvBjipNh//T8S3nBhq6HRoRVfWL6s/+NdUCPTxUr0vZw=="},
  };
  for (const auto& c : cases)
    EXPECT_EQ(base64_encode(protection_hash(c.password, c.salt, c.alg, c.spin)), c.hash)
        << c.password;
}

TEST(DocxProtection, ProtectForCommentsThenLiftWithThePasswordOnly) {
  auto d = Document::open(make_docx());
  d.protect(ProtectionType::comments, "kvq");
  auto again = reopen(d);
  Xml s = part(again, "word/settings.xml");
  EXPECT_EQ(s.value("//w:documentProtection/@w:edit"), "comments");
  EXPECT_EQ(s.value("//w:documentProtection/@w:enforcement"), "1");
  EXPECT_EQ(s.value("//w:documentProtection/@w:cryptAlgorithmSid"), "14");
  EXPECT_EQ(s.value("//w:documentProtection/@w:cryptSpinCount"), "100000");
  EXPECT_EQ(
      s.value("//w:documentProtection/@w:hash"),
      base64_encode(protection_hash("kvq", base64_decode(s.value("//w:documentProtection/@w:salt")),
                                    HashAlgorithm::sha512, 100000)));
  EXPECT_EQ(again.protection(), ProtectionType::comments);

  Position at{again.main_part(), 0, Position::kEnd};
  EXPECT_EQ(error_of([&] { again.insert_text(at, "x", nullptr); }), Errc::protected_doc);
  EXPECT_EQ(error_of([&] { again.accept_all_revisions(); }), Errc::protected_doc);
  EXPECT_EQ(error_of([&] { again.protect(ProtectionType::comments, "kvq"); }), Errc::protected_doc);
  EXPECT_EQ(error_of([&] { again.unprotect("KVQ"); }), Errc::bad_password);
  EXPECT_TRUE(again.is_protected());
  again.unprotect("kvq");
  auto lifted = reopen(again);
  EXPECT_FALSE(lifted.is_protected());
  EXPECT_EQ(part(lifted, "word/settings.xml").count("//w:documentProtection"), 0u);
  EXPECT_NO_THROW(lifted.unprotect("anything"));
}

TEST(DocxProtection, LiftsProtectionWrittenByOtherProgramsAndOlderForms) {
  struct Case {
    const char* settings;
    const char* password;
    bool lifts;
  } cases[] = {
      {"<w:documentProtection w:edit=\"readOnly\" w:enforcement=\"1\" "
       "w:cryptProviderType=\"rsaAES\" "
       "w:cryptAlgorithmClass=\"hash\" w:cryptAlgorithmType=\"typeAny\" w:cryptAlgorithmSid=\"14\" "
       "w:cryptSpinCount=\"100000\" "
       "w:hash=\"pVjR9ktO9vlxijXcMPlH+4PLwD4Xwy1aqbNQOFmWaSpvBjipNh//T8S3nBhq6HRoRVfWL6s/"
       "+NdUCPTxUr0vZw==\" "
       "w:salt=\"pH1TDVHSfGBxkd3Q88UNhQ==\"/>",
       "johnjohn", true},
      {"<w:documentProtection w:edit=\"readOnly\" w:enforcement=\"1\" w:algorithmName=\"SHA-1\" "
       "w:spinCount=\"50000\" w:hashValue=\"DDeEmJ2y8rrq6/si7UYbe1GslJQ=\" "
       "w:saltValue=\"AAECAwQFBgcICQoLDA0ODw==\"/>",
       "kvq", true},
      {"<w:documentProtection w:edit=\"readOnly\" w:enforcement=\"1\" w:algorithmName=\"SHA-1\" "
       "w:spinCount=\"50000\" w:hashValue=\"DDeEmJ2y8rrq6/si7UYbe1GslJQ=\" "
       "w:saltValue=\"AAECAwQFBgcICQoLDA0ODw==\"/>",
       "kvQ", false},
      {"<w:documentProtection w:edit=\"comments\"/>", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    DocxParts parts;
    parts.settings = c.settings;
    auto d = Document::open(make_docx(parts));
    EXPECT_TRUE(d.is_protected());
    if (c.lifts) {
      d.unprotect(c.password);
      EXPECT_FALSE(reopen(d).is_protected());
    } else {
      EXPECT_EQ(error_of([&] { d.unprotect(c.password); }), Errc::bad_password);
    }
  }
}

TEST(DocxHeaders, PageNumbersGoToThePrimaryHeaderOncePerCall) {
  auto d = Document::open(make_docx());
  d.add_page_number(0, 1, true);
  d.add_page_number(0, 1, true);
  auto again = reopen(d);
  std::string header = again.header_part(0, Story::header, HeaderType::primary, false);
  ASSERT_EQ(header, "word/header1.xml");
  Xml h = part(again, header);
  EXPECT_EQ(h.count("//w:p[w:pPr/w:jc/@w:val='center']/w:fldSimple[@w:instr=' PAGE ']"), 2u);
  Xml doc = part(again, "word/document.xml");
  EXPECT_EQ(std::string(doc.doc.select_node("//w:body/w:sectPr/*[1]").node().name()),
            "w:headerReference");
  EXPECT_EQ(doc.value("//w:headerReference/@w:type"), "default");
  Xml types = part(again, "[Content_Types].xml");
  EXPECT_EQ(types.count("//*[@PartName='/word/header1.xml' and "
                        "@ContentType='application/"
                        "vnd.openxmlformats-officedocument.wordprocessingml.header+xml']"),
            1u);
}

TEST(DocxHeaders, PageNumbersUseTheHeaderASectionHasOrInherits) {
  DocxParts parts;
  parts.body =
      "<w:p><w:pPr><w:sectPr><w:headerReference w:type=\"default\" r:id=\"rId7\"/><w:titlePg/>"
      "</w:sectPr></w:pPr></w:p><w:p/><w:sectPr><w:titlePg/></w:sectPr>";
  parts.extra = {{"word/header1.xml", std::string("<w:hdr ") + testing::kWordNamespaces +
                                          "><w:p><w:r><w:t>Letterhead</w:t></w:r></w:p></w:hdr>"}};
  parts.extra_rels = {
      "<Relationship Id=\"rId7\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "relationships/header\" Target=\"header1.xml\"/>"};
  auto d = Document::open(make_docx(parts));
  ASSERT_EQ(d.section_count(), 2u);
  EXPECT_EQ(d.section_of({d.main_part(), 1, 0}), 1u);
  d.add_page_number(1, 1, true);  // second section: inherits header1, has a first page
  auto again = reopen(d);
  EXPECT_EQ(again.text("word/header1.xml"), "Letterhead\n1");
  std::string first = again.header_part(1, Story::header, HeaderType::first, false);
  ASSERT_EQ(first, "word/header2.xml");
  EXPECT_EQ(again.text(first), "1");  // a new header holds just the number
  EXPECT_EQ(again.header_part(0, Story::header, HeaderType::first, false), "");
}

TEST(DocxPictures, SizeComesFromTheFileHeader) {
  std::string gif = "GIF89a";
  gif += std::string("\x30\x00\x18\x00", 4) + std::string(8, '\0');
  std::string bmp =
      "BM" + std::string(12, '\0') + std::string("\x28\0\0\0\x10\0\0\0\xf0\xff\xff\xff", 12) +
      std::string(12, '\0') + std::string("\x13\x0b\0\0\x13\x0b\0\0", 8) + std::string(8, '\0');
  struct Case {
    const char* what;
    std::string bytes;
    const char* ext;
    int width, height;
    double dpi;
  } cases[] = {
      {"jpeg", testing::read_file(testing::test_data("sig.jpg")), "jpeg", 48, 24, 96},
      {"png with 144 dpi", testing::read_file(testing::test_data("sig.png")), "png", 48, 24, 144},
      {"gif", gif, "gif", 48, 24, 96},
      {"bmp stored top-down", bmp, "bmp", 16, 16, 72},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto p = read_picture(c.bytes);
    EXPECT_EQ(p.ext, c.ext);
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_NEAR(p.dpi_x, c.dpi, 0.5);
  }
  EXPECT_EQ(error_of([] { read_picture("<svg/>"); }), Errc::unsupported);
  EXPECT_EQ(error_of([] { read_picture("\xff\xd8\xff\xd9 no frame"); }), Errc::unsupported);
}

TEST(DocxPictures, InlinePictureBecomesAFloatingShapeInFrontOfText) {
  DocxParts parts;
  parts.body =
      "<w:p><w:r><w:drawing><wp:inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\"><wp:extent "
      "cx=\"100\" cy=\"100\"/><wp:docPr id=\"4\" name=\"old\"/><a:graphic "
      "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"/></wp:inline></w:drawing>"
      "</w:r></w:p><w:p><w:r><w:t>sign here</w:t></w:r></w:p>";
  auto d = Document::open(make_docx(parts));
  auto pic = read_picture(testing::read_file(testing::test_data("sig.png")));
  d.insert_picture({d.main_part(), 1, Position::kEnd}, pic, nullptr);
  ASSERT_EQ(d.inline_shape_count(), 2u);
  for (std::size_t i = d.inline_shape_count(); i-- > 0;) d.convert_inline_shape(i);
  auto again = reopen(d);

  EXPECT_EQ(again.part_bytes("word/media/image1.png"), pic.bytes);
  Xml doc = part(again, "word/document.xml");
  EXPECT_EQ(doc.count("//wp:inline"), 0u);
  EXPECT_EQ(
      doc.count(
          "//wp:anchor[@behindDoc='0' and wp:wrapNone and wp:simplePos and "
          "wp:positionH[@relativeFrom='column'] and wp:positionV[@relativeFrom='paragraph']]"),
      2u);
  EXPECT_EQ(doc.value("(//wp:anchor)[2]/wp:extent/@cx"), "304800");  // 48 px at 144 dpi
  EXPECT_EQ(doc.value("(//wp:anchor)[2]/wp:docPr/@id"), "5");
  EXPECT_NE(doc.value("(//wp:anchor)[1]/@relativeHeight"),
            doc.value("(//wp:anchor)[2]/@relativeHeight"));
  std::string rid = doc.value("//a:blip/@r:embed");
  Xml rels = part(again, "word/_rels/document.xml.rels");
  EXPECT_EQ(rels.count(("//*[@Id='" + rid + "' and @Target='media/image1.png']").c_str()), 1u);
  EXPECT_EQ(part(again, "[Content_Types].xml").count("//*[@Extension='png']"), 1u);
  EXPECT_EQ(again.text("word/document.xml"), "\nsign here");
}

TEST(DocxPageSetup, SetsPaperAndMarginsInSchemaOrder) {
  DocxParts parts;
  parts.body =
      "<w:sectPr><w:headerReference w:type=\"default\" r:id=\"rId7\"/><w:cols/></w:sectPr>";
  auto d = Document::open(make_docx(parts));
  EXPECT_EQ(d.page_setup(0), PageSetup{});
  PageSetup a4{16838, 11906, true, 1000, 1000, 1200, 1200};
  d.set_page_setup(0, a4);
  auto again = reopen(d);
  EXPECT_EQ(again.page_setup(0), a4);
  Xml doc = part(again, "word/document.xml");
  std::string order;
  for (auto n : doc.doc.select_node("//w:sectPr").node().children())
    order += std::string(n.name()) + " ";
  EXPECT_EQ(order, "w:headerReference w:pgSz w:pgMar w:cols ");
  EXPECT_EQ(doc.value("//w:pgMar/@w:gutter"), "0");
  EXPECT_EQ(error_of([&] {
              again.set_page_setup(0, {1000, 1000, false, 0, 0, 0, 0});
            }),
            Errc::unsupported);
}

}  // namespace
}  // namespace desk::docx
