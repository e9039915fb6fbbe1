#pragma once
// Registration scripts kept as resources of type "REGISTRY" (UTF-8 text),
// run through the registrar against the machine's registry.
#include <windows.h>

#include <string>

#include "registrar.h"

namespace vd::com {

enum class ScriptMode { Register, Unregister };

// The module that contains this code (the DLL, not the host executable).
HMODULE CurrentModule() noexcept;
std::u16string ModulePath(HMODULE module);

// Loads script `id` from `module`, replaces %MODULE% (and `extra`), runs it.
// A malformed script fails with HRESULT_FROM_WIN32(ERROR_INVALID_DATA) before
// anything is written; a missing one with HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND).
HRESULT RunRegistrationScript(HMODULE module, int id, ScriptMode mode, const registrar::Replacements& extra = {},
                              registrar::RootMapping mapping = {}) noexcept;

// The same for script text held in memory.
HRESULT RunRegistrationText(std::u16string_view text, ScriptMode mode, const registrar::Replacements& replacements,
                            registrar::RootMapping mapping = {}) noexcept;

}  // namespace vd::com
