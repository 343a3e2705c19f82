// One way to fail: exceptions that carry a message, and OS errors that also carry their code.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>
#include <variant>
#include <vector>

namespace bw {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Ends a step quietly: the run logs it, but no error box is ever shown for it.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

class EOSError : public Exception {
 public:
  EOSError(std::string message, DWORD code) : Exception(std::move(message)), ErrorCode(code) {}
  DWORD ErrorCode;
};

// A detail appended to an error message: a text, a whole number, or nothing (unassigned).
class Detail {
 public:
  Detail() = default;
  Detail(std::monostate) {}
  Detail(const char* text) : value_(std::string(text ? text : "")) {}
  Detail(std::string text) : value_(std::move(text)) {}
  Detail(long long number) : value_(number) {}
  Detail(int number) : value_(static_cast<long long>(number)) {}
  Detail(long number) : value_(static_cast<long long>(number)) {}
  Detail(unsigned number) : value_(static_cast<long long>(number)) {}
  Detail(unsigned long number) : value_(static_cast<long long>(number)) {}
  std::string Text() const;

 private:
  std::variant<std::monostate, std::string, long long> value_;
};

// Codes from here up are the library's own; their texts come from CustomErrorMessages.
inline constexpr DWORD kCustomErrorBase = 0x20000000;

// Entry i is the text of code kCustomErrorBase + i; an empty entry counts as missing.
std::vector<std::string>& CustomErrorMessages();

// The system's own text for any code, without trailing blanks, line breaks and full stops;
// empty when the system has none.
std::string SystemErrorText(DWORD code);
std::string ErrorCodeMessage(DWORD code);
// Eight upper-case hexadecimal digits.
std::string HexText(DWORD value);
// "System Error.  Code: <code>.", a line break and the system's text; for 0 the text of a
// failed call that left no code.
std::string SystemErrorMessage(DWORD code);
std::string ComposeErrorMessage(DWORD code, const std::vector<Detail>& details);

[[noreturn]] void RaiseOSError(DWORD code, const std::string& details = {});
[[noreturn]] void RaiseLastOSErrorEx();

// Wraps a call whose zero result means failure; must follow that call directly, while the
// thread's last error still belongs to it.
template <typename T>
T CheckLastError(T value, const std::string& details = {}) {
  if (!value) RaiseOSError(GetLastError(), details);
  return value;
}

template <typename T>
T CheckCode(T value, DWORD code, const std::string& details = {}) {
  if (!value) RaiseOSError(code, details);
  return value;
}

// For calls that return their error code instead of leaving it as the last error (Reg*,
// WNet*, SetNamedSecurityInfoA).
inline void CheckWin32Error(LONG code, const std::string& details = {}) {
  if (code != ERROR_SUCCESS) RaiseOSError(static_cast<DWORD>(code), details);
}

}  // namespace bw
