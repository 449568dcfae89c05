#include "platform/ado/statement_counter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zelto::ado {
namespace {

constexpr char kCounterVariable[] = "ZELTO_STATEMENT_COUNTER";

// The file's first 8 bytes mapped shared, or null (said on stderr).
std::uint64_t* MapCounterFile(const char* path) {
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  void* mapped = MAP_FAILED;
  if (fd >= 0 && ftruncate(fd, 0) == 0 && ftruncate(fd, sizeof(std::uint64_t)) == 0) {
    mapped = mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  const int saved = errno;
  if (fd >= 0) close(fd);  // the mapping keeps the file
  if (mapped != MAP_FAILED) return static_cast<std::uint64_t*>(mapped);
  std::fprintf(stderr, "%s=%s: %s; statements are counted in memory only\n", kCounterVariable,
               path, std::strerror(saved));
  return nullptr;
}

std::uint64_t* Cell() {
  static std::uint64_t in_memory = 0;
  static std::uint64_t* const cell = [] {
    const char* path = std::getenv(kCounterVariable);
    std::uint64_t* mapped = path && *path ? MapCounterFile(path) : nullptr;
    return mapped ? mapped : &in_memory;
  }();
  return cell;
}

}  // namespace

void CountStatement() {
  std::atomic_ref<std::uint64_t>(*Cell()).fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t StatementsExecuted() {
  return std::atomic_ref<std::uint64_t>(*Cell()).load(std::memory_order_relaxed);
}

}  // namespace zelto::ado
