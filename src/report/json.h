// JSON text built as values are added: the separators put in, names and
// strings quoted, numbers written with the digits that read back to the
// same double (a non-finite number as null).
#pragma once

#include <cctype>
#include <cstdint>
#include <string>

#include "report/checks/records.h"
#include "report/report.h"

namespace malha::report {

class Json {
 public:
  void open(const std::string& key, char bracket) {
    name(key);
    out_ += bracket;
    first_ = true;
  }
  void close(char bracket) {
    out_ += bracket;
    first_ = false;
  }
  void raw(const std::string& key, const std::string& value) {
    name(key);
    out_ += value;
    first_ = false;
  }
  void number(const std::string& key, double v) { raw(key, exact_number(v)); }
  void integer(const std::string& key, std::int64_t v) { raw(key, std::to_string(v)); }
  void string(const std::string& key, const std::string& v) { raw(key, quote(v)); }
  void boolean(const std::string& key, bool v) { raw(key, v ? "true" : "false"); }
  const std::string& text() const { return out_; }

  // A JSON string, valid UTF-8 whatever `s` holds: a byte that is not part
  // of a valid UTF-8 sequence becomes the text \xNN (as messages show it).
  static std::string quote(const std::string& s) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string q = "\"";
    for (std::size_t k = 0; k < s.size();) {
      const auto c = static_cast<unsigned char>(s[k]);
      const std::size_t length = utf8_length(s, k);
      if (length == 0) {
        q += "\\\\x";
        q += static_cast<char>(std::toupper(kHex[c >> 4]));
        q += static_cast<char>(std::toupper(kHex[c & 0xF]));
      } else if (c == '"' || c == '\\') {
        q += '\\';
        q += static_cast<char>(c);
      } else if (c < 0x20) {
        q += "\\u00";
        q += kHex[c >> 4];
        q += kHex[c & 0xF];
      } else {
        q.append(s, k, length);
      }
      k += length == 0 ? 1 : length;
    }
    return q + "\"";
  }

 private:
  void name(const std::string& key) {
    if (!first_) out_ += ",";
    first_ = false;
    if (!key.empty()) out_ += quote(key) + ":";
  }
  std::string out_;
  bool first_ = true;
};

}  // namespace malha::report
