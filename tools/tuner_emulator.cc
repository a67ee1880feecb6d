// tuner_emulator: stands in for a DCT2xxx tuner where none is attached.
//
// It opens a pseudo-terminal, prints the path of the device end on its
// first line, and reads whatever arrives on it. Arriving bytes are decoded
// into frames (DLE, type, length, payload, check, DLE ETX); every check is
// verified as CRC-16/KERMIT. One line is printed per complete key-command
// message and one per frame that is malformed or out of place:
//
//   key 4 at 0.123456
//   bad frame: check 1234, expected 71C0: 10 78 00 04 10 40 22 04 12 34 10 03
//
// Times are seconds since the emulator started, taken when the message's
// last byte arrived.
//
// Options:
//   --raw FILE       also append every byte received to FILE
//   --close-after N  after N key messages, close the line and exit, as a
//                    box that is switched off
//   --stall          hold the line's flow and read nothing, as a device that
//                    takes no bytes
//   --link PATH      also make PATH a symbolic link to the device end, so
//                    that a fixed name (a Wine COM port mapping) reaches it
//   --line           print the line's settings whenever bytes arrive under
//                    settings other than the last printed, as
//                    "line 9600 8N1 flow none" (or "flow rts/cts",
//                    "flow xon/xoff"): a virtual machine's serial device
//                    passes the settings its driver was given on to the
//                    device end it is wired to
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

uint16_t crcKermit(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return crc;
}

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char b[4];
  for (uint8_t v : bytes) {
    snprintf(b, sizeof b, "%s%02X", out.empty() ? "" : " ", v);
    out += b;
  }
  return out;
}

const auto kStart = std::chrono::steady_clock::now();

double secondsSinceStart() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - kStart).count();
}

// Frames of one key-command message, in order; the third carries the key.
struct Frame {
  uint8_t type;
  std::vector<uint8_t> payload;
};
const Frame kExpected[3] = {
    {0x70, {0x03, 0x40}}, {0x78, {0x03, 0x40, 0x00}}, {0x78, {0x10, 0x40, 0x22}}};

class Decoder {
 public:
  int keys = 0;

  void feed(uint8_t byte) {
    raw_.push_back(byte);
    switch (state_) {
      case kIdle:
        if (byte == 0x10) {
          raw_ = {byte};
          state_ = kType;
        } else {
          bad("stray byte outside a frame");
        }
        return;
      case kType:
        body_ = {byte};
        state_ = kLengthHigh;
        return;
      case kLengthHigh:
        body_.push_back(byte);
        state_ = kLengthLow;
        return;
      case kLengthLow:
        body_.push_back(byte);
        length_ = body_[1] << 8 | body_[2];
        if (length_ > 64) return bad("length " + std::to_string(length_));
        state_ = length_ ? kPayload : kCheckHigh;
        return;
      case kPayload:
        body_.push_back(byte);
        if (body_.size() == size_t(3 + length_)) state_ = kCheckHigh;
        return;
      case kCheckHigh:
        check_ = uint16_t(byte << 8);
        state_ = kCheckLow;
        return;
      case kCheckLow:
        check_ |= byte;
        state_ = kEndDle;
        return;
      case kEndDle:
        if (byte != 0x10) return bad("no DLE ETX after the check");
        state_ = kEndEtx;
        return;
      case kEndEtx:
        if (byte != 0x03) return bad("no DLE ETX after the check");
        frameDone();
        return;
    }
  }

  // Whatever is left half-way when the line closes.
  void finish() {
    if (state_ != kIdle || step_ != 0) bad("message cut off");
  }

 private:
  enum State {
    kIdle,
    kType,
    kLengthHigh,
    kLengthLow,
    kPayload,
    kCheckHigh,
    kCheckLow,
    kEndDle,
    kEndEtx
  };

  void bad(const std::string& why) {
    printf("bad frame: %s: %s\n", why.c_str(), hex(raw_).c_str());
    raw_.clear();
    state_ = kIdle;
    step_ = 0;
  }

  void frameDone() {
    uint16_t expected = crcKermit(body_);
    if (check_ != expected) {
      char why[64];
      snprintf(why, sizeof why, "check %04X, expected %04X", check_, expected);
      return bad(why);
    }
    Frame frame{body_[0], std::vector<uint8_t>(body_.begin() + 3, body_.end())};
    const Frame& want = kExpected[step_];
    bool fits = frame.type == want.type &&
                frame.payload.size() == want.payload.size() + (step_ == 2 ? 1 : 0) &&
                std::equal(want.payload.begin(), want.payload.end(), frame.payload.begin());
    if (!fits) {
      char why[64];
      snprintf(why, sizeof why, "frame out of place (message frame %d expected)", step_ + 1);
      return bad(why);
    }
    raw_.clear();
    state_ = kIdle;
    if (++step_ < 3) return;
    step_ = 0;
    ++keys;
    printf("key %d at %.6f\n", frame.payload[3], secondsSinceStart());
  }

  State state_ = kIdle;
  std::vector<uint8_t> raw_, body_;
  int length_ = 0;
  uint16_t check_ = 0;
  int step_ = 0;
};

int usage() {
  fprintf(stderr,
          "usage: tuner_emulator [--raw FILE] [--close-after N] [--stall] [--link PATH] "
          "[--line]\n");
  return 2;
}

std::string lineSettings(int fd) {
  struct termios t;
  if (tcgetattr(fd, &t) != 0) return "line unknown";
  static const struct {
    speed_t speed;
    int baud;
  } kSpeeds[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                 {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
  int baud = 0;
  for (const auto& s : kSpeeds)
    if (cfgetospeed(&t) == s.speed) baud = s.baud;
  int bits = (t.c_cflag & CSIZE) == CS5   ? 5
             : (t.c_cflag & CSIZE) == CS6 ? 6
             : (t.c_cflag & CSIZE) == CS7 ? 7
                                          : 8;
  char parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
  const char* flow = (t.c_cflag & CRTSCTS)          ? "rts/cts"
                     : (t.c_iflag & (IXON | IXOFF)) ? "xon/xoff"
                                                    : "none";
  char text[64];
  snprintf(text, sizeof text, "line %d %d%c%d flow %s", baud, bits, parity,
           (t.c_cflag & CSTOPB) ? 2 : 1, flow);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const char* rawPath = nullptr;
  const char* linkPath = nullptr;
  long closeAfter = -1;
  bool stall = false;
  bool reportLine = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--raw" && i + 1 < argc) {
      rawPath = argv[++i];
    } else if (a == "--close-after" && i + 1 < argc) {
      closeAfter = strtol(argv[++i], nullptr, 10);
    } else if (a == "--link" && i + 1 < argc) {
      linkPath = argv[++i];
    } else if (a == "--stall") {
      stall = true;
    } else if (a == "--line") {
      reportLine = true;
    } else {
      return usage();
    }
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    perror("tuner_emulator: pseudo-terminal");
    return 1;
  }
  const char* device = ptsname(master);
  // Keep the device end open ourselves: otherwise the line hangs up each
  // time the program closes it, and reads here fail until it opens again.
  int slave = open(device, O_RDWR | O_NOCTTY);
  if (slave < 0) {
    perror("tuner_emulator: device end");
    return 1;
  }
  FILE* raw = nullptr;
  if (rawPath && !(raw = fopen(rawPath, "ab"))) {
    perror("tuner_emulator: raw file");
    return 1;
  }
  if (linkPath) {
    unlink(linkPath);
    if (symlink(device, linkPath) != 0) {
      perror("tuner_emulator: link");
      return 1;
    }
  }
  if (stall) tcflow(slave, TCOOFF);  // writers block as on a line held by flow control
  printf("%s\n", device);

  Decoder decoder;
  uint8_t buffer[4096];
  for (;;) {
    if (stall) {
      pause();
      continue;
    }
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, -1) < 0) continue;
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    if (reportLine) {
      // A pty's two ends share one set of settings.
      static std::string last;
      std::string now = lineSettings(master);
      if (now != last) printf("%s\n", now.c_str());
      last = now;
    }
    if (raw) {
      fwrite(buffer, 1, size_t(n), raw);
      fflush(raw);
    }
    for (ssize_t i = 0; i < n; ++i) {
      decoder.feed(buffer[i]);
      if (closeAfter >= 0 && decoder.keys >= closeAfter) {
        printf("closing the line after %d keys\n", decoder.keys);
        close(slave);
        close(master);
        return 0;
      }
    }
  }
}
