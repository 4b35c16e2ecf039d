#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// JSON for the record lines and the command line's output. Text is taken as UTF-8: valid
// sequences pass through as they are, any other byte becomes U+FFFD, so that one stray byte a
// machine answered never makes a whole line unreadable to a JSON parser.
namespace loadwing {

// The text as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

// Builds one JSON object on one line, fields in the order they are added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view value);
  JsonObject& Add(std::string_view key, const char* value) {
    return Add(key, std::string_view(value));
  }
  JsonObject& Add(std::string_view key, const std::string& value) {
    return Add(key, std::string_view(value));
  }
  JsonObject& Add(std::string_view key, std::int64_t value);
  JsonObject& Add(std::string_view key, int value) {
    return Add(key, static_cast<std::int64_t>(value));
  }
  JsonObject& Add(std::string_view key, std::uint32_t value) {
    return Add(key, static_cast<std::int64_t>(value));
  }
  JsonObject& Add(std::string_view key, double value);
  JsonObject& Add(std::string_view key, bool value);
  // A value that is already JSON (an array or object).
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  std::string str() const { return body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_ = "{";
};

// Builds one JSON array on one line.
class JsonArray {
 public:
  JsonArray& Add(std::string_view value);
  JsonArray& Add(std::int64_t value);
  // A value that is already JSON (an object, say).
  JsonArray& AddRaw(std::string_view json);
  std::string str() const { return body_ + "]"; }

 private:
  void Next();
  std::string body_ = "[";
};

// One parsed JSON object whose fields are read by name. Each accessor gives nullopt for a field
// that is missing or of another type, so that a reader decides what it can do without.
class JsonFields {
 public:
  // nullopt for text that is no JSON object or has bytes after it. The parser keeps its own
  // stack, so that nesting in hostile text cannot exhaust the program's.
  static std::optional<JsonFields> Parse(std::string_view text);

  bool Has(std::string_view key) const;
  std::optional<std::string> String(std::string_view key) const;
  std::optional<std::uint64_t> Unsigned(std::string_view key) const;
  std::optional<double> Number(std::string_view key) const;
  std::optional<JsonFields> Object(std::string_view key) const;

  struct Value;

 private:
  explicit JsonFields(std::shared_ptr<const Value> value) : value_(std::move(value)) {}
  std::shared_ptr<const Value> value_;
};

}  // namespace loadwing
