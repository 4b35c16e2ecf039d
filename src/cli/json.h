#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace loadwing::cli {

// The text as a JSON string literal, quotes included. Bytes outside printable ASCII are written
// as \u00XX escapes: status texts can carry whatever the machine answered, and one stray byte
// must not make a whole event line unreadable to a JSON parser.
std::string JsonString(std::string_view text);

// Builds one JSON object on one line, fields in the order they are added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view value);
  JsonObject& Add(std::string_view key, const char* value) {
    return Add(key, std::string_view(value));
  }
  JsonObject& Add(std::string_view key, std::int64_t value);
  JsonObject& Add(std::string_view key, int value) {
    return Add(key, static_cast<std::int64_t>(value));
  }
  JsonObject& Add(std::string_view key, std::uint32_t value) {
    return Add(key, static_cast<std::int64_t>(value));
  }
  JsonObject& Add(std::string_view key, bool value);
  // A value that is already JSON (an array or object).
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  std::string str() const { return body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_ = "{";
};

}  // namespace loadwing::cli
