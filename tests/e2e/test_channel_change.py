"""The program end to end: the bytes on the line, the run log, the exit
status, for good runs and bad input."""
import os
import unittest

from harness import PLATFORM, VarnokTest, message, record


class ChannelChange(VarnokTest):
    def test_42_puts_two_messages_on_the_line_and_logs_the_record(self):
        self.settings()
        result = self.varnok("42")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        self.assertEqual([k for k, _ in self.emulator.wait_for_keys(2)], [4, 2])
        self.assertEqual(self.emulator.line_bytes(), message(4) + message(2))
        self.assertEqual(self.emulator.bad_frames(), [])
        self.assertLog(record("42", self.port()))

    def test_leading_zeros_are_sent(self):
        self.settings()
        self.assertEqual(self.varnok("007").status, 0)
        self.assertEqual(self.emulator.line_bytes(), message(0) + message(0) + message(7))
        self.assertLog(record("007", self.port()))

    def test_empty_channel_is_refused_and_the_port_left_alone(self):
        # A recorder whose channel placeholder came out empty.
        self.settings()
        result = self.varnok("")
        self.assertEqual(result.status, 2)
        self.assertOneLine(result.stderr, "no channel was given")
        self.assertEqual(self.emulator.line_bytes(), b"")
        refused = record("", self.port(), closing=False, middle="")
        self.assertLog(refused[:refused.index(b"Port = ")] +
                       b"Cannot change to channel : no digits were given\r\n\r\n\r\n")

    def test_two_runs_append_to_one_log(self):
        self.settings()
        self.varnok("1")
        self.varnok("23")
        self.assertLog(record("1", self.port()) + record("23", self.port()))
        self.assertEqual(self.emulator.line_bytes(), message(1) + message(2) + message(3))

    def test_port_that_does_not_exist(self):
        port = PLATFORM.missing_port(self.dir)
        self.settings(port=port)
        result = self.varnok("42")
        self.assertEqual(result.status, 1)
        self.assertOneLine(result.stderr, "cannot open port", port)
        self.assertLog(record("42", port, why="WHY"))

    def test_pause_follows_every_digit(self):
        self.settings(sleep_time="150")
        result = self.varnok("123")
        self.assertEqual(result.status, 0)
        times = [t for _, t in self.emulator.wait_for_keys(3)]
        self.assertEqual(len(times), 3)
        for earlier, later in zip(times, times[1:]):
            self.assertGreaterEqual(later - earlier, 0.150 - 0.010)
        self.assertGreaterEqual(result.seconds, 3 * 0.150)

    def test_missing_sleep_time_keeps_the_200_ms_pause(self):
        for raw in (None, "[Settings]\nport=%s\nsleepTime=\n"):
            if raw is None:
                self.settings(sleep_time=None)
            else:
                self.settings(raw=(raw % self.port()).encode())
            result = self.varnok("5")
            self.assertEqual(result.status, 0)
            self.assertGreaterEqual(result.seconds, 0.200)

    def test_negative_pause_is_no_pause_at_all(self):
        self.settings(sleep_time="-1")
        result = self.varnok("99", timeout=20)
        self.assertEqual(result.status, 0)
        self.assertEqual(len(self.emulator.wait_for_keys(2)), 2)


class BadInput(VarnokTest):
    def test_no_argument_or_an_unknown_option_is_a_usage_error(self):
        self.settings()
        for args in ((), ("-v",), ("--verbose",), ("-5",)):
            result = self.varnok(*args)
            self.assertEqual(result.status, 2, args)
            self.assertOneLine(result.stderr, "usage", *args)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "varnok.out")))
        self.assertEqual(self.emulator.line_bytes(), b"")

    def test_channel_with_a_non_digit_sends_nothing(self):
        self.settings()
        for channel in ("4x2", "12 ", "+5", "4\u0662"):
            result = self.varnok(channel)
            self.assertEqual(result.status, 2, channel)
            self.assertOneLine(result.stderr, "only the digits 0 to 9", channel)
        self.assertEqual(self.emulator.line_bytes(), b"")
        log = self.log()
        self.assertIn(b"| Changing to channel 4x2\r\n| Number of digits to send to DCT2xxx: 3\r\n"
                      b"=============================================\r\n"
                      b"Cannot change to channel 4x2: only the digits 0 to 9 are allowed"
                      b"\r\n\r\n\r\n", log)
        self.assertNotIn(b"Port =", log)
        # One byte per character: U+0662 does not fit in one.
        self.assertIn(b"| Changing to channel 4?\r\n", log)


if __name__ == "__main__":
    unittest.main()
