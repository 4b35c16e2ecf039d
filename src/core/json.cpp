#include "core/json.h"

#include <nlohmann/json.hpp>

namespace loadwing {

namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& json) {
  return json.dump(-1, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace);
}

}  // namespace

struct JsonFields::Value {
  Json json;
};

std::string JsonString(std::string_view text) {
  return Dump(Json(std::string(text)));
}

void JsonObject::Key(std::string_view key) {
  if (body_.size() > 1) body_ += ',';
  body_ += JsonString(key);
  body_ += ':';
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value) {
  Key(key);
  body_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::int64_t value) {
  Key(key);
  body_ += Dump(Json(value));
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, double value) {
  Key(key);
  body_ += Dump(Json(value));  // shortest text that reads back the same; null when not finite
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
  Key(key);
  body_ += Dump(Json(value));
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
  Key(key);
  body_ += json;
  return *this;
}

void JsonArray::Next() {
  if (body_.size() > 1) body_ += ',';
}

JsonArray& JsonArray::Add(std::string_view value) {
  Next();
  body_ += JsonString(value);
  return *this;
}

JsonArray& JsonArray::Add(std::int64_t value) {
  Next();
  body_ += Dump(Json(value));
  return *this;
}

JsonArray& JsonArray::AddRaw(std::string_view json) {
  Next();
  body_ += json;
  return *this;
}

std::optional<JsonFields> JsonFields::Parse(std::string_view text) {
  auto value = std::make_shared<Value>();
  value->json = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!value->json.is_object()) return std::nullopt;  // also what a parse error gives
  return JsonFields(std::move(value));
}

bool JsonFields::Has(std::string_view key) const {
  return value_->json.contains(key);
}

std::optional<std::string> JsonFields::String(std::string_view key) const {
  const auto it = value_->json.find(key);
  if (it == value_->json.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<std::uint64_t> JsonFields::Unsigned(std::string_view key) const {
  const auto it = value_->json.find(key);
  if (it == value_->json.end() || !it->is_number_unsigned()) return std::nullopt;
  return it->get<std::uint64_t>();
}

std::optional<double> JsonFields::Number(std::string_view key) const {
  const auto it = value_->json.find(key);
  if (it == value_->json.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

std::optional<JsonFields> JsonFields::Object(std::string_view key) const {
  const auto it = value_->json.find(key);
  if (it == value_->json.end() || !it->is_object()) return std::nullopt;
  return JsonFields(std::make_shared<Value>(Value{*it}));
}

}  // namespace loadwing
