// Placeholder console entry point until the command line is built.
#include <cstdio>

int main() {
  std::puts("vellumcast 1.0");
  return 0;
}
