/* Preloaded into a program under test (LD_PRELOAD), this makes one directory
 * behave like a full disk or like holding read-only files, without mounting
 * anything and whoever runs the test (root ignores file permissions):
 *
 *   PX_FAULT_DIR       the directory; files directly in it are affected
 *   PX_FAULT_SPACE     bytes by which its files may still grow in total; a
 *                      write that would grow a file beyond that fails with
 *                      ENOSPC, as on a full disk (writes inside a file's
 *                      present size still succeed). Unset: no limit.
 *   PX_FAULT_READONLY  comma-separated names of files there that cannot be
 *                      opened for writing (EACCES), as for a file without
 *                      write permission.
 *
 * Covers the calls the store and the standard library write through: open,
 * open64, openat, openat64, write, pwrite, pwrite64. */
#undef _FORTIFY_SOURCE
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static char faultDir[PATH_MAX];
static int haveDir = 0;
static long long space = -1; /* -1: no limit */
static const char* readOnly = NULL;

__attribute__((constructor)) static void setUp(void) {
  const char* dir = getenv("PX_FAULT_DIR");
  if (dir != NULL && realpath(dir, faultDir) != NULL) haveDir = 1;
  const char* s = getenv("PX_FAULT_SPACE");
  if (s != NULL && *s != '\0') space = atoll(s);
  readOnly = getenv("PX_FAULT_READONLY");
}

/* Whether `path` (absolute, resolved) lies directly in the fault directory;
 * its name is returned in *name. */
static int inFaultDir(const char* path, const char** name) {
  if (!haveDir) return 0;
  const char* slash = strrchr(path, '/');
  if (slash == NULL) return 0;
  const size_t n = (size_t)(slash - path);
  if (n != strlen(faultDir) || strncmp(path, faultDir, n) != 0) return 0;
  *name = slash + 1;
  return 1;
}

static int isReadOnly(const char* name) {
  if (readOnly == NULL) return 0;
  const size_t len = strlen(name);
  for (const char* p = readOnly; *p != '\0';) {
    const char* end = strchr(p, ',');
    const size_t n = end != NULL ? (size_t)(end - p) : strlen(p);
    if (n == len && strncmp(p, name, n) == 0) return 1;
    if (end == NULL) break;
    p = end + 1;
  }
  return 0;
}

/* Whether opening `path` (relative to `dirfd`) with `flags` must fail. */
static int refusedOpen(int dirfd, const char* path, int flags) {
  if ((flags & O_ACCMODE) == O_RDONLY || readOnly == NULL || !haveDir) return 0;
  char joined[2 * PATH_MAX + 2], resolved[PATH_MAX];
  if (path[0] == '/' || dirfd == AT_FDCWD) {
    snprintf(joined, sizeof joined, "%s", path);
  } else {
    char link[64], dir[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    const ssize_t n = readlink(link, dir, sizeof dir - 1);
    if (n < 0) return 0;
    dir[n] = '\0';
    snprintf(joined, sizeof joined, "%s/%s", dir, path);
  }
  /* The file may not exist yet: resolve its directory. */
  char* slash = strrchr(joined, '/');
  const char* base = slash != NULL ? slash + 1 : joined;
  char dirPart[sizeof joined];
  if (slash == NULL) {
    snprintf(dirPart, sizeof dirPart, ".");
  } else if (slash == joined) {
    snprintf(dirPart, sizeof dirPart, "/");
  } else {
    snprintf(dirPart, sizeof dirPart, "%.*s", (int)(slash - joined), joined);
  }
  if (realpath(dirPart, resolved) == NULL) return 0;
  return strcmp(resolved, faultDir) == 0 && isReadOnly(base);
}

/* Whether writing `count` bytes at `offset` (-1: the current offset) to `fd`
 * would need more room than is left; takes the room when not. */
static int outOfSpace(int fd, off_t offset, size_t count) {
  if (space < 0 || !haveDir) return 0;
  char link[64], path[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n < 0) return 0;
  path[n] = '\0';
  const char* name;
  if (!inFaultDir(path, &name)) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  if (offset < 0) {
    const int flags = fcntl(fd, F_GETFL);
    offset = (flags >= 0 && (flags & O_APPEND)) ? st.st_size : lseek(fd, 0, SEEK_CUR);
    if (offset < 0) return 0;
  }
  const long long end = (long long)offset + (long long)count;
  const long long growth = end > st.st_size ? end - st.st_size : 0;
  if (growth > space) return 1;
  space -= growth;
  return 0;
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static mode_t modeArg(int flags, va_list ap) {
  return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(ap, int) : 0;
}

int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = modeArg(flags, ap);
  va_end(ap);
  if (refusedOpen(AT_FDCWD, path, flags)) {
    errno = EACCES;
    return -1;
  }
  return NEXT(open)(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = modeArg(flags, ap);
  va_end(ap);
  if (refusedOpen(AT_FDCWD, path, flags)) {
    errno = EACCES;
    return -1;
  }
  return NEXT(open64)(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = modeArg(flags, ap);
  va_end(ap);
  if (refusedOpen(dirfd, path, flags)) {
    errno = EACCES;
    return -1;
  }
  return NEXT(openat)(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = modeArg(flags, ap);
  va_end(ap);
  if (refusedOpen(dirfd, path, flags)) {
    errno = EACCES;
    return -1;
  }
  return NEXT(openat64)(dirfd, path, flags, mode);
}

ssize_t write(int fd, const void* buf, size_t count) {
  if (outOfSpace(fd, -1, count)) {
    errno = ENOSPC;
    return -1;
  }
  return NEXT(write)(fd, buf, count);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  if (outOfSpace(fd, offset, count)) {
    errno = ENOSPC;
    return -1;
  }
  return NEXT(pwrite)(fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off64_t offset) {
  if (outOfSpace(fd, offset, count)) {
    errno = ENOSPC;
    return -1;
  }
  return NEXT(pwrite64)(fd, buf, count, offset);
}
