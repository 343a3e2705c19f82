#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace bw {

// Empty elements are dropped; exactly one backslash stands between two elements.
std::string JoinPath(const std::vector<std::string>& elements);
inline std::string JoinPath(std::initializer_list<std::string> elements) {
  return JoinPath(std::vector<std::string>(elements));
}

}  // namespace bw
