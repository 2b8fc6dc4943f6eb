/* A disk that is full below one folder, for tests of a real lorvanta-cli process: loaded with LD_PRELOAD,
 * every write to a file below $LORVANTA_TEST_FULL_DIR fails with ENOSPC, as it does on a full file system.
 * Creating and renaming files still works, as it does on most full file systems. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static int IsFull(int fd) {
  const char* full = getenv("LORVANTA_TEST_FULL_DIR");
  if (full == NULL || *full == '\0' || fd <= 2) return 0;
  char link[64];
  char target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return 0;
  target[n] = '\0';
  return strncmp(target, full, strlen(full)) == 0;
}

ssize_t write(int fd, const void* data, size_t size) {
  static ssize_t (*real)(int, const void*, size_t) = NULL;
  if (real == NULL) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  if (size > 0 && IsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return real(fd, data, size);
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
  static ssize_t (*real)(int, const struct iovec*, int) = NULL;
  if (real == NULL) real = (ssize_t(*)(int, const struct iovec*, int))dlsym(RTLD_NEXT, "writev");
  if (count > 0 && IsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return real(fd, iov, count);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
  static ssize_t (*real)(int, const void*, size_t, off_t) = NULL;
  if (real == NULL) real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite64");
  if (size > 0 && IsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return real(fd, data, size, offset);
}
