#include "dispatch_impl.h"

#include <cstring>
#include <map>
#include <mutex>

namespace vd::com {
namespace {

struct TypeInfoCache {
  std::mutex lock;
  ITypeLib* library = nullptr;  // kept for the life of the process: released at
                                // static destruction it could outlive OLE
  bool tried = false;
  std::map<GUID, ITypeInfo*, bool (*)(const GUID&, const GUID&)> infos{
      [](const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }};
};

TypeInfoCache& Cache() {
  static TypeInfoCache* cache = new TypeInfoCache();
  return *cache;
}

}  // namespace

ITypeInfo* ModuleTypeInfo(REFIID iid) noexcept {
  try {
    TypeInfoCache& cache = Cache();
    std::lock_guard<std::mutex> guard(cache.lock);
    if (auto it = cache.infos.find(iid); it != cache.infos.end()) return it->second;
    if (!cache.tried) {
      cache.tried = true;
      HMODULE module = nullptr;
      wchar_t path[MAX_PATH] = {};
      if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCWSTR>(&ModuleTypeInfo), &module) &&
          ::GetModuleFileNameW(module, path, MAX_PATH) > 0) {
        ::LoadTypeLibEx(path, REGKIND_NONE, &cache.library);
      }
    }
    if (!cache.library) return nullptr;
    ITypeInfo* info = nullptr;
    if (FAILED(cache.library->GetTypeInfoOfGuid(iid, &info))) return nullptr;
    cache.infos.emplace(iid, info);
    return info;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace vd::com
