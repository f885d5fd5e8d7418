// A small JSON reader for published test-vector files: objects, arrays,
// strings (with the common escapes), numbers, booleans and null.
#ifndef KVCATOOL_TESTS_SUPPORT_JSON_H
#define KVCATOOL_TESTS_SUPPORT_JSON_H

#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json& operator[](const std::string& key) const {
    static const Json none;
    auto it = members.find(key);
    return it == members.end() ? none : it->second;
  }
  bool Has(const std::string& key) const { return members.count(key) != 0; }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}
  Json Parse() {
    Json v = Value();
    Space();
    if (i_ != s_.size()) throw std::runtime_error("trailing characters in JSON");
    return v;
  }

 private:
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  char Peek() {
    Space();
    if (i_ >= s_.size()) throw std::runtime_error("unexpected end of JSON");
    return s_[i_];
  }
  void Expect(char c) {
    if (Peek() != c) throw std::runtime_error(std::string("expected ") + c);
    ++i_;
  }
  Json Value() {
    char c = Peek();
    Json v;
    if (c == '{') {
      v.kind = Json::Object;
      ++i_;
      if (Peek() == '}') return ++i_, v;
      for (;;) {
        std::string key = StringValue();
        Expect(':');
        v.members[key] = Value();
        if (Peek() == ',') {
          ++i_;
          continue;
        }
        Expect('}');
        return v;
      }
    }
    if (c == '[') {
      v.kind = Json::Array;
      ++i_;
      if (Peek() == ']') return ++i_, v;
      for (;;) {
        v.items.push_back(Value());
        if (Peek() == ',') {
          ++i_;
          continue;
        }
        Expect(']');
        return v;
      }
    }
    if (c == '"') {
      v.kind = Json::String;
      v.text = StringValue();
      return v;
    }
    if (s_.compare(i_, 4, "true") == 0) return i_ += 4, v.kind = Json::Bool, v.boolean = true, v;
    if (s_.compare(i_, 5, "false") == 0) return i_ += 5, v.kind = Json::Bool, v;
    if (s_.compare(i_, 4, "null") == 0) return i_ += 4, v;
    char* end = nullptr;
    v.kind = Json::Number;
    v.number = std::strtod(s_.c_str() + i_, &end);
    if (end == s_.c_str() + i_) throw std::runtime_error("bad JSON value");
    i_ = static_cast<size_t>(end - s_.c_str());
    return v;
  }
  std::string StringValue() {
    Expect('"');
    std::string out;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c == '\\' && i_ < s_.size()) {
        char e = s_[i_++];
        switch (e) {
          case 'n': out += '\n'; break;
          case 't': out += '\t'; break;
          case 'r': out += '\r'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'u': {
            unsigned code = static_cast<unsigned>(std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16));
            i_ += 4;
            if (code < 0x80) {
              out += static_cast<char>(code);
            } else if (code < 0x800) {
              out += static_cast<char>(0xC0 | (code >> 6));
              out += static_cast<char>(0x80 | (code & 0x3F));
            } else {
              out += static_cast<char>(0xE0 | (code >> 12));
              out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
              out += static_cast<char>(0x80 | (code & 0x3F));
            }
            break;
          }
          default: out += e;
        }
      } else {
        out += c;
      }
    }
    Expect('"');
    return out;
  }
  const std::string& s_;
  size_t i_ = 0;
};

}  // namespace testsupport

#endif
