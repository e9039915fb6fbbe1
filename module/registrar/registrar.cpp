#include "registrar.h"

#include <cctype>

#include "platform/text.h"

namespace vd::registrar {
namespace {

using platform::RegRoot;
using platform::RegValue;
using platform::Result;

struct Token {
  enum class Kind { Word, Quoted, Equals, Open, Close, End } kind = Kind::End;
  std::u16string text;
  int line = 1;
};

class Lexer {
 public:
  explicit Lexer(std::u16string_view text) : text_(text) {}

  bool Next(Token& token, ParseError* error) {
    SkipSpace();
    token = Token{};
    token.line = line_;
    if (pos_ >= text_.size()) return true;
    char16_t c = text_[pos_];
    if (c == u'=') { ++pos_; token.kind = Token::Kind::Equals; return true; }
    if (c == u'{' && !LooksLikeGuid()) { ++pos_; token.kind = Token::Kind::Open; return true; }
    if (c == u'}') { ++pos_; token.kind = Token::Kind::Close; return true; }
    if (c == u'\'') {
      ++pos_;
      token.kind = Token::Kind::Quoted;
      for (;;) {
        if (pos_ >= text_.size()) return Fail(error, token.line, "unterminated quoted text");
        char16_t q = text_[pos_++];
        if (q == u'\n') ++line_;
        if (q == u'\'') {
          if (pos_ < text_.size() && text_[pos_] == u'\'') { token.text.push_back(u'\''); ++pos_; continue; }
          return true;
        }
        token.text.push_back(q);
      }
    }
    token.kind = Token::Kind::Word;
    if (c == u'{') {  // a GUID key name: the braces belong to the name
      while (pos_ < text_.size() && text_[pos_] != u'}') token.text.push_back(text_[pos_++]);
      if (pos_ >= text_.size()) return Fail(error, token.line, "unterminated {GUID} name");
      token.text.push_back(text_[pos_++]);
      return true;
    }
    while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != u'=' && text_[pos_] != u'{' &&
           text_[pos_] != u'}' && text_[pos_] != u'\'') {
      token.text.push_back(text_[pos_++]);
    }
    return true;
  }

 private:
  static bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xFEFF; }

  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) {
      if (text_[pos_] == u'\n') ++line_;
      ++pos_;
    }
  }

  // "{8-4-4-4-12}" begins a key name; any other "{" opens a block.
  bool LooksLikeGuid() const {
    static constexpr std::u16string_view kShape = u"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (pos_ + kShape.size() > text_.size()) return false;
    for (size_t i = 0; i < kShape.size(); ++i) {
      char16_t c = text_[pos_ + i];
      if (kShape[i] == u'x') {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) return false;
      } else if (c != kShape[i]) {
        return false;
      }
    }
    return true;
  }

  static bool Fail(ParseError* error, int line, const char* message) {
    if (error) *error = ParseError{line, message};
    return false;
  }

  std::u16string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
};

class Parser {
 public:
  Parser(std::u16string_view text, const Replacements& replacements, ParseError* error)
      : lexer_(text), replacements_(replacements), error_(error) {}

  std::optional<RgsScript> Run() {
    RgsScript script;
    if (!Advance()) return std::nullopt;
    while (token_.kind != Token::Kind::End) {
      RgsRoot root;
      if (token_.kind != Token::Kind::Word || !RootOf(token_.text, root.root)) {
        return Fail("expected a root key (HKCR, HKCU, HKLM)");
      }
      if (!Advance()) return std::nullopt;
      if (token_.kind != Token::Kind::Open) return Fail("expected '{' after the root key");
      if (!Advance() || !ParseKeys(root.keys, 1)) return std::nullopt;
      script.roots.push_back(std::move(root));
    }
    return script;
  }

 private:
  static bool RootOf(const std::u16string& word, RegRoot& root) {
    using platform::EqualsNoCase;
    if (EqualsNoCase(word, u"HKCR") || EqualsNoCase(word, u"HKEY_CLASSES_ROOT")) { root = RegRoot::ClassesRoot; return true; }
    if (EqualsNoCase(word, u"HKCU") || EqualsNoCase(word, u"HKEY_CURRENT_USER")) { root = RegRoot::CurrentUser; return true; }
    if (EqualsNoCase(word, u"HKLM") || EqualsNoCase(word, u"HKEY_LOCAL_MACHINE")) { root = RegRoot::LocalMachine; return true; }
    return false;
  }

  // Reads keys until the closing brace of the enclosing block.
  bool ParseKeys(std::vector<RgsKey>& keys, int depth) {
    for (;;) {
      if (token_.kind == Token::Kind::Close) return Advance();
      if (token_.kind == Token::Kind::End) return Fail("missing '}'"), false;
      if (token_.kind == Token::Kind::Word && platform::EqualsNoCase(token_.text, u"val")) {
        return Fail("'val' outside a key"), false;
      }
      RgsKey key;
      if (!ParseKey(key, depth)) return false;
      keys.push_back(std::move(key));
    }
  }

  bool ParseKey(RgsKey& key, int depth) {
    using platform::EqualsNoCase;
    if (depth > 64) return Fail("keys nested too deeply"), false;
    if (token_.kind == Token::Kind::Word) {
      if (EqualsNoCase(token_.text, u"ForceRemove")) key.flag = KeyFlag::ForceRemove;
      else if (EqualsNoCase(token_.text, u"NoRemove")) key.flag = KeyFlag::NoRemove;
      else if (EqualsNoCase(token_.text, u"Delete")) key.flag = KeyFlag::Delete;
      if (key.flag != KeyFlag::Normal && !Advance()) return false;
    }
    if (token_.kind != Token::Kind::Word && token_.kind != Token::Kind::Quoted) return Fail("expected a key name"), false;
    if (!Substitute(token_.text, key.name)) return false;
    if (key.name.empty() || key.name.find(u'\\') != std::u16string::npos) return Fail("bad key name"), false;
    if (!Advance()) return false;
    if (token_.kind == Token::Kind::Equals) {
      RegValue value;
      if (!Advance() || !ParseTypedValue(value)) return false;
      key.default_value = std::move(value);
    }
    if (token_.kind != Token::Kind::Open) return true;
    if (!Advance()) return false;
    for (;;) {
      if (token_.kind == Token::Kind::Close) return Advance();
      if (token_.kind == Token::Kind::End) return Fail("missing '}'"), false;
      if (token_.kind == Token::Kind::Word && EqualsNoCase(token_.text, u"val")) {
        if (!Advance()) return false;
        RgsValue value;
        if (token_.kind != Token::Kind::Word && token_.kind != Token::Kind::Quoted) return Fail("expected a value name"), false;
        if (!Substitute(token_.text, value.name)) return false;
        if (!Advance()) return false;
        if (token_.kind != Token::Kind::Equals) return Fail("expected '=' after the value name"), false;
        if (!Advance() || !ParseTypedValue(value.value)) return false;
        key.values.push_back(std::move(value));
        continue;
      }
      RgsKey child;
      if (!ParseKey(child, depth + 1)) return false;
      key.children.push_back(std::move(child));
    }
  }

  bool ParseTypedValue(RegValue& value) {
    if (token_.kind != Token::Kind::Word) return Fail("expected a value type (s or d)"), false;
    std::u16string type = token_.text;
    if (!Advance()) return false;
    if (token_.kind != Token::Kind::Quoted) return Fail("expected quoted value data"), false;
    std::u16string data;
    if (!Substitute(token_.text, data)) return false;
    if (type == u"s" || type == u"S") {
      value.type = RegValue::Type::String;
      value.text = std::move(data);
    } else if (type == u"d" || type == u"D") {
      value.type = RegValue::Type::Dword;
      if (!ParseNumber(data, value.number)) return Fail("bad number for a d value"), false;
    } else {
      return Fail("unsupported value type (only s and d)"), false;
    }
    return Advance();
  }

  static bool ParseNumber(const std::u16string& text, uint32_t& out) {
    if (text.empty()) return false;
    uint64_t n = 0;
    size_t i = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) { base = 16; i = 2; }
    for (; i < text.size(); ++i) {
      char16_t c = text[i];
      int digit;
      if (c >= u'0' && c <= u'9') digit = c - u'0';
      else if (base == 16 && c >= u'a' && c <= u'f') digit = c - u'a' + 10;
      else if (base == 16 && c >= u'A' && c <= u'F') digit = c - u'A' + 10;
      else return false;
      n = n * base + digit;
      if (n > 0xFFFFFFFFull) return false;
    }
    out = static_cast<uint32_t>(n);
    return true;
  }

  bool Substitute(const std::u16string& in, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
      if (in[i] != u'%') { out.push_back(in[i]); continue; }
      size_t end = in.find(u'%', i + 1);
      if (end == std::u16string::npos) return Fail("unmatched '%'"), false;
      if (end == i + 1) { out.push_back(u'%'); i = end; continue; }
      auto it = replacements_.find(in.substr(i + 1, end - i - 1));
      if (it == replacements_.end()) return Fail("unknown %NAME% replacement"), false;
      out += it->second;
      i = end;
    }
    return true;
  }

  bool Advance() { return lexer_.Next(token_, error_); }

  std::nullopt_t Fail(const char* message) {
    if (error_) *error_ = ParseError{token_.line, message};
    return std::nullopt;
  }

  Lexer lexer_;
  const Replacements& replacements_;
  ParseError* error_;
  Token token_;
};

struct Place {
  RegRoot root;
  std::u16string path;
};

Place Map(RegRoot root, const RootMapping& mapping) {
  if (mapping.per_user) {
    if (root == RegRoot::ClassesRoot) return {RegRoot::CurrentUser, u"Software\\Classes"};
    if (root == RegRoot::LocalMachine) return {RegRoot::CurrentUser, u""};
  }
  return {root, u""};
}

std::u16string Join(const std::u16string& parent, const std::u16string& name) {
  return parent.empty() ? name : parent + u"\\" + name;
}

Result SetValue(platform::IRegistry& reg, const Place& at, const std::u16string& name, const RegValue& v) {
  return v.type == RegValue::Type::Dword ? reg.SetDword(at.root, at.path, name, v.number)
                                         : reg.SetString(at.root, at.path, name, v.text);
}

Result RegisterKey(platform::IRegistry& reg, const Place& parent, const RgsKey& key) {
  Place at{parent.root, Join(parent.path, key.name)};
  if (key.flag == KeyFlag::Delete) {
    Result r = reg.DeleteTree(at.root, at.path);
    return r == platform::kNotFound ? platform::kOk : r;
  }
  if (key.flag == KeyFlag::ForceRemove) {
    Result r = reg.DeleteTree(at.root, at.path);
    if (r != platform::kOk && r != platform::kNotFound) return r;
  }
  if (Result r = reg.CreateKey(at.root, at.path); r != platform::kOk) return r;
  if (key.default_value) {
    if (Result r = SetValue(reg, at, u"", *key.default_value); r != platform::kOk) return r;
  }
  for (auto& v : key.values) {
    if (Result r = SetValue(reg, at, v.name, v.value); r != platform::kOk) return r;
  }
  for (auto& child : key.children) {
    if (Result r = RegisterKey(reg, at, child); r != platform::kOk) return r;
  }
  return platform::kOk;
}

Result UnregisterKey(platform::IRegistry& reg, const Place& parent, const RgsKey& key) {
  Place at{parent.root, Join(parent.path, key.name)};
  switch (key.flag) {
    case KeyFlag::Delete:
      return platform::kOk;
    case KeyFlag::ForceRemove: {
      Result r = reg.DeleteTree(at.root, at.path);
      return r == platform::kNotFound ? platform::kOk : r;
    }
    case KeyFlag::NoRemove:
    case KeyFlag::Normal:
      break;
  }
  if (!reg.KeyExists(at.root, at.path)) return platform::kOk;
  Result first = platform::kOk;
  for (auto& child : key.children) {
    Result r = UnregisterKey(reg, at, child);
    if (first == platform::kOk) first = r;
  }
  for (auto& v : key.values) reg.DeleteValue(at.root, at.path, v.name);
  if (key.flag == KeyFlag::Normal) {
    if (key.default_value) reg.DeleteValue(at.root, at.path, u"");
    // Whatever someone else put into the key keeps it alive.
    Result r = reg.DeleteKeyIfEmpty(at.root, at.path);
    if (r != platform::kOk && r != platform::kDirNotEmpty && r != platform::kNotFound && first == platform::kOk) first = r;
  }
  return first;
}

}  // namespace

std::optional<RgsScript> Parse(std::u16string_view text, const Replacements& replacements, ParseError* error) {
  try {
    return Parser(text, replacements, error).Run();
  } catch (const std::bad_alloc&) {
    if (error) *error = ParseError{0, "out of memory"};
    return std::nullopt;
  }
}

Result Register(platform::IRegistry& registry, const RgsScript& script, RootMapping mapping) {
  for (auto& root : script.roots) {
    Place base = Map(root.root, mapping);
    for (auto& key : root.keys) {
      if (Result r = RegisterKey(registry, base, key); r != platform::kOk) return r;
    }
  }
  return platform::kOk;
}

Result Unregister(platform::IRegistry& registry, const RgsScript& script, RootMapping mapping) {
  Result first = platform::kOk;
  for (auto& root : script.roots) {
    Place base = Map(root.root, mapping);
    for (auto& key : root.keys) {
      Result r = UnregisterKey(registry, base, key);
      if (first == platform::kOk) first = r;
    }
  }
  return first;
}

}  // namespace vd::registrar
