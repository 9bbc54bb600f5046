// A reader for the type description text that the Linux module carries, so
// the Windows type library can be compared with it member by member.
#pragma once

#include <string>
#include <vector>

namespace albummaker::server::testing {

struct DescParam {
  std::string name;  // "-" for an unnamed value
  std::string type;  // e.g. "BSTR*", "VARIANT"
  std::vector<std::string> flags;
};

struct DescMember {
  std::string kind;  // method, propget, propput, propputref
  long dispid = 0;
  std::string name;
  std::string help;
  std::vector<DescParam> params;
};

struct DescType {
  std::string keyword;  // interface or coclass
  std::string name;
  std::string uuid;
  std::string help;
  std::vector<std::string> flags;
  std::string base;
  std::vector<std::vector<std::string>> implements;  // name then attributes
  std::vector<DescMember> members;
};

struct DescLibrary {
  std::string name;
  std::string uuid;
  int major = -1;
  int minor = -1;
  long lcid = 0;
  std::string help;
  std::vector<std::string> flags;
  std::vector<DescType> types;
};

// Fails (returns false with a message) on anything it does not understand.
bool ReadTypeDescription(const std::string& text, DescLibrary& out, std::string& error);

}  // namespace albummaker::server::testing
