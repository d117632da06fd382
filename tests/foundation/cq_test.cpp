// CQ code: escaping, walking a message into runs and codes, reading codes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/cq.h"

namespace {

// Pieces as "T:text" and "C:inside", joined with "|".
std::string shape(std::string_view message) {
  std::string s;
  for (const CqPiece& p : cq_split(message)) s += (s.empty() ? "" : "|") + std::string(p.isCode ? "C:" : "T:") + p.text;
  return s;
}

TEST(Cq, EscapesExactlyFourCharacters) {
  EXPECT_EQ(cq_escape("a,b[c]&d"), "a&#44;b&#91;c&#93;&amp;d");
  EXPECT_EQ(cq_escape(""), "");
  EXPECT_EQ(cq_escape("#;= \xC4\xE3"), "#;= \xC4\xE3");
  EXPECT_EQ(cq_unescape("&amp;&#91;&#93;&#44;&#32;&#33;&amp"), "&[], &#33;&amp");
  EXPECT_EQ(cq_unescape("&amp;#91;"), "&#91;") << "one pass: an escaped entity stays an entity";
}

TEST(Cq, SplitsAMessageIntoRunsAndCodes) {
  const struct {
    const char* message;
    const char* pieces;
  } cases[] = {
      {"hello", "T:hello"},
      {"", ""},
      {"[CQ:face,id=14] hi", "C:face,id=14|T: hi"},
      {"a[CQ:at,qq=1][CQ:image,file=x]b", "T:a|C:at,qq=1|C:image,file=x|T:b"},
      {"x &#91;y&#93; [CQ:json,data=&#91;1&#93;]", "T:x [y] |C:json,data=&#91;1&#93;"},  // escaped ] does not end it
      {"before [CQ:image,file=cut", "T:before [CQ:image,file=cut"},                      // no "]": text
      {"[CQ:a][CQ:b", "C:a|T:[CQ:b"},
      {"[cq:lower]", "T:[cq:lower]"},
      {"[CQ:]", "C:"},
      {"]][CQ:x]]", "T:]]|C:x|T:]"},
  };
  for (const auto& c : cases) EXPECT_EQ(shape(c.message), c.pieces) << c.message;
}

TEST(Cq, ReadsTypeAndPairs) {
  CqCode c = cq_read_code("image,file=a&#44;b.png,broken,url=http://x/?a=1");
  EXPECT_EQ(c.type, "image");
  ASSERT_EQ(c.params.size(), 2u);
  EXPECT_EQ(*c.get("file"), "a,b.png");
  EXPECT_EQ(*c.get("url"), "http://x/?a=1") << "only the first = splits";
  EXPECT_EQ(c.get("broken"), nullptr) << "a pair without = is skipped";
  EXPECT_EQ(cq_read_code(std::string(40, 't')).type.size(), 31u);
  CqCode many = cq_read_code("at,a=1,b=2,c=3", 2);
  EXPECT_EQ(many.params.size(), 2u);
  EXPECT_EQ(many.dropped, 1);
  EXPECT_EQ(cq_write("music", {{"type", "custom"}, {"title", "a,b[c]"}}),
            "[CQ:music,type=custom,title=a&#44;b&#91;c&#93;]");
  EXPECT_EQ(cq_write("dice", {}), "[CQ:dice]");
}

// Escaped text is one text run that comes back whole, whatever it holds.
TEST(Cq, EscapedTextRoundTrips) {
  const std::string alphabet = "&[],#;=: aC Q\xC4\xE3";
  std::mt19937 rng(20261211);
  for (int i = 0; i < 2000; ++i) {
    std::string text;
    for (int n = static_cast<int>(rng() % 24); n > 0; --n) text += alphabet[rng() % alphabet.size()];
    if (i % 7 == 0) text += "[CQ:face,id=1]&#91;";
    const std::string escaped = cq_escape(text);
    ASSERT_EQ(cq_unescape(escaped), text);
    const std::vector<CqPiece> back = cq_split(escaped);
    if (text.empty()) {
      EXPECT_TRUE(back.empty());
    } else {
      ASSERT_EQ(back.size(), 1u) << text;
      EXPECT_FALSE(back[0].isCode);
      EXPECT_EQ(back[0].text, text);
    }
    // And as a value inside a code.
    const std::vector<CqPiece> written = cq_split(cq_write("t", {{"v", text}}));
    ASSERT_EQ(written.size(), 1u);
    ASSERT_TRUE(written[0].isCode);
    const CqCode code = cq_read_code(written[0].text);
    ASSERT_EQ(code.params.size(), 1u);
    EXPECT_EQ(code.params[0].second, text);
  }
}

}  // namespace
