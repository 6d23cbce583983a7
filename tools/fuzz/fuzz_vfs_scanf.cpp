// Arbitrary text through vfs_scanf with every conversion, each target sized for the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "files/vfs_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!stream) return 0;
  VfsFile* file = vfs_open_stream(stream, 0, VFS_LENGTH_MAX, 0, 0);
  if (!file) return 0;
  // String targets can take the whole input plus a terminator.
  std::vector<char> s1(size + 1), s2(size + 1);
  char chars[8];
  int32_t i1, i2, i3, n;
  int16_t h;
  int64_t ll;
  float f;
  double d;
  long double ld;
  for (int round = 0; round < 64 && vfs_peekc(file) >= 0; round++) {
    switch (round % 9) {
      case 0: vfs_scanf(file, "%d %i %o %x %X", &i1, &i2, &i3, &i1, &i2); break;
      case 1: vfs_scanf(file, "%hd %ld %lld%n", &h, &i1, &ll, &n); break;
      case 2: vfs_scanf(file, "%f %lf %Lf", &f, &d, &ld); break;
      case 3: vfs_scanf(file, "%s %c %5c", s1.data(), chars, chars); break;
      case 4: vfs_scanf(file, "%[a-z0-9_] %[^\n]", s1.data(), s2.data()); break;
      case 5: vfs_scanf(file, "%*d %% %3s %n %*f %*s", s1.data(), &n); break;
      case 6: vfs_scanf(file, "key=%d,%f %[]x-]", &i1, &f, s1.data()); break;
      case 7: vfs_scanf(file, "%2i%3x%4o%7f", &i1, &i2, &i3, &f); break;
      default: vfs_getc(file); break;
    }
    vfs_getc(file);
  }
  vfs_close(file);
  return 0;
}
