// A child for the task tests: runs its arguments as a little script, left to right.
//   out N          write N bytes of the pattern '0'..'9' repeated to standard output
//   hex HEX        write these bytes to standard output
//   err TEXT       write TEXT to standard error
//   stdin          read standard input to its end, then write "stdin:<bytes read>"
//   pidfile PATH   write this process's id into PATH
//   grandchild P   start "<self> sleep 30000" (it inherits our handles), its id into P
//   heir P ARGS    start "<self> ARGS" likewise (ARGS one argument), its id into P
//   stream MS      write lines of 0123456789 to standard output for MS milliseconds
//   mutex NAME     take the named mutex NAME (and never release it)
//   sleep MS       sleep
//   exit CODE      end with CODE (otherwise 0)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Write(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
    if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) ExitProcess(90);
    data += written;
    size -= written;
  }
}

void WriteText(const char* path, const std::string& text) {
  // Written aside, then renamed: a reader never sees half a number.
  const std::string temp = std::string(path) + ".tmp";
  HANDLE f = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) ExitProcess(91);
  Write(f, text.data(), text.size());
  CloseHandle(f);
  if (!MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING)) ExitProcess(92);
}

}  // namespace

int main(int argc, char** argv) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  for (int i = 1; i < argc; ++i) {
    const std::string op = argv[i];
    const char* arg = i + 1 < argc ? argv[i + 1] : "";
    if (op == "out") {
      const unsigned long long n = std::strtoull(arg, nullptr, 10);
      std::vector<char> block(0x10000);
      for (size_t k = 0; k < block.size(); ++k) block[k] = static_cast<char>('0' + k % 10);
      // 0x10000 is a multiple of 2 but not of 10: keep the pattern running across blocks.
      unsigned long long done = 0;
      while (done < n) {
        const size_t offset = done % 10;
        const size_t chunk =
            static_cast<size_t>(n - done < block.size() - 10 ? n - done : block.size() - 10);
        Write(out, block.data() + offset, chunk);
        done += chunk;
      }
      ++i;
    } else if (op == "hex") {
      std::string bytes;
      for (const char* p = arg; p[0] && p[1]; p += 2) {
        char pair[3] = {p[0], p[1], 0};
        bytes.push_back(static_cast<char>(std::strtoul(pair, nullptr, 16)));
      }
      Write(out, bytes.data(), bytes.size());
      ++i;
    } else if (op == "err") {
      Write(err, arg, std::strlen(arg));
      ++i;
    } else if (op == "stdin") {
      char buffer[4096];
      DWORD got = 0;
      unsigned long total = 0;
      while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
             got > 0) {
        total += got;
      }
      const std::string text = "stdin:" + std::to_string(total);
      Write(out, text.data(), text.size());
    } else if (op == "pidfile") {
      WriteText(arg, std::to_string(GetCurrentProcessId()));
      ++i;
    } else if (op == "grandchild" || op == "heir") {
      char self[MAX_PATH] = {};
      GetModuleFileNameA(nullptr, self, MAX_PATH);
      std::string command = std::string("\"") + self + "\"";
      command += op == "heir" && i + 2 < argc ? std::string(" ") + argv[i + 2] : " sleep 30000";
      STARTUPINFOA si = {};
      si.cb = sizeof si;
      PROCESS_INFORMATION pi = {};
      if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                          &pi)) {
        ExitProcess(93);
      }
      WriteText(arg, std::to_string(pi.dwProcessId));
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
      i += op == "heir" ? 2 : 1;
    } else if (op == "stream") {
      std::string lines;
      while (lines.size() < 0x10000) lines += "0123456789\r\n";
      const ULONGLONG end = GetTickCount64() + std::strtoul(arg, nullptr, 10);
      while (GetTickCount64() < end) Write(out, lines.data(), lines.size());
      ++i;
    } else if (op == "mutex") {
      if (!CreateMutexA(nullptr, TRUE, arg) || GetLastError() == ERROR_ALREADY_EXISTS) {
        ExitProcess(94);
      }
      ++i;
    } else if (op == "sleep") {
      Sleep(static_cast<DWORD>(std::strtoul(arg, nullptr, 10)));
      ++i;
    } else if (op == "exit") {
      return static_cast<int>(std::strtoul(arg, nullptr, 10));
    } else {
      return 99;
    }
  }
  return 0;
}
