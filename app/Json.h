// A small writer for the JSON objects the command-line tool prints.
#pragma once

#include <cstdint>
#include <string>

namespace orvex {

std::string JsonString(const std::string& utf8);

// Builds one object: JsonObject().Add("a", 1).Add("b", "x").Text()
class JsonObject {
 public:
  JsonObject& Add(const char* key, const std::string& value);
  JsonObject& Add(const char* key, const char* value) { return Add(key, std::string(value)); }
  JsonObject& Add(const char* key, double value);
  JsonObject& Add(const char* key, int64_t value);
  JsonObject& Add(const char* key, int value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(const char* key, uint32_t value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(const char* key, bool value);
  // A value that is JSON already (an array of objects).
  JsonObject& AddJson(const char* key, const std::string& json) { return Raw(key, json); }
  std::string Text() const { return text_ + "}"; }

 private:
  JsonObject& Raw(const char* key, const std::string& json);
  std::string text_ = "{";
};

}  // namespace orvex
