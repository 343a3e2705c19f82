// Remembers the page flag of the window in the current user's registry, as string values.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace bw {

class FormStorage {
 public:
  // key: "Software\<program>\<window class>" below HKEY_CURRENT_USER.
  explicit FormStorage(std::string key) : key_(std::move(key)) {}

  // nullopt when the key or the value is missing; raises on any other failure.
  std::optional<std::string> Read(const std::string& name) const;
  // Creates the key when missing; raises on failure.
  void Write(const std::string& name, const std::string& value) const;

  const std::string& Key() const { return key_; }

 private:
  std::string key_;
};

}  // namespace bw
