// The set-up services on POSIX systems: the serial ports from sysfs (read,
// never opened), device groups and owners from the user database, holders
// from /proc.
#include <dirent.h>
#include <errno.h>
#include <grp.h>
#include <limits.h>
#include <stdarg.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wchar.h>

#include "platform-posix.h"
#include "platform.h"

namespace {

// Formats into a wide text, as the messages are held.
void wideText(wchar_t* text, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void wideText(wchar_t* text, size_t capacity, const char* format, ...) {
  char narrow[2048];
  va_list values;
  va_start(values, format);
  vsnprintf(narrow, sizeof narrow, format, values);
  va_end(values);
  widenInto(narrow, text, capacity);
}

// Adds to the text in `line`, cut to fit.
void append(char* line, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void append(char* line, size_t capacity, const char* format, ...) {
  size_t used = strlen(line);
  va_list values;
  va_start(values, format);
  vsnprintf(line + used, capacity - used, format, values);
  va_end(values);
}

// The first line of a small sysfs file, "" when there is none.
void readLine(const char* path, char* line, size_t capacity) {
  line[0] = 0;
  FILE* f = fopen(path, "re");
  if (!f) return;
  if (fgets(line, int(capacity), f)) line[strcspn(line, "\n")] = 0;
  fclose(f);
}

const char* userName() {
  struct passwd* user = getpwuid(geteuid());
  return user ? user->pw_name : "this user";
}

// The device a port leads to, links followed.
bool resolvedDevice(const wchar_t* port, char* resolved) {
  char path[4096];
  return devicePath(port, path, sizeof path) && realpath(path, resolved) != nullptr;
}

}  // namespace

bool changeDirectory(const wchar_t* folder, unsigned long* error) {
  char path[4096];
  if (!narrowPath(folder, path, sizeof path) || chdir(path) != 0) {
    *error = errno ? errno : ENOENT;
    return false;
  }
  return true;
}

void fullPath(const wchar_t* file, wchar_t* text, size_t capacity) {
  char path[4096], folder[4096];
  if (!narrowPath(file, path, sizeof path)) path[0] = 0;
  if (!getcwd(folder, sizeof folder)) strcpy(folder, ".");
  const char* name = strncmp(path, "./", 2) == 0 ? path + 2 : path;
  wideText(text, capacity, "%s/%s", strcmp(folder, "/") == 0 ? "" : folder, name);
}

void deviceTarget(const wchar_t* port, wchar_t* text, size_t capacity) {
  char path[4096], resolved[PATH_MAX];
  if (!devicePath(port, path, sizeof path)) path[0] = 0;
  if (realpath(path, resolved) && strcmp(resolved, path) != 0)
    wideText(text, capacity, "%s (through %s)", resolved, path);
  else
    wideText(text, capacity, "%s", path);
}

void accessAdvice(const wchar_t* port, wchar_t* text, size_t capacity) {
  text[0] = 0;
  char resolved[PATH_MAX];
  struct stat device;
  if (!resolvedDevice(port, resolved) || stat(resolved, &device) != 0) return;
  struct group* group = getgrgid(device.st_gid);
  if (!group || (device.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
    struct passwd* owner = getpwuid(device.st_uid);
    wideText(text, capacity, "; only %s may open %s", owner ? owner->pw_name : "its owner",
             resolved);
    return;
  }
  const char* name = group->gr_name;  // getgrgid's buffer: copied before the next call
  char groupName[256];
  snprintf(groupName, sizeof groupName, "%s", name);
  // In the group by the user database, but not this process: it started
  // before the user joined, and a group takes effect in processes started
  // after that.
  gid_t groups[256];
  int count = 256;
  struct passwd* user = getpwuid(geteuid());
  bool member = false;
  if (user && getgrouplist(user->pw_name, user->pw_gid, groups, &count) >= 0)
    for (int i = 0; i < count; ++i) member = member || groups[i] == device.st_gid;
  if (member)
    wideText(text, capacity,
             "; %s is in the group %s of %s, but this process started before that: restart it "
             "(the recorder, or log in again)",
             userName(), groupName, resolved);
  else
    wideText(text, capacity,
             "; %s belongs to the group %s: add %s to it (sudo usermod -aG %s %s), then restart "
             "the recorder or log in again",
             resolved, groupName, userName(), groupName, userName());
}

void portHolders(const wchar_t* port, wchar_t* text, size_t capacity) {
  text[0] = 0;
  char resolved[PATH_MAX], found[1024] = "";
  if (!resolvedDevice(port, resolved)) return;
  // Only the processes this user may look into; root sees all.
  DIR* processes = opendir("/proc");
  if (!processes) return;
  size_t used = 0;
  while (struct dirent* process = readdir(processes)) {
    if (process->d_name[0] < '1' || process->d_name[0] > '9') continue;
    char fdPath[300];
    snprintf(fdPath, sizeof fdPath, "/proc/%s/fd", process->d_name);
    DIR* fds = opendir(fdPath);
    if (!fds) continue;
    bool holds = false;
    while (struct dirent* fd = readdir(fds)) {
      char link[600], target[PATH_MAX];
      snprintf(link, sizeof link, "%s/%s", fdPath, fd->d_name);
      ssize_t n = readlink(link, target, sizeof target - 1);
      if (n > 0) {
        target[n] = 0;
        holds = holds || strcmp(target, resolved) == 0;
      }
    }
    closedir(fds);
    if (holds && getpid() != atoi(process->d_name)) {
      char comm[300], command[64];
      snprintf(comm, sizeof comm, "/proc/%s/comm", process->d_name);
      readLine(comm, command, sizeof command);
      int n = snprintf(found + used, sizeof found - used, "%spid %s (%s)", used ? ", " : "",
                       process->d_name, command);
      if (n > 0 && size_t(n) < sizeof found - used) used += size_t(n);
    }
  }
  closedir(processes);
  wideText(text, capacity, "%s", found);
}

void runLogAdvice(unsigned long error, wchar_t* text, size_t capacity) {
  text[0] = 0;
  if (error != EACCES && error != EPERM && error != EROFS) return;
  char folder[4096];
  if (!getcwd(folder, sizeof folder)) return;
  struct stat st;
  bool exists = stat("varnok.out", &st) == 0;
  if (!exists && stat(".", &st) != 0) return;
  if (st.st_uid == geteuid()) return;
  struct passwd* owner = getpwuid(st.st_uid);
  char ownerName[256];
  snprintf(ownerName, sizeof ownerName, "%s", owner ? owner->pw_name : "another user");
  if (exists)
    wideText(text, capacity, " (it belongs to %s: sudo chown %s '%s/varnok.out')", ownerName,
             userName(), folder);
  else
    wideText(text, capacity, " (the folder belongs to %s: sudo chown %s '%s')", ownerName,
             userName(), folder);
}

bool runLogAppendable(unsigned long* error) {
  bool exists = access("varnok.out", F_OK) == 0;
  if (access(exists ? "varnok.out" : ".", W_OK) == 0) return true;
  *error = errno;
  return false;
}

namespace {

// What tells one tty apart: its driver (a 16550's type), and for a USB
// adapter the ids, maker, product and serial number of the USB device.
void describe(const char* name, const char* type, char* line, size_t capacity) {
  snprintf(line, capacity, "/dev/%s", name);
  // COMn names /dev/ttyS(n-1) in varnok.ini.
  if (strncmp(name, "ttyS", 4) == 0) append(line, capacity, " (COM%d)", atoi(name + 4) + 1);
  char path[PATH_MAX + 32], device[PATH_MAX], target[PATH_MAX], value[256];
  snprintf(path, sizeof path, "/sys/class/tty/%s/device", name);
  if (!realpath(path, device)) return;
  // Up from the tty's device: the first driver that is not the serial
  // core's own ("port" on kernels from 6.5), and the USB device with ids.
  bool driverFound = false;
  for (char* end = strrchr(device, '/'); end && end != device; end = strrchr(device, '/')) {
    snprintf(path, sizeof path, "%s/driver", device);
    ssize_t n = readlink(path, target, sizeof target - 1);
    target[n > 0 ? n : 0] = 0;
    const char* driver = strrchr(target, '/') ? strrchr(target, '/') + 1 : "";
    if (!driverFound && driver[0] && !strstr(target, "/serial-base/")) {
      append(line, capacity, "  %s", driver);
      static const char* const kUarts[] = {"", "8250", "16450", "16550", "16550A"};
      int uart = atoi(type);
      if (uart > 0) append(line, capacity, " %s", uart < 5 ? kUarts[uart] : type);
      driverFound = true;
    }
    char vendor[64], product[64];
    snprintf(path, sizeof path, "%s/idVendor", device);
    readLine(path, vendor, sizeof vendor);
    if (vendor[0]) {
      snprintf(path, sizeof path, "%s/idProduct", device);
      readLine(path, product, sizeof product);
      append(line, capacity, ", USB %s:%s", vendor, product);
      static const char* const kNames[] = {"manufacturer", "product", "serial"};
      for (const char* what : kNames) {
        snprintf(path, sizeof path, "%s/%s", device, what);
        readLine(path, value, sizeof value);
        if (value[0])
          append(line, capacity, ", %s%s", strcmp(what, "serial") == 0 ? "serial " : "", value);
      }
      return;
    }
    *end = 0;
  }
}

// The names under /dev/serial/by-id that lead to /dev/NAME.
void byIdNames(const char* name, char* line, size_t capacity) {
  DIR* links = opendir("/dev/serial/by-id");
  if (!links) return;
  char wanted[300];
  snprintf(wanted, sizeof wanted, "/dev/%s", name);
  while (struct dirent* link = readdir(links)) {
    char path[600], resolved[PATH_MAX];
    snprintf(path, sizeof path, "/dev/serial/by-id/%s", link->d_name);
    if (link->d_name[0] != '.' && realpath(path, resolved) && strcmp(resolved, wanted) == 0)
      append(line, capacity, ", also %s", path);
  }
  closedir(links);
}

}  // namespace

int listPorts(PortLine each, void* context) {
  // A tty with a driver is a port of some hardware; virtual consoles and
  // pseudo-terminals have none. The 8250 driver makes ttyS0 to ttyS31
  // whether or not a UART is there: its type is 0 (unknown) where none is.
  struct dirent** ttys = nullptr;
  int count = scandir("/sys/class/tty", &ttys, nullptr, versionsort);
  int listed = 0;
  for (int i = 0; i < count; ++i) {
    const char* name = ttys[i]->d_name;
    char path[600], type[32];
    snprintf(path, sizeof path, "/sys/class/tty/%s/device/driver", name);
    snprintf(type, sizeof type, "-");
    if (name[0] != '.' && access(path, F_OK) == 0) {
      snprintf(path, sizeof path, "/sys/class/tty/%s/type", name);
      readLine(path, type, sizeof type);
    }
    if (strcmp(type, "-") != 0 && strcmp(type, "0") != 0) {
      char line[2048];
      describe(name, type, line, sizeof line);
      byIdNames(name, line, sizeof line);
      wchar_t wide[2048];
      widenInto(line, wide, 2048);
      each(wide, context);
      ++listed;
    }
    free(ttys[i]);
  }
  free(ttys);
  return listed;
}
