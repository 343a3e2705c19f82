// Key presses for the console tools: from a console, a pipe or a file on standard input.
#pragma once

#include <windows.h>

#include <functional>

namespace standin {

// Waits up to waitMs (INFINITE: for ever) for a key that `wanted` accepts and returns it, or 0
// when none came in time or the input ended. Other keys are passed over.
inline char WaitForKey(DWORD waitMs, const std::function<bool(char)>& wanted) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD start = GetTickCount();
  auto remaining = [&]() -> DWORD {
    if (waitMs == INFINITE) return INFINITE;
    DWORD spent = GetTickCount() - start;
    return spent >= waitMs ? 0 : waitMs - spent;
  };
  DWORD mode = 0;
  if (in == nullptr || in == INVALID_HANDLE_VALUE) {
    Sleep(waitMs == INFINITE ? 0 : waitMs);
    return 0;
  }
  if (GetConsoleMode(in, &mode)) {
    for (;;) {
      if (WaitForSingleObject(in, remaining()) != WAIT_OBJECT_0) return 0;
      INPUT_RECORD record;
      DWORD got = 0;
      if (!ReadConsoleInputA(in, &record, 1, &got) || got == 0) return 0;
      if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
        char key = record.Event.KeyEvent.uChar.AsciiChar;
        if (key != 0 && wanted(key)) return key;
      }
    }
  }
  if (GetFileType(in) == FILE_TYPE_PIPE) {
    // Read one byte at a time: whatever follows the key belongs to the next reader.
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) return 0;
      if (available > 0) {
        char key = 0;
        DWORD got = 0;
        if (!ReadFile(in, &key, 1, &got, nullptr) || got == 0) return 0;
        if (wanted(key)) return key;
        continue;
      }
      DWORD left = remaining();
      if (left == 0) return 0;
      Sleep(left < 10 ? left : 10);
    }
  }
  for (;;) {
    char key = 0;
    DWORD got = 0;
    if (!ReadFile(in, &key, 1, &got, nullptr) || got == 0) return 0;
    if (wanted(key)) return key;
  }
}

// True when standard input is an interactive console, whose key presses may end a wait.
inline bool InputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace standin
