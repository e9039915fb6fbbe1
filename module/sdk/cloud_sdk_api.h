#pragma once
// The one home of the cloud SDK's export macro. The build defines VD_SDK_DLL
// where the SDK is a DLL (CorbelSdk64.dll, the Windows build) and
// VD_SDK_BUILD inside the SDK itself; elsewhere it is a plain library.
#if defined(VD_SDK_DLL) && defined(VD_SDK_BUILD)
#define VD_SDK_API __declspec(dllexport)
#elif defined(VD_SDK_DLL)
#define VD_SDK_API __declspec(dllimport)
#else
#define VD_SDK_API
#endif
