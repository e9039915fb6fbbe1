// Posts the views' private copy-data message from another process, as any
// program on the desktop can: the hostile sender of the untils test.
// Usage: copydata_poster <window, hex> <lparam, hex>...
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    HWND window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::strtoull(argv[1], nullptr, 16)));
    for (int i = 2; i < argc; ++i) {
        const LPARAM lparam = static_cast<LPARAM>(std::strtoull(argv[i], nullptr, 16));
        if (!::PostMessageW(window, WM_USER + 101, 0, lparam)) {
            return 1;
        }
    }
    return 0;
}
