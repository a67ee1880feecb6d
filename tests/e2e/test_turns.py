"""Runs that overlap on one port take turns: a recorder may start its
channel change twice in quick succession, and the box must end on the
channel asked for last, with both records whole in the log."""
import fcntl
import os
import time
import unittest

from harness import SIDE, VarnokTest, message, record


class TakingTurns(VarnokTest):
    def test_second_run_waits_for_the_first_and_wins(self):
        self.settings(sleep_time="700")
        first = self.start("12")
        self.emulator.wait_for_keys(1)
        second = self.varnok("57")  # started mid-channel
        self.assertEqual(first.wait(timeout=30), 0)
        self.assertEqual(second.status, 0, second.stderr)
        # It waited over a second, and said so.
        self.assertOneLine(second.stderr, "in use by another run or program", "waiting")
        self.assertEqual([k for k, _ in self.emulator.wait_for_keys(4)], [1, 2, 5, 7])
        self.assertEqual(self.emulator.line_bytes(),
                         message(1) + message(2) + message(5) + message(7))
        self.assertLog(record("12", self.port()) + record("57", self.port()))

    def test_port_held_too_long_fails_within_the_bound(self):
        holders = {"a run that takes long": self.hold_with_a_long_run}
        if SIDE == "posix":
            holders["another program holding flock"] = self.hold_with_flock
        for name, hold in holders.items():
            release = hold()
            # A folder of its own: the holder is still writing its record.
            other = os.path.join(self.dir, name.replace(" ", "-"))
            os.mkdir(other)
            with open(os.path.join(other, "varnok.ini"), "w") as f:
                f.write("[Settings]\nport=%s\nsleepTime=0\n" % self.port())
            before = len(self.emulator.line_bytes())
            start = time.monotonic()
            result = self.varnok("3", cwd=other, timeout=60)
            seconds = time.monotonic() - start
            release()
            self.assertEqual(result.status, 1, name)
            self.assertGreaterEqual(seconds, 10.0, name)
            lines = result.stderr.strip().splitlines()
            self.assertEqual(len(lines), 2, result.stderr)
            self.assertIn("waiting up to 10 seconds", lines[0])
            self.assertIn("cannot open port %s: in use by another run or program" % self.port(),
                          lines[1])
            with open(os.path.join(other, "varnok.out"), "rb") as f:
                self.assertIn(b"Varnok cannot open port: %s\r\ndigit 1 of channel: 3\r\n"
                              % self.port().encode(), f.read())
            self.assertNotIn(message(3), self.emulator.line_bytes()[before:], name)

    def hold_with_a_long_run(self):
        self.settings(sleep_time="10000")
        run = self.start("99")  # 20 s on the port
        self.emulator.wait_for_keys(len(self.emulator.keys()) + 1)
        return lambda: (run.kill(), run.wait())

    def hold_with_flock(self):
        fd = os.open(self.emulator.device, os.O_RDWR | os.O_NOCTTY)
        fcntl.flock(fd, fcntl.LOCK_EX)
        return lambda: os.close(fd)


if __name__ == "__main__":
    unittest.main()
