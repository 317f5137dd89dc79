#include "app/Json.h"

#include "show/TextNumbers.h"

namespace orvex {

std::string JsonString(const std::string& s) {
  static const char* kHex = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::Raw(const char* key, const std::string& json) {
  if (text_.size() > 1) text_ += ", ";
  text_ += JsonString(key) + ": " + json;
  return *this;
}

JsonObject& JsonObject::Add(const char* key, const std::string& value) {
  return Raw(key, JsonString(value));
}
JsonObject& JsonObject::Add(const char* key, double value) {
  return Raw(key, FormatExact(value));
}
JsonObject& JsonObject::Add(const char* key, int64_t value) {
  return Raw(key, std::to_string(value));
}
JsonObject& JsonObject::Add(const char* key, bool value) {
  return Raw(key, value ? "true" : "false");
}

}  // namespace orvex
