// JSON strings, checked by an independent JSON parser: every literal must parse, texts must come back as
// written, and file names of any bytes must come back through the documented reverse.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <random>
#include <string>

#include "text/json_string.h"
#include "text/utf8.h"

namespace {

// Parses the literal inside a document, so a literal that breaks out of its quotes fails too.
std::optional<std::string> parsedValue(const std::string& literal) {
  const std::string document = "{\"value\": " + literal + ", \"after\": 1}";
  const nlohmann::json parsed = nlohmann::json::parse(document, nullptr, false);
  if (parsed.is_discarded() || !parsed["value"].is_string() || parsed["after"] != 1) return std::nullopt;
  return parsed["value"].get<std::string>();
}

TEST(JsonString, TextsComeBackAsWritten) {
  const std::string texts[] = {
      "",
      "plain ASCII",
      "quote \" and backslash \\ and slash /",
      "line\nfeed, tab\t, return\r",
      std::string("NUL \0 inside", 12),
      "group\x1D" "separator and DEL \x7F",
      "Grüße € 日本 😀",
      "line separator \xE2\x80\xA8 and paragraph separator \xE2\x80\xA9",
      "c1 control \xC2\x85",
      "\\u0041 is not an escape here",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const std::string literal = jsonString(text);
    EXPECT_TRUE(isValidUtf8(literal));
    EXPECT_EQ(parsedValue(literal), text) << literal;
  }
}

TEST(JsonString, BrokenUtf8StaysValidJson) {
  const struct {
    const char* name;
    std::string text;
    std::string value;
  } cases[] = {
      {"latin-1 byte", "caf\xE9", "caf\xEF\xBF\xBD"},
      {"lone continuation byte", "a\x80" "b", "a\xEF\xBF\xBD" "b"},
      {"cut sequence at the end", "a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"encoded surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(isValidUtf8(c.text));
    EXPECT_EQ(parsedValue(jsonString(c.text)), c.value);
  }
}

TEST(JsonString, FileNamesRoundTrip) {
  const struct {
    const char* name;
    std::string fileName;
    std::string value;  // the parsed JSON value
  } cases[] = {
      {"plain name is its own value", "scans/label 1.png", "scans/label 1.png"},
      {"utf-8 name is its own value", "étiquettes/日本.png", "étiquettes/日本.png"},
      {"quote and newline", "a\"b\nc.png", "a\"b\nc.png"},
      {"backslash is escaped", "a\\b.png", "a\\x5Cb.png"},
      {"latin-1 byte", "caf\xE9.png", "caf\\xE9.png"},
      {"cut utf-8 sequence", "x\xE2\x82", "x\\xE2\\x82"},
      {"overlong and surrogate", "\xC0\xAF\xED\xA0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"},
      {"text that looks like an escape", "\\xFF", "\\x5CxFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> value = parsedValue(jsonFileName(c.fileName));
    ASSERT_TRUE(value.has_value()) << jsonFileName(c.fileName);
    EXPECT_EQ(*value, c.value);
    EXPECT_EQ(fileNameFromJsonValue(*value), c.fileName);
  }
}

// Names of random bytes (every byte but NUL and slash can be in a Linux file name; the escape does not
// care) always make a valid document and always come back.
TEST(JsonString, RandomFileNamesRoundTrip) {
  std::mt19937 random(1818);
  for (int trial = 0; trial < 5000; ++trial) {
    std::string name(1 + random() % 24, '\0');
    for (char& byte : name) byte = static_cast<char>(random() % 4 == 0 ? 0x80 + random() % 128 : random() % 256);
    const std::optional<std::string> value = parsedValue(jsonFileName(name));
    ASSERT_TRUE(value.has_value()) << "trial " << trial;
    ASSERT_EQ(fileNameFromJsonValue(*value), name) << "trial " << trial;
  }
}

TEST(JsonString, RefusesMalformedFileNameValues) {
  for (const char* value : {"a\\", "a\\x4", "a\\y41", "a\\xG1", "\\\\"}) {
    SCOPED_TRACE(value);
    EXPECT_FALSE(fileNameFromJsonValue(value).has_value());
  }
  EXPECT_EQ(fileNameFromJsonValue("a\\x41\\x5c"), "aA\\");
}

}  // namespace
