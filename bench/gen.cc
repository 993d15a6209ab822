// Deterministic dataset generator for the benchmark (bench/run compiles and runs it).
//
//   gen big|mixed|small DIR LIST     file data from a seeded splitmix64 stream (incompressible)
//   gen tree DIR LIST DIRS FILES     DIRS directories of FILES empty files each
//
// DIR must not exist yet; every regular file is listed in LIST, NUL-separated, in the order
// it was written. The same arguments always give the same names, sizes and bytes.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Random {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [low, high].
  uint64_t Between(uint64_t low, uint64_t high) { return low + Next() % (high - low + 1); }
};

FILE* list_file = nullptr;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "gen: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

void MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0) Die("mkdir " + path);
}

// Writes `size` bytes of the stream seeded with `seed` to `path`.
void WriteFile(const std::string& path, uint64_t size, uint64_t seed) {
  static std::vector<uint64_t> buffer(1 << 17);  // 1 MiB
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) Die("create " + path);
  Random random{seed};
  uint64_t left = size;
  while (left > 0) {
    size_t chunk = left < buffer.size() * 8 ? static_cast<size_t>(left) : buffer.size() * 8;
    for (size_t i = 0; i < (chunk + 7) / 8; ++i) buffer[i] = random.Next();
    const char* bytes = reinterpret_cast<const char*>(buffer.data());
    size_t done = 0;
    while (done < chunk) {
      ssize_t n = write(fd, bytes + done, chunk - done);
      if (n <= 0) Die("write " + path);
      done += static_cast<size_t>(n);
    }
    left -= chunk;
  }
  if (close(fd) != 0) Die("close " + path);
  std::fwrite(path.c_str(), 1, path.size() + 1, list_file);
}

std::string Name(const char* prefix, unsigned number, int digits, const char* suffix = "") {
  char text[64];
  std::snprintf(text, sizeof text, "%s%0*u%s", prefix, digits, number, suffix);
  return text;
}

// 4 files of 512 MiB.
void Big(const std::string& root) {
  for (unsigned i = 0; i < 4; ++i)
    WriteFile(root + "/" + Name("big", i, 1, ".bin"), 512ull << 20, 1000 + i);
}

// About 1.5 GiB in files of 4 KiB to 50 MiB (log-uniform sizes) spread over a few
// directories, two of them nested.
void Mixed(const std::string& root) {
  const char* dirs[] = {"", "/docs", "/docs/old", "/media", "/media/raw", "/misc"};
  for (const char* d : dirs)
    if (*d) MakeDir(root + d);
  Random random{42};
  const uint64_t target = 1536ull << 20;
  uint64_t total = 0;
  for (unsigned i = 0; total < target; ++i) {
    // log-uniform between 2^12 and 50 MiB: pick an exponent in 1/1000 steps.
    double exponent = 12.0 + (random.Next() % 13610) / 1000.0;  // 2^25.61 ~ 50 MiB
    uint64_t size = static_cast<uint64_t>(std::exp2(exponent));
    if (total + size > target) size = target - total;
    const char* dir = dirs[random.Next() % 6];
    WriteFile(root + dir + "/" + Name("m", i, 4, ".dat"), size, 2000 + i);
    total += size;
  }
}

// 100,000 files of 1 to 8 KiB in 1,000 directories (10 groups of 100).
void Small(const std::string& root) {
  Random random{7};
  unsigned file = 0;
  for (unsigned g = 0; g < 10; ++g) {
    std::string group = root + "/" + Name("g", g, 2);
    MakeDir(group);
    for (unsigned d = 0; d < 100; ++d) {
      std::string dir = group + "/" + Name("d", d, 3);
      MakeDir(dir);
      for (unsigned f = 0; f < 100; ++f, ++file)
        WriteFile(dir + "/" + Name("s", f, 3, ".dat"), random.Between(1024, 8192), 3000000 + file);
    }
  }
}

// `dirs` directories holding `files` empty files each.
void Tree(const std::string& root, unsigned dirs, unsigned files) {
  for (unsigned d = 0; d < dirs; ++d) {
    std::string dir = root + "/" + Name("d", d, 4);
    MakeDir(dir);
    for (unsigned f = 0; f < files; ++f) {
      std::string path = dir + "/" + Name("e", f, 4);
      int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
      if (fd < 0 || close(fd) != 0) Die("create " + path);
      std::fwrite(path.c_str(), 1, path.size() + 1, list_file);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: gen big|mixed|small DIR LIST | gen tree DIR LIST DIRS FILES\n");
    return 2;
  }
  std::string kind = argv[1], root = argv[2];
  list_file = std::fopen(argv[3], "wb");
  if (!list_file) Die(std::string("create ") + argv[3]);
  MakeDir(root);
  if (kind == "big")
    Big(root);
  else if (kind == "mixed")
    Mixed(root);
  else if (kind == "small")
    Small(root);
  else if (kind == "tree" && argc == 6)
    Tree(root, std::atoi(argv[4]), std::atoi(argv[5]));
  else {
    std::fprintf(stderr, "gen: unknown dataset %s\n", kind.c_str());
    return 2;
  }
  if (std::fclose(list_file) != 0) Die("close list");
  return 0;
}
