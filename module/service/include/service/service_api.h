#pragma once
// The one home of the service library's export macro. The build defines
// VD_SERVICE_DLL where the library is a DLL (the Windows build) and
// VD_SERVICE_BUILD inside the library itself; elsewhere it is a static library.
#if defined(VD_SERVICE_DLL) && defined(VD_SERVICE_BUILD)
#define VD_SERVICE_API __declspec(dllexport)
#elif defined(VD_SERVICE_DLL)
#define VD_SERVICE_API __declspec(dllimport)
#else
#define VD_SERVICE_API
#endif
