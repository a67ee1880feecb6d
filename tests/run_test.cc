#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "advice.h"
#include "command_line.h"
#include "exit_status.h"
#include "fake_platform.h"
#include "run_log.h"
#include "serial_line.h"
#include "settings.h"

namespace {

const char kHeader42[] =
    "=============================================\n"
    "| Mon Jan 05 09:30:00 2009\n"
    "| Changing to channel 42\n"
    "| Number of digits to send to DCT2xxx: 2\n"
    "=============================================\n";

// clang-format off
const std::string kRefused = "Couldn't build the DCB. Usually a problem a problem with the communications specification string.\n";
// clang-format on

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

int runWith(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"varnok");
  std::vector<wchar_t*> argv;
  for (std::wstring& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return run(int(args.size()), argv.data());
}

std::string message(int digit) {
  static const char* kChecks[10] = {"37 E4", "26 6D", "14 F6", "05 7F", "71 C0",
                                    "60 49", "52 D2", "43 5B", "BB AC", "AA 25"};
  return "write 10 70 00 02 03 40 C8 27 10 03 10 78 00 03 03 40 00 68 96 10 03 10 78 00 04 10 40 "
         "22 0" +
         std::to_string(digit) + " " + kChecks[digit] + " 10 03";
}

// A new process's state, with a port set.
void resetWithPort() {
  fake::reset();
  fake::settings[L"port"] = L"COM1";
}

class Run : public testing::Test {
 protected:
  void SetUp() override {
    resetWithPort();
    fake::settings[L"sleepTime"] = L"250";
  }
};

TEST_F(Run, FortyTwoSendsTwoMessagesAndLogsTheRecord) {
  EXPECT_EQ(runWith({L"42"}), kExitOk);
  EXPECT_EQ(fake::logBytes(), crlf(std::string(kHeader42) + "Port = COM1\n"
                                                            "Varnok opened a port to: COM1\n"
                                                            "digit 1 of channel: 4\n"
                                                            "digit 2 of channel: 2\n"
                                                            "Closing port COM1\n\n\n"));
  std::vector<std::string> want = {
      "open COM1", "configure 9600,N,8,1", message(4), "sleep 250", message(2), "sleep 250",
      "close"};
  EXPECT_EQ(fake::calls, want);
}

TEST_F(Run, HeldPortIsWaitedForBeforeTheRecordBegins) {
  const struct {
    uint32_t heldFor;
    std::vector<std::string> opens;
    bool notice;
    int status;
  } cases[] = {
      {0, {"open COM1"}, false, kExitOk},
      {600, {"open COM1 waited 600"}, false, kExitOk},
      {4000, {"open COM1 waited 1000", "open COM1 waited 3000"}, true, kExitOk},
      {60000, {"open COM1 waited 1000", "open COM1 waited 9000"}, true, kExitFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.heldFor);
    resetWithPort();
    fake::heldFor = c.heldFor;
    testing::internal::CaptureStderr();
    EXPECT_EQ(runWith({L"42"}), c.status);
    std::string stderrText = testing::internal::GetCapturedStderr();
    std::vector<std::string> opens(fake::calls.begin(), fake::calls.begin() + c.opens.size());
    EXPECT_EQ(opens, c.opens);
    // Another run's record may still be on its way: ours begins after.
    EXPECT_EQ(fake::logAtOpen, "");
    EXPECT_EQ(stderrText.find("waiting up to 10 seconds") != std::string::npos, c.notice);
    EXPECT_EQ(fake::writes().size(), c.status == kExitOk ? 2u : 0u);
  }
  EXPECT_NE(fake::logBytes().find("Port = COM1\r\nVarnok cannot open port: COM1\r\n"),
            std::string::npos);
}

TEST_F(Run, LeadingZerosAreDigitsToo) {
  EXPECT_EQ(runWith({L"007"}), kExitOk);
  std::vector<std::string> want = {message(0), message(0), message(7)};
  EXPECT_EQ(fake::writes(),
            std::vector<std::string>({want[0].substr(6), want[1].substr(6), want[2].substr(6)}));
  EXPECT_NE(fake::logBytes().find(crlf("digit 1 of channel: 0\ndigit 2 of channel: 0\n"
                                       "digit 3 of channel: 7\n")),
            std::string::npos);
}

TEST_F(Run, EmptyChannelIsRefusedAndThePortLeftAlone) {
  EXPECT_EQ(runWith({L""}), kExitUsage);
  EXPECT_EQ(fake::logBytes(), crlf("=============================================\n"
                                   "| Mon Jan 05 09:30:00 2009\n"
                                   "| Changing to channel \n"
                                   "| Number of digits to send to DCT2xxx: 0\n"
                                   "=============================================\n"
                                   "Cannot change to channel : no digits were given\n\n\n"));
  EXPECT_TRUE(fake::calls.empty());
}

TEST_F(Run, RuleGrowsWithTheDigitsOfTheCount) {
  const struct {
    size_t length;
    size_t rule;
  } cases[] = {{9, 45}, {10, 46}, {99, 46}, {100, 47}, {999, 47}, {1000, 48}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    resetWithPort();
    fake::settings[L"sleepTime"] = L"0";
    EXPECT_EQ(runWith({std::wstring(c.length, L'1')}), kExitOk);
    std::string log = fake::logBytes();
    EXPECT_EQ(log.substr(0, c.rule + 2), std::string(c.rule, '=') + "\r\n");
    EXPECT_EQ(fake::writes().size(), c.length);
  }
}

TEST_F(Run, PortThatDoesNotOpenIsLoggedAndEveryDigitStillWalked) {
  fake::openFails = true;
  EXPECT_EQ(runWith({L"42"}), kExitFailed);
  EXPECT_EQ(fake::logBytes(), crlf(std::string(kHeader42) + "Port = COM1\n"
                                                            "Varnok cannot open port: COM1\n"
                                                            "Reason: fake error 2; is it plugged "
                                                            "in? varnok --ports lists the ports; "
                                                            "no digit will be sent\n"
                                                            "digit 1 of channel: 4\n"
                                                            "digit 2 of channel: 2\n"
                                                            "Closing port COM1\n\n\n"));
  std::vector<std::string> want = {"open COM1", "sleep 250", "sleep 250"};
  EXPECT_EQ(fake::calls, want);
}

TEST_F(Run, RefusedDefinitionLeavesNoClosingLine) {
  fake::configureResult = kErrorRefused;
  EXPECT_EQ(runWith({L"42"}), kExitFailed);
  EXPECT_EQ(fake::logBytes(), crlf(std::string(kHeader42) + "Port = COM1\n" + kRefused +
                                   "digit 1 of channel: 4\n"
                                   "digit 2 of channel: 2\n"));
  // The device is released at once; nothing is written to it.
  std::vector<std::string> want = {"open COM1", "configure 9600,N,8,1", "close", "sleep 250",
                                   "sleep 250"};
  EXPECT_EQ(fake::calls, want);
}

TEST_F(Run, SettingsTheDeviceRefusesFailTheOpen) {
  fake::configureResult = kErrorOther;
  EXPECT_EQ(runWith({L"42"}), kExitFailed);
  EXPECT_EQ(fake::writes().size(), 0u);
  EXPECT_NE(fake::logBytes().find("Varnok cannot open port: COM1\r\nReason: fake error 22; no "
                                  "digit will be sent\r\ndigit 1 of"),
            std::string::npos);
}

TEST_F(Run, FailedWriteFailsTheRunButEveryDigitIsTried) {
  fake::failWriteNumber = 1;
  EXPECT_EQ(runWith({L"42"}), kExitFailed);
  std::vector<std::string> want = {
      "open COM1", "configure 9600,N,8,1", "write failed", "sleep 250", message(2), "sleep 250",
      "close"};
  EXPECT_EQ(fake::calls, want);
  EXPECT_NE(fake::logBytes().find("digit 1 of channel: 4\r\ndigit 1 was not sent: fake error "
                                  "5\r\ndigit 2 of channel: 2\r\nClosing port COM1"),
            std::string::npos);
}

TEST_F(Run, NoArgumentIsAUsageErrorAndTouchesNothing) {
  std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"varnok"), nullptr};
  EXPECT_EQ(run(1, argv.data()), kExitUsage);
  EXPECT_TRUE(fake::calls.empty());
  EXPECT_EQ(fake::logBytes(), "");
}

TEST_F(Run, OptionsTouchNeitherLogNorPort) {
  const struct {
    const wchar_t* argument;
    int status;
  } cases[] = {
      {L"--help", kExitOk},    {L"-h", kExitOk},    {L"/?", kExitOk},
      {L"--version", kExitOk}, {L"-v", kExitUsage}, {L"--verbose", kExitUsage},
      {L"--Help", kExitUsage}, {L"-", kExitUsage},  {L"-1", kExitUsage},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(runWith({c.argument}), c.status) << c.argument;
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fake::calls.empty());
    EXPECT_EQ(fake::logBytes(), "");
    // Asked-for text on stdout; a refusal is one line on stderr.
    EXPECT_EQ(out.empty(), c.status != kExitOk) << c.argument;
    if (c.status == kExitUsage) {
      EXPECT_EQ(err.rfind("varnok: unknown option ", 0), 0u) << err;
    }
  }
}

TEST(CommandLine, OptionsInAnyOrderBeforeTheChannel) {
  const struct {
    std::vector<std::wstring> args;
    Action action;
    const wchar_t* folder;  // nullptr: none
    const wchar_t* channel;
    int ignored;
  } cases[] = {
      {{L"-C", L"d", L"42"}, kChangeChannel, L"d", L"42", 0},
      {{L"--check", L"-C", L"d"}, kCheckSetup, L"d", L"--check", 0},
      {{L"-Cd", L"--check", L"7"}, kCheckSetup, L"d", L"--check", 3},
      {{L"42", L"-C", L"d"}, kChangeChannel, nullptr, L"42", 2},
      {{L"-C"}, kBadUsage, nullptr, nullptr, 0},
      {{L"-C", L"d"}, kBadUsage, nullptr, nullptr, 0},
      {{L"-C", L"d", L"-x", L"42"}, kBadUsage, L"d", L"-x", 0},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> args = c.args;
    args.insert(args.begin(), L"varnok");
    std::vector<wchar_t*> argv;
    for (std::wstring& a : args) argv.push_back(&a[0]);
    Command command;
    readCommand(int(argv.size()), argv.data(), &command);
    SCOPED_TRACE(args[1]);
    EXPECT_EQ(command.action, c.action);
    EXPECT_EQ(command.folder ? std::wstring(command.folder) : L"-", c.folder ? c.folder : L"-");
    EXPECT_EQ(command.channel ? std::wstring(command.channel) : L"-", c.channel ? c.channel : L"-");
    EXPECT_EQ(command.ignored, c.ignored);
  }
}

TEST_F(Run, ChannelWithANonDigitSendsNothing) {
  const wchar_t* cases[] = {L"4x2", L"+1", L" 42", L"42 ", L"4\x0662", L"12:"};
  for (const wchar_t* channel : cases) {
    resetWithPort();
    EXPECT_EQ(runWith({channel}), kExitUsage);
    EXPECT_TRUE(fake::calls.empty()) << fake::calls.front();
  }
  fake::reset();
  runWith({L"4x2"});
  EXPECT_EQ(fake::logBytes(),
            crlf("=============================================\n"
                 "| Mon Jan 05 09:30:00 2009\n"
                 "| Changing to channel 4x2\n"
                 "| Number of digits to send to DCT2xxx: 3\n"
                 "=============================================\n"
                 "Cannot change to channel 4x2: only the digits 0 to 9 are allowed\n\n\n"));
}

TEST_F(Run, PauseFollowsSleepTime) {
  const struct {
    const wchar_t* value;  // nullptr: the key is absent
    const char* sleep;
  } cases[] = {
      {nullptr, "sleep 200"},
      {L"", "sleep 200"},
      {L"250ms", "sleep 250"},
      {L"abc", "sleep 0"},
      {L"  +75", "sleep 75"},
      {L"-5", "sleep 0"},
      {L"0", "sleep 0"},
      {L"10000", "sleep 10000"},
      {L"10001", "sleep 10000"},
      {L"2147483648", "sleep 10000"},
      {L"99999999999999999999", "sleep 10000"},
      {L"-99999999999999999999", "sleep 0"},
  };
  for (const auto& c : cases) {
    resetWithPort();
    if (c.value) fake::settings[L"sleepTime"] = c.value;
    EXPECT_EQ(runWith({L"7"}), kExitOk);
    ASSERT_EQ(fake::calls.size(), 5u);
    EXPECT_EQ(fake::calls[3], c.sleep) << (c.value ? "set" : "absent");
  }
}

TEST_F(Run, WholePortNameOpensAndShowsInTheLog) {
  fake::settings[L"port"] = L"COM12";
  runWith({L"1"});
  EXPECT_EQ(fake::calls[0], "open COM12");
  EXPECT_NE(fake::logBytes().find("Port = COM12\r\n"), std::string::npos);
}

TEST_F(Run, MissingPortFailsTheOpen) {
  fake::settings.erase(L"port");
  EXPECT_EQ(runWith({L"1"}), kExitFailed);
  EXPECT_NE(fake::logBytes().find("Port = \r\nVarnok cannot open port: \r\n"), std::string::npos);
}

TEST_F(Run, OneBytePerCharacterAndQuestionMarksAboveByteRange) {
  fake::settings[L"port"] = L"C\x00e9\x0100\x20ac";
  runWith({L"1"});
  EXPECT_NE(fake::logBytes().find("Port = C\xE9??\r\n"), std::string::npos);
}

TEST_F(Run, LogThatCannotOpenStillChangesTheChannel) {
  fake::logFails = true;
  EXPECT_EQ(runWith({L"42"}), kExitOk);
  EXPECT_EQ(fake::writes().size(), 2u);
  EXPECT_EQ(fake::logBytes(), "");
}

TEST_F(Run, RunsAppendToOneLog) {
  runWith({L"42"});
  std::string first = fake::logBytes();
  fake::calls.clear();
  runWith({L"7"});
  std::string both = fake::logBytes();
  ASSERT_GT(both.size(), first.size());
  EXPECT_EQ(both.substr(0, first.size()), first);
  EXPECT_EQ(both.substr(first.size(), 47), "=============================================\r\n");
}

TEST_F(Run, LineFeedInAValueBecomesCrLf) {
  logFile = std::fopen(fake::kLogPath, "ab");
  logPrint(L"a %s b %d\n", L"x\ny", -12);
  std::fclose(logFile);
  logFile = nullptr;
  EXPECT_EQ(fake::logBytes(), "a x\r\ny b -12\r\n");
}

TEST(SerialLine, CloseTwiceAndWriteAfterAFailedOpen) {
  fake::reset();
  fake::openFails = true;
  EXPECT_FALSE(openPort());
  fake::calls.clear();
  uint8_t byte = 0;
  EXPECT_FALSE(writeBuffer(&byte, 1));
  EXPECT_TRUE(fake::calls.empty());
  closePort();
  closePort();
  EXPECT_EQ(hPort, kNoDevice);
}

TEST(SetupAdvice, ComNamesWrittenAnotherWayAndPausesThatAreNotPlain) {
  const struct {
    const wchar_t* port;
    const wchar_t* meant;  // nullptr: no suggestion
  } ports[] = {
      {L"COM5:", L"COM5"},       {L"COM 5", L"COM5"},
      {L"COM05", L"COM5"},       {L"USB Serial Port (COM5)", L"COM5"},
      {L"com12", L"COM12"},      {L"COM5", nullptr},
      {L"\\\\.\\COM5", nullptr}, {L"/dev/ttyUSB0", nullptr},
      {L"COM0", nullptr},        {L"Bluetooth", nullptr},
  };
  for (const auto& c : ports) {
    wchar_t meant[16];
    EXPECT_EQ(comNameMeant(c.port, meant), c.meant != nullptr) << c.port;
    if (c.meant) {
      EXPECT_STREQ(meant, c.meant) << c.port;
    }
  }
  const struct {
    const wchar_t* value;
    bool warned;
  } pauses[] = {{L"250", false}, {L"10000", false}, {L"10001", true}, {L"fast", true},
                {L"0.5", true},  {L"1s", true},     {L"1e3", true},   {L"-1", true}};
  for (const auto& c : pauses) {
    fake::reset();
    fake::settings[L"sleepTime"] = c.value;
    Settings settings;
    readSettings(&settings);
    wchar_t warning[200];
    EXPECT_EQ(pauseWarning(settings, warning, 200), c.warned) << c.value;
  }
}

}  // namespace
