#include "support/Errors.h"

namespace bw {

std::string Detail::Text() const {
  if (const auto* s = std::get_if<std::string>(&value_)) return *s;
  if (const auto* n = std::get_if<long long>(&value_)) return std::to_string(*n);
  return {};
}

namespace {
// At namespace scope: made before any thread starts, never raced to by the download thread.
std::vector<std::string> customErrorMessages;
}  // namespace

std::vector<std::string>& CustomErrorMessages() { return customErrorMessages; }

std::string SystemErrorText(DWORD code) {
  char buffer[256] = {};
  const DWORD flags =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY;
  DWORD length = FormatMessageA(flags, nullptr, code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  while (!text.empty()) {
    const auto last = static_cast<unsigned char>(text.back());
    if (last > 0x20 && last != '.') break;
    text.pop_back();
  }
  return text;
}

std::string HexText(DWORD value) {
  std::string text(8, '0');
  for (auto digit = text.rbegin(); digit != text.rend(); ++digit, value >>= 4) {
    *digit = "0123456789ABCDEF"[value & 0xF];
  }
  return text;
}

std::string ErrorCodeMessage(DWORD code) {
  std::string text;
  if (code < kCustomErrorBase) {
    text = SystemErrorText(code);
  } else {
    const auto index = static_cast<std::int32_t>(code - kCustomErrorBase);
    const auto& table = CustomErrorMessages();
    if (index >= 0 && static_cast<std::size_t>(index) < table.size()) text = table[index];
  }
  if (text.empty()) text = "#EC#" + HexText(code);
  return text;
}

std::string SystemErrorMessage(DWORD code) {
  if (code == 0) return "A call to an OS function failed";
  return "System Error.  Code: " + std::to_string(static_cast<int>(code)) + ".\r\n" +
         SystemErrorText(code);
}

std::string ComposeErrorMessage(DWORD code, const std::vector<Detail>& details) {
  std::string message = ErrorCodeMessage(code);
  for (const Detail& detail : details) {
    std::string text = detail.Text();
    if (text.empty()) continue;
    message += (!message.empty() && message.back() == '.') ? " " : ". ";
    message += text;
  }
  return message;
}

void RaiseOSError(DWORD code, const std::string& details) {
  SetLastError(code);
  std::string message = ComposeErrorMessage(code, {Detail(details)});
  // Building the message may have touched the last error; the caller relies on the code.
  SetLastError(code);
  throw EOSError(std::move(message), code);
}

void RaiseLastOSErrorEx() { RaiseOSError(GetLastError()); }

}  // namespace bw
