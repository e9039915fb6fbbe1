#pragma once
// The library's creatable classes and their registration.
#include <windows.h>

#include <span>

#include "class_factory.h"
#include "registrar.h"

namespace vd::module {

inline constexpr wchar_t kAppId[] = L"{307B4D9D-E28B-4BB7-8F47-7FDF47FEBDCD}";

// The object map, in registration order.
std::span<const vd::com::ClassEntry> ClassTable();

// Registration with the thread locale set to the system default for its
// duration; stops at the first failing class and returns its error.
HRESULT RegisterServer(HMODULE module, vd::registrar::RootMapping mapping);
// Unregisters every class, then the module; returns the first error.
HRESULT UnregisterServer(HMODULE module, vd::registrar::RootMapping mapping);
// "user" (any case, nothing after it) registers for the current user only.
bool IsPerUserCommand(const wchar_t* command);

}  // namespace vd::module
