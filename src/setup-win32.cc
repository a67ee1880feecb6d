// The set-up facts on Windows: the COM ports the system lists, with the
// names Device Manager shows. Windows tells no owner or holder that a
// console program could name: those facts are unknown here.
#include <windows.h>

#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "platform-win32.h"

bool changeDirectory(const wchar_t* folder, Error* error) {
  if (SetCurrentDirectoryW(folder)) return true;
  *error = errorFrom(GetLastError());
  return false;
}

void workingDirectory(wchar_t* text, size_t capacity) {
  DWORD length = GetCurrentDirectoryW(DWORD(capacity), text);
  if (length == 0 || length >= capacity) wcscpy(text, L".");
}

void fullPath(const wchar_t* file, wchar_t* text, size_t capacity) {
  DWORD length = GetFullPathNameW(file, DWORD(capacity), text, NULL);
  if (length == 0 || length >= capacity) _snwprintf(text, capacity, L"%ls", file);
  text[capacity - 1] = 0;
}

void deviceTarget(const wchar_t* port, wchar_t path[kPathCapacity], wchar_t target[kPathCapacity]) {
  if (wcsncmp(port, L"\\\\.\\", 4) == 0)
    _snwprintf(path, kPathCapacity, L"%ls", port);
  else
    _snwprintf(path, kPathCapacity, L"\\\\.\\%ls", port);
  path[kPathCapacity - 1] = 0;
  wcscpy(target, path);
}

void deviceAccess(const wchar_t*, DeviceAccess* access) {
  memset(access, 0, sizeof *access);
}

int portHolders(const wchar_t*, Holder*, int) {
  return 0;
}

void runLogOwner(RunLogOwner* owner) {
  memset(owner, 0, sizeof *owner);
}

bool runLogAppendable(Error* error) {
  // Opening for appending writes nothing; where there is no log yet, one
  // made and deleted at once shows that the folder takes it.
  HANDLE h = CreateFileW(L".\\varnok.out", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
    h = CreateFileW(L".\\varnok.out", FILE_APPEND_DATA, 0, NULL, CREATE_NEW,
                    FILE_FLAG_DELETE_ON_CLOSE, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    *error = errorFrom(GetLastError());
    return false;
  }
  CloseHandle(h);
  return true;
}

namespace {

// Device Manager's name for the port `com` ("USB Serial Port (COM5)"), or
// "".
void friendlyName(const wchar_t* com, wchar_t* name, DWORD capacity) {
  name[0] = 0;
  HDEVINFO ports = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, NULL, NULL, DIGCF_PRESENT);
  if (ports == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  for (DWORD i = 0; !name[0] && SetupDiEnumDeviceInfo(ports, i, &device); ++i) {
    HKEY key = SetupDiOpenDevRegKey(ports, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t portName[64];
    DWORD size = sizeof portName - sizeof(wchar_t);
    DWORD type = 0;
    bool same =
        RegQueryValueExW(key, L"PortName", NULL, &type, LPBYTE(portName), &size) == ERROR_SUCCESS &&
        type == REG_SZ;
    RegCloseKey(key);
    portName[size / sizeof(wchar_t)] = 0;
    if (!same || _wcsicmp(portName, com) != 0) continue;
    if (!SetupDiGetDeviceRegistryPropertyW(ports, &device, SPDRP_FRIENDLYNAME, NULL, PBYTE(name),
                                           capacity * sizeof(wchar_t), NULL))
      name[0] = 0;
  }
  SetupDiDestroyDeviceInfoList(ports);
}

}  // namespace

int listPorts(PortFound found, void* context) {
  // The serial ports' device map: "\Device\Serial0" = "COM1".
  HKEY map;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) !=
      ERROR_SUCCESS)
    return 0;
  // In the order of their numbers; the map holds them in any order.
  struct {
    long number;
    DWORD index;
  } ports[256];
  int count = 0;
  wchar_t device[256], com[64];
  for (DWORD i = 0; count < 256; ++i) {
    DWORD deviceSize = 256, comSize = sizeof com - sizeof(wchar_t), type = 0;
    LONG found = RegEnumValueW(map, i, device, &deviceSize, NULL, &type, LPBYTE(com), &comSize);
    if (found == ERROR_NO_MORE_ITEMS) break;
    if (found != ERROR_SUCCESS || type != REG_SZ) continue;
    com[comSize / sizeof(wchar_t)] = 0;
    int at = count++;
    for (; at > 0 && ports[at - 1].number > wcstol(com + 3, NULL, 10); --at)
      ports[at] = ports[at - 1];
    ports[at].number = wcstol(com + 3, NULL, 10);
    ports[at].index = i;
  }
  for (int p = 0; p < count; ++p) {
    DWORD deviceSize = 256, comSize = sizeof com - sizeof(wchar_t), type = 0;
    if (RegEnumValueW(map, ports[p].index, device, &deviceSize, NULL, &type, LPBYTE(com),
                      &comSize) != ERROR_SUCCESS)
      continue;
    com[comSize / sizeof(wchar_t)] = 0;
    PortInfo port;
    memset(&port, 0, sizeof port);
    wcsncpy(port.name, com, kPathCapacity - 1);
    wcsncpy(port.driver, device, kNameCapacity - 1);
    friendlyName(com, port.about, 256);
    found(port, context);
  }
  RegCloseKey(map);
  return count;
}

int takenAdapters(TakenAdapter*, int) {
  return 0;
}
