#include "registration.h"

#include <vector>

#include "platform/text.h"
#include "trace.h"

namespace vd::com {

HMODULE CurrentModule() noexcept {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&CurrentModule), &module);
  return module;
}

std::u16string ModulePath(HMODULE module) {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameW(module, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::u16string(reinterpret_cast<const char16_t*>(buf.data()), n);
    buf.resize(buf.size() * 2);
  }
}

HRESULT RunRegistrationText(std::u16string_view text, ScriptMode mode, const registrar::Replacements& replacements,
                            registrar::RootMapping mapping) noexcept {
  try {
    registrar::ParseError error;
    auto script = registrar::Parse(text, replacements, &error);
    if (!script) {
      VD_LOG_ERROR("registration script rejected at line %d: %s", error.line, error.message.c_str());
      return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    platform::Result r = mode == ScriptMode::Register ? registrar::Register(platform::SystemRegistry(), *script, mapping)
                                                      : registrar::Unregister(platform::SystemRegistry(), *script, mapping);
    if (r != platform::kOk) {
      VD_LOG_ERROR("registration script failed: error %ld", r);
      return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT RunRegistrationScript(HMODULE module, int id, ScriptMode mode, const registrar::Replacements& extra,
                              registrar::RootMapping mapping) noexcept {
  try {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!found) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    DWORD size = ::SizeofResource(module, found);
    if (!data) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    std::u16string text = platform::Utf8ToWide(std::string_view(static_cast<const char*>(data), size));
    registrar::Replacements replacements = extra;
    replacements[u"MODULE"] = ModulePath(module);
    return RunRegistrationText(text, mode, replacements, mapping);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace vd::com
