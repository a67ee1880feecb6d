#include "fake_platform.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "key_command.h"
#include "serial_line.h"

// The fake writes the log in binary mode and adds the CR itself, so the
// bytes are the same on every platform the tests run on.
const char kLogLineEnd[] = "\r\n";

namespace fake {

std::vector<std::string> calls;
std::map<std::wstring, std::wstring> settings;
bool openFails;
ErrorKind configureResult;
int failWriteNumber;
bool logFails;
uint32_t heldFor;
std::string logAtOpen;
int64_t now;
const char kLogPath[] = "fake-varnok.out";

namespace {
int writeCount;
std::string narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += *text < 128 ? char(*text) : '?';
  return out;
}
}  // namespace

void reset() {
  calls.clear();
  settings.clear();
  openFails = false;
  configureResult = kErrorNone;
  failWriteNumber = 0;
  logFails = false;
  heldFor = 0;
  logAtOpen.clear();
  now = 0;
  writeCount = 0;
  std::remove(kLogPath);
  // Program-wide state starts over as in a new process.
  hPort = kNoDevice;
  std::memset(portName, 0, sizeof portName);
  std::memset(keyMessage + kKeySlot, 0xFF, 3);
}

std::string logBytes() {
  std::ifstream in(kLogPath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string hex(const uint8_t* bytes, size_t count) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(b, sizeof b, "%s%02X", i ? " " : "", bytes[i]);
    out += b;
  }
  return out;
}

std::vector<std::string> writes() {
  std::vector<std::string> out;
  for (const std::string& c : calls)
    if (c.rfind("write ", 0) == 0) out.push_back(c.substr(6));
  return out;
}

}  // namespace fake

Device deviceOpen(const wchar_t* name, uint32_t patience, Error* error) {
  fake::calls.push_back("open " + fake::narrow(name));
  fake::logAtOpen = fake::logBytes();
  if (fake::heldFor > 0) {
    // Another run holds the port for heldFor milliseconds more.
    uint32_t waited = std::min(patience, fake::heldFor);
    fake::heldFor -= waited;
    fake::now += waited;
    fake::calls.back() += " waited " + std::to_string(waited);
    if (fake::heldFor > 0) {
      *error = Error{kErrorBusy, 0};
      return kBadDevice;
    }
  }
  if (fake::openFails || !*name) {
    *error = Error{kErrorNotFound, 2};
    return kBadDevice;
  }
  return Device(42);
}

Error deviceConfigure(Device, const wchar_t* definition) {
  fake::calls.push_back("configure " + fake::narrow(definition));
  return Error{fake::configureResult, fake::configureResult == kErrorOther ? 22ul : 0ul};
}

bool deviceWrite(Device, const unsigned char* bytes, uint32_t count, Error* error) {
  if (++fake::writeCount == fake::failWriteNumber) {
    fake::calls.push_back("write failed");
    *error = Error{kErrorOther, 5};
    return false;
  }
  fake::calls.push_back("write " + fake::hex(bytes, count));
  return true;
}

void deviceClose(Device device) {
  if (device != kNoDevice && device != kBadDevice) fake::calls.push_back("close");
}

void leavePortQueue() {
  fake::calls.push_back("leave queue");
}

void systemErrorText(unsigned long code, wchar_t* text, size_t capacity) {
  std::swprintf(text, capacity, L"fake error %lu", code);
}

uint32_t readProfileString(const wchar_t* section, const wchar_t* key, wchar_t* value,
                           uint32_t capacity, const wchar_t*) {
  value[0] = 0;
  auto found = fake::settings.find(key);
  if (std::wcscmp(section, L"Settings") != 0 || found == fake::settings.end()) return 0;
  size_t length = std::min<size_t>(found->second.size(), capacity - 1);
  std::wmemcpy(value, found->second.c_str(), length);
  value[length] = 0;
  return uint32_t(length);
}

void sleepMilliseconds(uint32_t milliseconds) {
  fake::calls.push_back("sleep " + std::to_string(milliseconds));
  fake::now += milliseconds;
}

int64_t monotonicMilliseconds() {
  return fake::now;
}

FileState fileState(const wchar_t*, Error*) {
  return fake::settings.empty() ? kFileMissing : kFileReadable;
}

void workingDirectory(wchar_t* text, size_t capacity) {
  std::wcsncpy(text, L"/fake", capacity);
}

void openStandardStreams() {}

void timeText(int64_t, char text[25]) {
  std::strcpy(text, "Mon Jan 05 09:30:00 2009");
}

void localTimeText(char text[25]) {
  timeText(0, text);
}

FILE* openRunLog(bool, Error* error) {
  if (fake::logFails) {
    *error = Error{kErrorDenied, 13};
    return nullptr;
  }
  return std::fopen(fake::kLogPath, "ab");
}

bool lockRunLog(FILE*, uint32_t) {
  return true;
}

bool runLogEndsLine(FILE*) {
  std::string log = fake::logBytes();
  return log.empty() || log.back() == '\n';
}

bool changeDirectory(const wchar_t*, Error*) {
  return true;
}

void fullPath(const wchar_t* file, wchar_t* text, size_t capacity) {
  wcsncpy(text, file, capacity);
}

void deviceTarget(const wchar_t* port, wchar_t path[kPathCapacity], wchar_t target[kPathCapacity]) {
  wcsncpy(path, port, kPathCapacity);
  wcsncpy(target, port, kPathCapacity);
}

void deviceAccess(const wchar_t*, DeviceAccess* access) {
  *access = DeviceAccess();
}

int portHolders(const wchar_t*, Holder*, int) {
  return 0;
}

void runLogOwner(RunLogOwner* owner) {
  *owner = RunLogOwner();
}

bool runLogAppendable(Error*) {
  return true;
}

int listPorts(PortFound, void*) {
  return 0;
}

int takenAdapters(TakenAdapter*, int) {
  return 0;
}
