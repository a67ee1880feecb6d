// The set-up facts on POSIX systems: the serial ports from sysfs (read,
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

namespace {

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

// This process's user by name, into `name`.
void userName(wchar_t* name) {
  struct passwd* user = getpwuid(geteuid());
  widenInto(user ? user->pw_name : "this user", name, kNameCapacity);
}

// The name of the user `uid`, into `name`.
void ownerName(uid_t uid, wchar_t* name) {
  struct passwd* owner = getpwuid(uid);
  widenInto(owner ? owner->pw_name : "another user", name, kNameCapacity);
}

// The device a port leads to, links followed.
bool resolvedDevice(const wchar_t* port, char* resolved) {
  char path[4096];
  return devicePath(port, path, sizeof path) && realpath(path, resolved) != nullptr;
}

// Whether this user is in the group `gid` by the user database (a group
// joined since this process started counts there, not in the process).
bool userInGroup(gid_t gid) {
  // More groups than any real set-up gives one user; getgrouplist says
  // when there are more, and then the answer is no.
  gid_t groups[256];
  int count = 256;
  struct passwd* user = getpwuid(geteuid());
  if (!user || getgrouplist(user->pw_name, user->pw_gid, groups, &count) < 0) return false;
  for (int i = 0; i < count; ++i)
    if (groups[i] == gid) return true;
  return false;
}

// Whether the process in /proc/`pid` has `device` open.
bool holds(const char* pid, const char* device) {
  char fdPath[300];
  snprintf(fdPath, sizeof fdPath, "/proc/%s/fd", pid);
  DIR* fds = opendir(fdPath);
  if (!fds) return false;
  bool found = false;
  while (struct dirent* fd = readdir(fds)) {
    char link[600], target[PATH_MAX];
    snprintf(link, sizeof link, "%s/%s", fdPath, fd->d_name);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n > 0) {
      target[n] = 0;
      found = found || strcmp(target, device) == 0;
    }
  }
  closedir(fds);
  return found;
}

// The processes other than this one that have the file `path` open, as far
// as this user may look (root sees all).
int holdersOf(const char* path, Holder* holders, int capacity) {
  DIR* processes = opendir("/proc");
  if (!processes) return 0;
  int count = 0;
  while (struct dirent* process = readdir(processes)) {
    const char* pid = process->d_name;
    if (pid[0] < '1' || pid[0] > '9' || getpid() == atoi(pid) || !holds(pid, path)) continue;
    if (count == capacity) break;
    char comm[300], command[kNameCapacity];
    snprintf(comm, sizeof comm, "/proc/%s/comm", pid);
    readLine(comm, command, sizeof command);
    holders[count].pid = atol(pid);
    widenInto(command, holders[count].name, kNameCapacity);
    ++count;
  }
  closedir(processes);
  return count;
}

// "USB 0403:6001 FTDI FT232R USB UART serial A1B2" for the USB device in
// the sysfs folder `device`; false where it is no USB device.
bool usbDevice(const char* device, wchar_t* about, size_t capacity) {
  char path[PATH_MAX + 32], vendor[64], product[64], value[256], text[1024];
  snprintf(path, sizeof path, "%s/idVendor", device);
  readLine(path, vendor, sizeof vendor);
  if (!vendor[0]) return false;
  snprintf(path, sizeof path, "%s/idProduct", device);
  readLine(path, product, sizeof product);
  snprintf(text, sizeof text, "USB %s:%s", vendor, product);
  static const char* const kNames[] = {"manufacturer", "product", "serial"};
  for (const char* what : kNames) {
    snprintf(path, sizeof path, "%s/%s", device, what);
    readLine(path, value, sizeof value);
    if (value[0])
      append(text, sizeof text, " %s%s", strcmp(what, "serial") ? "" : "serial ", value);
  }
  widenInto(text, about, capacity);
  return true;
}

// Whether the USB device in the sysfs folder `device` is one of the
// USB-serial chips that recorder boxes use (and brltty takes for braille
// displays): FTDI, WCH's CH340, Silicon Labs' CP210x, Prolific's PL2303.
bool serialChip(const char* device) {
  char path[PATH_MAX + 32], vendor[64];
  snprintf(path, sizeof path, "%s/idVendor", device);
  readLine(path, vendor, sizeof vendor);
  static const char* const kVendors[] = {"0403", "1a86", "10c4", "067b"};
  for (const char* v : kVendors)
    if (strcmp(vendor, v) == 0) return true;
  return false;
}

}  // namespace

bool changeDirectory(const wchar_t* folder, Error* error) {
  char path[4096];
  if (!narrowPath(folder, path, sizeof path)) {
    *error = errorFrom(folder[0] ? ENAMETOOLONG : ENOENT);
    return false;
  }
  if (chdir(path) == 0) return true;
  *error = errorFrom(errno);
  return false;
}

void workingDirectory(wchar_t* text, size_t capacity) {
  char path[4096];
  if (!getcwd(path, sizeof path)) strcpy(path, ".");
  widenInto(path, text, capacity);
}

void fullPath(const wchar_t* file, wchar_t* text, size_t capacity) {
  char path[4096], folder[4096], full[8200];
  if (!narrowPath(file, path, sizeof path)) path[0] = 0;
  if (!getcwd(folder, sizeof folder)) strcpy(folder, ".");
  const char* name = strncmp(path, "./", 2) == 0 ? path + 2 : path;
  snprintf(full, sizeof full, "%s/%s", strcmp(folder, "/") == 0 ? "" : folder, name);
  widenInto(full, text, capacity);
}

void deviceTarget(const wchar_t* port, wchar_t path[kPathCapacity], wchar_t target[kPathCapacity]) {
  char device[4096], resolved[PATH_MAX];
  if (!devicePath(port, device, sizeof device)) device[0] = 0;
  widenInto(device, path, kPathCapacity);
  widenInto(realpath(device, resolved) ? resolved : device, target, kPathCapacity);
}

void deviceAccess(const wchar_t* port, DeviceAccess* access) {
  memset(access, 0, sizeof *access);
  char resolved[PATH_MAX];
  struct stat device;
  if (!resolvedDevice(port, resolved) || stat(resolved, &device) != 0) return;
  access->known = true;
  widenInto(resolved, access->device, kPathCapacity);
  ownerName(device.st_uid, access->owner);
  struct group* group = getgrgid(device.st_gid);
  if (group) widenInto(group->gr_name, access->group, kNameCapacity);
  access->groupMayUse = group && (device.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  userName(access->user);
  access->userInGroup = userInGroup(device.st_gid);
}

int portHolders(const wchar_t* port, Holder* holders, int capacity) {
  char resolved[PATH_MAX];
  return resolvedDevice(port, resolved) ? holdersOf(resolved, holders, capacity) : 0;
}

void runLogOwner(RunLogOwner* owner) {
  memset(owner, 0, sizeof *owner);
  char folder[4096];
  struct stat st;
  if (!getcwd(folder, sizeof folder)) return;
  owner->logExists = stat("varnok.out", &st) == 0;
  if (!owner->logExists && stat(".", &st) != 0) return;
  owner->known = true;
  owner->mine = st.st_uid == geteuid();
  ownerName(st.st_uid, owner->owner);
  userName(owner->user);
  widenInto(folder, owner->folder, kPathCapacity);
}

bool runLogAppendable(Error* error) {
  bool exists = access("varnok.out", F_OK) == 0;
  if (access(exists ? "varnok.out" : ".", W_OK) == 0) return true;
  *error = errorFrom(errno);
  return false;
}

namespace {

// What tells one tty apart: its driver (a 16550's type), and for a USB
// adapter the ids, maker, product and serial number of the USB device.
void describe(const char* name, const char* type, PortInfo* port) {
  char path[PATH_MAX + 32], device[PATH_MAX], target[PATH_MAX];
  snprintf(path, sizeof path, "/sys/class/tty/%s/device", name);
  if (!realpath(path, device)) return;
  // Up from the tty's device: the first driver that is not the serial
  // core's own ("port" on kernels from 6.5), and the USB device with ids.
  for (char* end = strrchr(device, '/'); end && end != device; end = strrchr(device, '/')) {
    snprintf(path, sizeof path, "%s/driver", device);
    ssize_t n = readlink(path, target, sizeof target - 1);
    target[n > 0 ? n : 0] = 0;
    const char* driver = strrchr(target, '/') ? strrchr(target, '/') + 1 : "";
    if (!port->driver[0] && driver[0] && !strstr(target, "/serial-base/")) {
      static const char* const kUarts[] = {"", "8250", "16450", "16550", "16550A"};
      int uart = atoi(type);
      char text[kNameCapacity];
      snprintf(text, sizeof text, "%s%s%s", driver, uart > 0 ? " " : "",
               uart <= 0  ? ""
               : uart < 5 ? kUarts[uart]
                          : type);
      widenInto(text, port->driver, kNameCapacity);
    }
    if (usbDevice(device, port->about, sizeof port->about / sizeof port->about[0])) return;
    *end = 0;
  }
}

// The first name under /dev/serial/by-id that leads to `device`, which
// survives reboots and replugging.
bool byIdName(const char* device, char* name, size_t capacity) {
  DIR* links = opendir("/dev/serial/by-id");
  if (!links) return false;
  bool found = false;
  while (struct dirent* link = readdir(links)) {
    char path[600], resolved[PATH_MAX];
    snprintf(path, sizeof path, "/dev/serial/by-id/%s", link->d_name);
    if (link->d_name[0] != '.' && realpath(path, resolved) && strcmp(resolved, device) == 0 &&
        (!found || strcmp(path, name) < 0)) {
      snprintf(name, capacity, "%s", path);
      found = true;
    }
  }
  closedir(links);
  return found;
}

// Whether the tty NAME is the system console (or one of them).
bool isConsole(const char* name) {
  char active[256];
  readLine("/sys/class/tty/console/active", active, sizeof active);
  for (char* word = strtok(active, " "); word; word = strtok(nullptr, " "))
    if (strcmp(word, name) == 0) return true;
  return false;
}

// The tty NAME as a port: the name for varnok.ini first.
void portInfo(const char* name, const char* type, PortInfo* port) {
  memset(port, 0, sizeof *port);
  char device[300], byId[600];
  snprintf(device, sizeof device, "/dev/%s", name);
  bool linked = byIdName(device, byId, sizeof byId);
  widenInto(linked ? byId : device, port->name, kPathCapacity);
  if (linked) widenInto(device, port->device, kPathCapacity);
  // COMn names /dev/ttyS(n-1) in varnok.ini.
  if (strncmp(name, "ttyS", 4) == 0) swprintf(port->alias, 16, L"COM%d", atoi(name + 4) + 1);
  describe(name, type, port);
  port->console = isConsole(name);
}

}  // namespace

int listPorts(PortFound found, void* context) {
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
      PortInfo port;
      portInfo(name, type, &port);
      found(port, context);
      ++listed;
    }
    free(ttys[i]);
  }
  free(ttys);
  return listed;
}

int takenAdapters(TakenAdapter* adapters, int capacity) {
  // An interface bound to usbfs is one a program claimed for itself; a
  // USB serial chip's then has no tty.
  DIR* interfaces = opendir("/sys/bus/usb/devices");
  if (!interfaces) return 0;
  int count = 0;
  while (struct dirent* entry = readdir(interfaces)) {
    char path[PATH_MAX + 32], target[PATH_MAX], device[PATH_MAX];
    snprintf(path, sizeof path, "/sys/bus/usb/devices/%s/driver", entry->d_name);
    ssize_t n = readlink(path, target, sizeof target - 1);
    target[n > 0 ? n : 0] = 0;
    if (!strchr(entry->d_name, ':') || !strstr(target, "/usbfs") || count == capacity) continue;
    snprintf(path, sizeof path, "/sys/bus/usb/devices/%s", entry->d_name);
    if (!realpath(path, device) || !strrchr(device, '/')) continue;
    *strrchr(device, '/') = 0;
    TakenAdapter* a = &adapters[count];
    memset(a, 0, sizeof *a);
    if (!serialChip(device) || !usbDevice(device, a->about, 256)) continue;
    char bus[16], number[16], node[64];
    snprintf(path, sizeof path, "%s/busnum", device);
    readLine(path, bus, sizeof bus);
    snprintf(path, sizeof path, "%s/devnum", device);
    readLine(path, number, sizeof number);
    snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", atoi(bus), atoi(number));
    widenInto(node, a->node, kPathCapacity);
    a->holderCount = holdersOf(node, a->holders, 4);
    ++count;
  }
  closedir(interfaces);
  return count;
}
