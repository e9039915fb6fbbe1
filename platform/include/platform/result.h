#pragma once
// Result codes of the platform layer: the Win32 error numbers, so that the
// Windows implementation passes GetLastError() through unchanged and the
// POSIX one speaks the same language.
#include <cstdint>

namespace platform {

using Result = long;

inline constexpr Result kOk = 0;
inline constexpr Result kNotFound = 2;          // ERROR_FILE_NOT_FOUND
inline constexpr Result kPathNotFound = 3;      // ERROR_PATH_NOT_FOUND
inline constexpr Result kAccessDenied = 5;      // ERROR_ACCESS_DENIED
inline constexpr Result kInvalidHandle = 6;     // ERROR_INVALID_HANDLE
inline constexpr Result kOutOfMemory = 14;      // ERROR_OUTOFMEMORY
inline constexpr Result kGenFailure = 31;       // ERROR_GEN_FAILURE
inline constexpr Result kDiskFull = 112;        // ERROR_DISK_FULL
inline constexpr Result kInvalidParameter = 87; // ERROR_INVALID_PARAMETER
inline constexpr Result kDirNotEmpty = 145;     // ERROR_DIR_NOT_EMPTY
inline constexpr Result kAlreadyExists = 183;   // ERROR_ALREADY_EXISTS
inline constexpr Result kNoWindow = 1400;       // ERROR_INVALID_WINDOW_HANDLE
inline constexpr Result kTimeout = 1460;        // ERROR_TIMEOUT

}  // namespace platform
