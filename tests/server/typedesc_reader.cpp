#include "typedesc_reader.h"

#include <sstream>

namespace albummaker::server::testing {

namespace {

// Splits a line into blank-separated words; a quoted string is one word
// (without its quotes); '#' outside quotes ends the line.
bool Words(const std::string& line, std::vector<std::string>& words, std::string& error) {
  words.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string word;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\') {
          if (i >= line.size()) break;
          d = line[i++];
          if (d == 'n') d = '\n';
        }
        word.push_back(d);
      }
      if (!closed) {
        error = "unclosed string: " + line;
        return false;
      }
      words.push_back(word);
    } else {
      std::size_t end = i;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
      words.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return true;
}

std::string Unbraced(std::string uuid) {
  if (uuid.size() == 38 && uuid.front() == '{' && uuid.back() == '}') uuid = uuid.substr(1, 36);
  return uuid;
}

}  // namespace

bool ReadTypeDescription(const std::string& text, DescLibrary& out, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  std::vector<std::string> w;
  DescType* type = nullptr;
  bool inLibrary = false;
  while (std::getline(lines, line)) {
    if (!Words(line, w, error)) return false;
    if (w.empty()) continue;
    const std::string& key = w[0];
    if (key == "library" && w.size() == 2) {
      out.name = w[1];
      inLibrary = true;
    } else if (key == "interface" || key == "coclass") {
      out.types.push_back(DescType{key, w.size() > 1 ? w[1] : "", "", "", {}, "", {}, {}});
      type = &out.types.back();
    } else if (key == "end" && type != nullptr) {
      type = nullptr;
    } else if (key == "uuid" && w.size() == 2) {
      (type != nullptr ? type->uuid : out.uuid) = Unbraced(w[1]);
    } else if (key == "helpstring" && w.size() == 2) {
      (type != nullptr ? type->help : out.help) = w[1];
    } else if (key == "version" && w.size() == 2 && type == nullptr) {
      const auto dot = w[1].find('.');
      if (dot == std::string::npos) {
        error = "bad version";
        return false;
      }
      out.major = std::stoi(w[1].substr(0, dot));
      out.minor = std::stoi(w[1].substr(dot + 1));
    } else if (key == "lcid" && w.size() == 2 && type == nullptr) {
      out.lcid = std::stol(w[1], nullptr, 0);
    } else if (key == "importlib" && type == nullptr) {
      // Recorded only.
    } else if (key == "flags") {
      (type != nullptr ? type->flags : out.flags).assign(w.begin() + 1, w.end());
    } else if (key == "base" && type != nullptr && w.size() == 2) {
      type->base = w[1];
    } else if (key == "implements" && type != nullptr && w.size() >= 2) {
      type->implements.emplace_back(w.begin() + 1, w.end());
    } else if ((key == "method" || key == "propget" || key == "propput" || key == "propputref") && type != nullptr &&
               (w.size() == 3 || w.size() == 4)) {
      type->members.push_back(DescMember{key, std::stol(w[1], nullptr, 0), w[2], w.size() == 4 ? w[3] : "", {}});
    } else if (key == "param" && type != nullptr && !type->members.empty() && w.size() >= 3) {
      type->members.back().params.push_back(DescParam{w[1], w[2], {w.begin() + 3, w.end()}});
    } else {
      error = "unexpected line: " + line;
      return false;
    }
  }
  if (!inLibrary || out.uuid.empty() || out.major < 0) {
    error = "no complete library statement";
    return false;
  }
  return true;
}

}  // namespace albummaker::server::testing
