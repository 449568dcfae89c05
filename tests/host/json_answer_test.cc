// The site's JSON answers: what a reader gets back is what was put in,
// whatever the text holds, and no answer carries a '<', '>' or '&' a
// browser could take for markup.
#include "host/serve/json_answer.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

namespace zelto::testing {
namespace {

namespace json = boost::json;

TEST(JsonAnswerTest, ReadsBackAsWrittenAndHoldsNoMarkup) {
  const std::string hostile = "'\"></script><b onmouseover=alert(1)>&amp;\\\n\t\x01\x7f 王芳";
  const json::value answer = json::object{{"name", hostile},
                                          {"id", 12},
                                          {"online", true},
                                          {"messages", json::array{"<i>", "a&b", ""}},
                                          {"cid", -1}};
  const std::string text = serve::JsonAnswer(answer);
  EXPECT_EQ(text.find_first_of("<>&"), std::string::npos) << text;
  EXPECT_EQ(json::parse(text), answer) << text;
  EXPECT_EQ(text.rfind("{\"name\":\"'\\\"\\u003e\\u003c/script\\u003e", 0), 0u)
      << "keys in the order given, '<' as \\u003c: " << text;
  EXPECT_NE(
      text.find("\"id\":12,\"online\":true,\"messages\":[\"\\u003ci\\u003e\",\"a\\u0026b\",\"\"]"),
      std::string::npos)
      << text;
}

TEST(JsonAnswerTest, ErrorsAndBareValues) {
  EXPECT_EQ(serve::JsonError("cid must be a positive integer"),
            "{\"error\":\"cid must be a positive integer\"}");
  EXPECT_EQ(serve::JsonError("<&>"), "{\"error\":\"\\u003c\\u0026\\u003e\"}");
  EXPECT_EQ(serve::JsonAnswer(json::array{}), "[]");
  EXPECT_EQ(serve::JsonAnswer(json::object{{"result", 0}}), "{\"result\":0}");
}

}  // namespace
}  // namespace zelto::testing
