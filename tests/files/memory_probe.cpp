// A tiny program for the checked-allocation tests: the checking switch is decided at the
// first allocation of a process, so each case runs here with its own SK_CHECK_ALLOC.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/memory.h"

int main(int argc, char** argv) {
  std::string what = argc > 1 ? argv[1] : "";
  if (what == "checking") {
    printf("%d\n", mem_checking() ? 1 : 0);
  } else if (what == "double_free") {
    char* block = static_cast<char*>(mem_alloc(32));
    mem_free(block);
    mem_free(block);
  } else if (what == "double_delete") {
    int* value = new int(5);
    int* volatile again = value;  // hides the second delete from the compiler's check
    delete value;
    delete again;
  } else if (what == "wipe") {
    // Large enough that the allocator's own bookkeeping stays out of the block's middle.
    unsigned char* block = static_cast<unsigned char*>(mem_alloc(4096));
    memset(block, 0xAB, 4096);
    unsigned char* middle = block + 2048;
    mem_free(block);
    unsigned seen = 0;
    for (int i = 0; i < 64; i++) seen |= middle[i];  // reading the freed block is the point
    printf("%u\n", seen);
  } else if (what == "leak") {
    mem_alloc(10);
    new std::vector<int>(100);
    mem_report_leaks();
  } else if (what == "realloc") {
    char* block = static_cast<char*>(mem_alloc(4));
    memcpy(block, "abc", 4);
    block = static_cast<char*>(mem_realloc(block, 100000));
    printf("%s\n", block);
    mem_free(block);
  }
  return 0;
}
