#pragma once
// The info file the sandbox and the relay write once they listen (KEY=VALUE lines that the
// fixtures and tests read): written under another name and renamed, so a reader never sees
// half of it.
#include <cstdio>
#include <fstream>
#include <string>

namespace sandbox {

// Empty when written, else why not.
inline std::string WriteInfoFile(const std::string& Path, const std::string& Text) {
  const std::string tmp = Path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << Text;
    if (!out.flush()) return "cannot write the info file " + tmp;
  }
  if (std::rename(tmp.c_str(), Path.c_str()) != 0) return "cannot write the info file " + Path;
  return {};
}

}  // namespace sandbox
