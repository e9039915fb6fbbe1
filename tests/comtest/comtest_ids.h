#pragma once
#include <guiddef.h>

#define IDR_COMTEST_OBJECT 201
#define IDR_COMTEST_REFUSING 202
#define IDR_COMTEST_MALFORMED 203

#ifndef RC_INVOKED
// {8E2B1C7A-5D3F-4A61-9C0E-2F7B6D4A1E93}
inline constexpr CLSID CLSID_ComTestObject = {0x8e2b1c7a, 0x5d3f, 0x4a61, {0x9c, 0x0e, 0x2f, 0x7b, 0x6d, 0x4a, 0x1e, 0x93}};
// {8E2B1C7A-5D3F-4A61-9C0E-2F7B6D4A1E94}
inline constexpr CLSID CLSID_ComTestRefusing = {0x8e2b1c7a, 0x5d3f, 0x4a61, {0x9c, 0x0e, 0x2f, 0x7b, 0x6d, 0x4a, 0x1e, 0x94}};
#endif
