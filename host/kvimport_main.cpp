#include <cstdio>

int main() {
  std::puts("kvimport: not built yet");
  return 0;
}
