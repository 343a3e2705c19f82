#include "support/Paths.h"

namespace bw {

std::string JoinPath(const std::vector<std::string>& elements) {
  std::string result;
  for (const std::string& element : elements) {
    if (element.empty()) continue;
    if (result.empty()) {
      result = element;
      continue;
    }
    const bool endsWithSlash = result.back() == '\\';
    const bool startsWithSlash = element.front() == '\\';
    if (endsWithSlash && startsWithSlash) {
      result.pop_back();
    } else if (!endsWithSlash && !startsWithSlash) {
      result += '\\';
    }
    result += element;
  }
  return result;
}

}  // namespace bw
