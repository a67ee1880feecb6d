"""Runs that overlap on one port take turns, in the order they came: a
recorder may start its channel change twice in quick succession, or a
person type a channel digit by digit, and the box must end on the channel
asked for last, with every record whole in the log they share."""
import fcntl
import os
import re
import subprocess
import sys
import time
import unittest

from harness import PLATFORM, SIDE, TIME_LINE, VarnokTest, message, record

# A user without the port's group: the port cannot be opened, so no lock on
# it can be taken, and nothing else is shared. Exits 13 where it was refused.
STRANGER = """import os, sys
try:
    os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
except PermissionError:
    sys.exit(13)
"""


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

    def test_overlapping_runs_are_served_in_the_order_they_came(self):
        # On Linux as users of the port's group alone, with /run/lock
        # root's, after a stranger found nothing of the port's to take.
        self.settings(sleep_time="600")
        command = PLATFORM.command
        if SIDE == "posix" and os.geteuid() == 0:
            group = 64000 + os.getpid() % 1000  # a group no set-up has
            command = lambda args: self.as_nobody(PLATFORM.command(args), group)
            open(os.path.join(self.dir, "varnok.out"), "wb").close()
            command([])  # from here the device is the group's alone
            stranger = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534",
                                       "--clear-groups", sys.executable, "-c", STRANGER,
                                       self.emulator.device])
            self.assertEqual(stranger.returncode, 13)
        runs = []
        for channel in ("11", "22", "4x2", "33", "44"):
            runs.append(subprocess.Popen(command([channel]), cwd=self.dir))
            time.sleep(0.3)
        self.assertEqual([run.wait(timeout=60) for run in runs], [0, 0, 2, 0, 0])
        self.assertEqual([k for k, _ in self.emulator.wait_for_keys(8)], [1, 1, 2, 2, 3, 3, 4, 4])
        # The refused channel's record stands whole between two others.
        refused = record("4x2", "", closing=False, middle="")
        refused = refused[:refused.index(b"Port = ")] + (
            b"Cannot change to channel 4x2: only the digits 0 to 9 are allowed\r\n\r\n\r\n")
        log = self.log()
        found = re.search(rb"=+\r\n\| [^\r\n]+\r\n\| Changing to channel 4x2\r\n.*?allowed"
                          rb"\r\n\r\n\r\n", log, re.S)
        self.assertEqual(TIME_LINE.sub(b"TIME", found.group(0)), refused)
        with open(os.path.join(self.dir, "varnok.out"), "wb") as f:
            f.write(log.replace(found.group(0), b""))
        self.assertLog(b"".join(record(c, self.port()) for c in ("11", "22", "33", "44")))

    def test_port_held_too_long_fails_within_the_bound(self):
        holders = {"a run that takes long": self.hold_with_a_long_run}
        if SIDE == "posix":
            holders["another program holding flock"] = self.hold_with_flock
        for name, hold in holders.items():
            self.remove_log()
            release = hold()
            self.settings()
            before = len(self.emulator.line_bytes())
            start = time.monotonic()
            result = self.varnok("3", timeout=60)
            seconds = time.monotonic() - start
            release()
            self.assertEqual(result.status, 1, name)
            # One bound on all its waiting: the port's and the log's.
            self.assertGreaterEqual(seconds, 10.0, name)
            self.assertLess(seconds, 12.5, name)
            lines = result.stderr.strip().splitlines()
            self.assertEqual(len(lines), 2, result.stderr)
            self.assertIn("waiting up to 10 seconds", lines[0])
            self.assertIn("cannot open port %s: in use by another run or program" % self.port(),
                          lines[1])
            # The run that gave up writes its record whole once its time is
            # up, even inside the holder's.
            gave_up = record("3", self.port(), why="in use by another run or program (waited 10 "
                             "seconds)")
            held = record("99", self.port()) if hold == self.hold_with_a_long_run else b""
            log = TIME_LINE.sub(b"TIME", self.log())
            found = re.search(re.escape(gave_up).replace(b"WHY", b"[^\r]+"), log)
            self.assertTrue(found, log)
            self.assertEqual(log[:found.start()] + log[found.end():], held)
            self.assertNotIn(message(3), self.emulator.line_bytes()[before:], name)

    def test_run_that_gives_up_leaves_its_place_at_once(self):
        # B gives up on a port another run holds to 10.6 s; C, come behind
        # it at 2 s, gets the port as soon as the holder lets go.
        release = self.hold_with_a_long_run(sleep_time="5300")
        self.settings(sleep_time="3000")
        start = time.monotonic()
        b = self.start("1234")
        time.sleep(2)
        self.settings(sleep_time="0")
        c = self.start("5")
        self.assertEqual(c.wait(timeout=30), 0)
        self.assertLess(time.monotonic() - start, 12.5)
        self.assertEqual(b.wait(timeout=30), 1)
        release()
        self.assertEqual([k for k, _ in self.emulator.keys()], [9, 9, 5])

    def hold_with_a_long_run(self, sleep_time="6500"):
        self.settings(sleep_time=sleep_time)
        run = self.start("99")  # 13 s on the port, and as long writing its record
        self.emulator.wait_for_keys(len(self.emulator.keys()) + 1)
        return lambda: self.assertEqual(run.wait(timeout=30), 0)

    def hold_with_flock(self):
        fd = os.open(self.emulator.device, os.O_RDWR | os.O_NOCTTY)
        fcntl.flock(fd, fcntl.LOCK_EX)
        return lambda: os.close(fd)


if __name__ == "__main__":
    unittest.main()
