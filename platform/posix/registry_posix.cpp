// An in-memory registry for native runs: same tree, same case rules, same
// answers as the Windows one, lost when the process ends.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/registry.h"
#include "platform/text.h"

namespace platform {
namespace {

struct NoCaseLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const {
    return ToUpperAscii(a) < ToUpperAscii(b);
  }
};

struct Key {
  std::map<std::u16string, std::unique_ptr<Key>, NoCaseLess> children;
  std::map<std::u16string, RegValue, NoCaseLess> values;
};

std::vector<std::u16string> SplitPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  std::u16string cur;
  for (char16_t c : path) {
    if (c == u'\\') {
      if (!cur.empty()) parts.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) parts.push_back(std::move(cur));
  return parts;
}

class MemoryRegistry final : public IRegistry {
 public:
  bool KeyExists(RegRoot root, std::u16string_view path) override {
    std::lock_guard lock(mutex_);
    return Find(root, path) != nullptr;
  }

  Result CreateKey(RegRoot root, std::u16string_view path) override {
    std::lock_guard lock(mutex_);
    Create(root, path);
    return kOk;
  }

  Result DeleteKeyIfEmpty(RegRoot root, std::u16string_view path) override {
    std::lock_guard lock(mutex_);
    return Remove(root, path, false);
  }

  Result DeleteTree(RegRoot root, std::u16string_view path) override {
    std::lock_guard lock(mutex_);
    return Remove(root, path, true);
  }

  std::optional<RegValue> GetValue(RegRoot root, std::u16string_view path,
                                   std::u16string_view name) override {
    std::lock_guard lock(mutex_);
    Key* key = Find(root, path);
    if (!key) return std::nullopt;
    auto it = key->values.find(std::u16string(name));
    if (it == key->values.end()) return std::nullopt;
    return it->second;
  }

  Result SetString(RegRoot root, std::u16string_view path, std::u16string_view name,
                   std::u16string_view value) override {
    const std::u16string text(value);
    return SetRawString(root, path, name,
                        std::string_view(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2));
  }

  Result SetRawString(RegRoot root, std::u16string_view path, std::u16string_view name,
                      std::string_view bytes) override {
    std::lock_guard lock(mutex_);
    RegValue v;
    v.type = RegValue::Type::String;
    v.raw = std::string(bytes);
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    if (auto nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);
    v.text = std::move(text);
    Create(root, path)->values[std::u16string(name)] = std::move(v);
    return kOk;
  }

  Result SetDword(RegRoot root, std::u16string_view path, std::u16string_view name,
                  uint32_t value) override {
    std::lock_guard lock(mutex_);
    RegValue v;
    v.type = RegValue::Type::Dword;
    v.number = value;
    Create(root, path)->values[std::u16string(name)] = std::move(v);
    return kOk;
  }

  Result DeleteValue(RegRoot root, std::u16string_view path, std::u16string_view name) override {
    std::lock_guard lock(mutex_);
    Key* key = Find(root, path);
    if (!key) return kNotFound;
    return key->values.erase(std::u16string(name)) ? kOk : kNotFound;
  }

  std::vector<std::u16string> SubKeys(RegRoot root, std::u16string_view path) override {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> names;
    if (Key* key = Find(root, path)) {
      for (auto& [name, child] : key->children) names.push_back(name);
    }
    return names;
  }

  std::vector<std::u16string> ValueNames(RegRoot root, std::u16string_view path) override {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> names;
    if (Key* key = Find(root, path)) {
      for (auto& [name, value] : key->values) names.push_back(name);
    }
    return names;
  }

 private:
  Key& Root(RegRoot root) { return roots_[static_cast<int>(root)]; }

  Key* Find(RegRoot root, std::u16string_view path) {
    Key* key = &Root(root);
    for (auto& part : SplitPath(path)) {
      auto it = key->children.find(part);
      if (it == key->children.end()) return nullptr;
      key = it->second.get();
    }
    return key;
  }

  Key* Create(RegRoot root, std::u16string_view path) {
    Key* key = &Root(root);
    for (auto& part : SplitPath(path)) {
      auto& slot = key->children[part];
      if (!slot) slot = std::make_unique<Key>();
      key = slot.get();
    }
    return key;
  }

  Result Remove(RegRoot root, std::u16string_view path, bool tree) {
    auto parts = SplitPath(path);
    if (parts.empty()) return kAccessDenied;  // a root itself is never deleted
    std::u16string leaf = parts.back();
    parts.pop_back();
    Key* parent = &Root(root);
    for (auto& part : parts) {
      auto it = parent->children.find(part);
      if (it == parent->children.end()) return kNotFound;
      parent = it->second.get();
    }
    auto it = parent->children.find(leaf);
    if (it == parent->children.end()) return kNotFound;
    if (!tree && (!it->second->children.empty() || !it->second->values.empty())) return kDirNotEmpty;
    parent->children.erase(it);
    return kOk;
  }

  std::mutex mutex_;
  Key roots_[3];
};

}  // namespace

IRegistry& SystemRegistry() {
  static MemoryRegistry registry;
  return registry;
}

}  // namespace platform
