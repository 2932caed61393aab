// Watches for the launcher's error box under Wine. Waits up to the given
// number of seconds for a dialog captioned "Error", then prints what a user
// would see: how many such boxes there are, their text, and whether the
// launcher's main window exists and is hidden. Then presses OK. Line breaks
// in a text are printed as \n and \r, so that each text stays on one line.
//   box_watcher.exe [SECONDS_TO_WAIT [SECONDS_TO_SHOW]]
// With SECONDS_TO_SHOW, it also prints the box's screen rectangle and leaves
// the box up that long before pressing OK, for a screenshot.
// Exit code 0 when a box was found, 1 when none appeared.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "utf_conversion.h"

namespace {

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::string OnOneLine(const std::wstring& text) {
  std::string line;
  for (char c : WideToUTF8(text)) {
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += c;
    }
  }
  return line;
}

BOOL CALLBACK CollectErrorBoxes(HWND window, LPARAM boxes) {
  if (ClassName(window) == L"#32770" && WindowText(window) == L"Error" && IsWindowVisible(window)) {
    reinterpret_cast<std::vector<HWND>*>(boxes)->push_back(window);
  }
  return TRUE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM texts) {
  const std::wstring name = ClassName(child);
  if ((name == L"Static" || name == L"STATIC") && IsWindowVisible(child)) {
    const std::wstring text = WindowText(child);
    if (!text.empty()) reinterpret_cast<std::vector<std::wstring>*>(texts)->push_back(text);
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  std::vector<HWND> boxes;
  for (int waited = 0; waited < seconds * 10 && boxes.empty(); ++waited) {
    Sleep(100);
    EnumWindows(CollectErrorBoxes, reinterpret_cast<LPARAM>(&boxes));
  }
  if (boxes.empty()) {
    std::printf("boxes=0\n");
    return 1;
  }
  Sleep(300);  // let a second box, if any, appear too
  boxes.clear();
  EnumWindows(CollectErrorBoxes, reinterpret_cast<LPARAM>(&boxes));
  std::printf("boxes=%u\n", static_cast<unsigned>(boxes.size()));

  std::vector<std::wstring> texts;
  EnumChildWindows(boxes.front(), CollectStaticText, reinterpret_cast<LPARAM>(&texts));
  for (const std::wstring& text : texts) std::printf("text=%s\n", OnOneLine(text).c_str());

  HWND main_window = FindWindowW(L"PELTERIN", L"Orvellane");
  std::printf("main_window=%s\n",
              !main_window ? "missing" : IsWindowVisible(main_window) ? "visible" : "hidden");
  std::fflush(stdout);

  if (argc > 2) {
    // A screenshot is being taken of the box: say where it is, give it time.
    RECT rect;
    GetWindowRect(boxes.front(), &rect);
    std::printf("rect=%ld,%ld,%ld,%ld\n", rect.left, rect.top, rect.right, rect.bottom);
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
  }
  SendMessageW(boxes.front(), WM_COMMAND, IDOK, 0);
  return 0;
}
