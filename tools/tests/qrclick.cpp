// qrclick CAPTION ID [TIMEOUT_MS]: presses button ID of the top-level window called CAPTION, for a
// person, in the tests and the demo: it waits for the window to appear (up to TIMEOUT_MS, default
// 20000) and posts it the button's click. Exits 0 once the click is posted, 1 when no such window
// came.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: qrclick CAPTION ID [TIMEOUT_MS]\n");
    return 2;
  }
  const int id = std::atoi(argv[2]);
  const DWORD timeout = argc == 4 ? static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) : 20000;
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  // Another process's window: there is nothing to wait on but its appearance.
  while (!(window = FindWindowA(nullptr, argv[1])) && GetTickCount() - start < timeout) Sleep(50);
  if (!window) {
    std::fprintf(stderr, "qrclick: no window \"%s\" within %lu ms\n", argv[1], static_cast<unsigned long>(timeout));
    return 1;
  }
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
  return 0;
}
