// A command line's words as the program and the stand-ins read them.
#pragma once

#include <string>
#include <vector>

namespace bw {

// Split at blanks and tabs outside double quotes; the quotes are dropped wherever they stand,
// so "two words" is one word and "" an empty one. Backslashes are never escapes: the kit's
// scripts pass folders as "E:\" and mean the backslash. Header-only, for the stand-ins too.
inline std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  bool inWord = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

}  // namespace bw
