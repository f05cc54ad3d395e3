// The page's text messages: commands it sends, checked strictly, and the JSON the server
// sends it, escaped and always valid UTF-8.
#include <gtest/gtest.h>

#include "net/page/JsonText.h"
#include "net/page/PageCommand.h"

namespace {

TEST(PageCommand, OneWordAndArgumentsSeparatedBySingleSpaces) {
  struct Case {
    std::string_view text;
    std::vector<std::string_view> parts;  // word first; none when refused
  };
  const std::string longest = "w " + std::string(kLongestPageCommand - 2, 'a');
  const std::string tooLong = longest + "a";
  const Case cases[] = {
      {"media next", {"media", "next"}},
      {"answer 0123 abcd", {"answer", "0123", "abcd"}},
      {"ping", {"ping"}},
      {longest, {"w", std::string_view(longest).substr(2)}},
      {tooLong, {}},
      {"", {}},
      {" media", {}},
      {"media ", {}},
      {"media  next", {}},
      {"media\tnext", {}},
      {"media\nnext", {}},
      {std::string_view("media\0next", 10), {}},
      {"caf\xc3\xa9", {}},
      {"media \x7f", {}},
  };
  for (const Case& c : cases) {
    const std::optional<PageCommand> command = ParsePageCommand(c.text);
    if (c.parts.empty()) {
      EXPECT_FALSE(command) << c.text;
      continue;
    }
    ASSERT_TRUE(command) << c.text;
    std::vector<std::string_view> parts{command->word};
    parts.insert(parts.end(), command->arguments.begin(), command->arguments.end());
    EXPECT_EQ(parts, c.parts) << c.text;
  }
}

TEST(PageCommand, HexArgumentsHaveTheirExactLength) {
  EXPECT_TRUE(IsLowerHex("0123456789abcdef", 16));
  for (const char* bad :
       {"0123456789abcde", "0123456789abcdef0", "0123456789ABCDEF", "0123456789abcdeg", ""}) {
    EXPECT_FALSE(IsLowerHex(bad, 16)) << bad;
  }
}

TEST(JsonText, StringsAreEscapedAndBrokenUtf8IsReplaced) {
  struct Case {
    std::string_view text;
    std::string_view json;
  };
  const Case cases[] = {
      {"plain", R"("plain")"},
      {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
      {"line\nbreak\ttab", R"("line\u000abreak\u0009tab")"},
      {std::string_view("nul\0here", 8), R"("nul\u0000here")"},
      {"</script>&", R"("\u003c/script\u003e\u0026")"},
      {"Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x8a",
       "\"Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x8a\""},
      {"bad \xff end", R"("bad \ufffd end")"},
      {"cut \xe2\x82", R"("cut \ufffd\ufffd")"},
      {"overlong \xc0\xaf", R"("overlong \ufffd\ufffd")"},
      {"surrogate \xed\xa0\x80", R"("surrogate \ufffd\ufffd\ufffd")"},
      {"too high \xf4\x90\x80\x80", R"("too high \ufffd\ufffd\ufffd\ufffd")"},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST(JsonText, ObjectsOfEveryKind) {
  EXPECT_EQ(JsonObject().Text(), "{}");
  EXPECT_EQ(JsonObject()
                .Add("type", "media")
                .Add("count", 3)
                .Add("big", int64_t{1} << 40)
                .Add("on", true)
                .AddRaw("list", "[1,2]")
                .Text(),
            R"({"type":"media","count":3,"big":1099511627776,"on":true,"list":[1,2]})");
}

}  // namespace
