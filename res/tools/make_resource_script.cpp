// Writes the server's resource script: make_resource_script <output.rc> <bitmap file>. Runs on the
// build machine during the Windows build; the output is compiled into the Windows programs.

#include <cstdio>
#include <string>

#include "res/resource_script.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_resource_script OUTPUT.rc BITMAP\n");
    return 2;
  }
  const std::string script = kv::res::ResourceScript(argv[2]);
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(script.data(), 1, script.size(), out) == script.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
