"""Faults and hostile input, end to end: a device that goes away or takes
nothing, a port another run holds, a run stopped half-way, huge input,
files and folders that cannot be read or written. The program must never
hang or crash, must exit with its documented status, and the log must keep
what happened."""
import os
import shutil
import signal
import subprocess
import time
import unittest

from harness import PLATFORM, SIDE, VarnokTest, message, record


class DeviceGoesAway(VarnokTest):
    emulator_options = ("--close-after", "2")

    def test_every_digit_is_still_logged(self):
        self.settings(sleep_time="100")
        result = self.varnok("12345")
        self.assertEqual(result.status, 1)
        self.assertOneLine(result.stderr, "cannot write to port")
        self.assertEqual([k for k, _ in self.emulator.keys()], [1, 2])
        self.assertLog(record("12345", self.port()))


class DeviceTakesNothing(VarnokTest):
    emulator_options = ("--stall",)

    def test_write_gives_up_and_the_run_goes_on(self):
        self.settings()
        result = self.varnok("42", timeout=60)
        self.assertEqual(result.status, 1)
        self.assertOneLine(result.stderr, "cannot write to port")
        self.assertGreaterEqual(result.seconds, 2.0)  # each write waits its 2 s
        self.assertLog(record("42", self.port()))


@unittest.skipUnless(SIDE == "posix", "signals and file modes of the native build")
class Interrupted(VarnokTest):
    def start(self, channel, directory=None):
        return subprocess.Popen(PLATFORM.command([channel]), cwd=directory or self.dir,
                                stderr=subprocess.PIPE)

    def test_port_held_by_another_run(self):
        # The port is taken with flock, which holds against root too (the
        # tty's own exclusive mode does not), so this runs as any user.
        self.settings(sleep_time="300")
        first = self.start("1111")
        self.emulator.wait_for_keys(1)
        other = os.path.join(self.dir, "other")
        os.mkdir(other)
        with open(os.path.join(other, "varnok.ini"), "w") as f:
            f.write("[Settings]\nport=%s\nsleepTime=0\n" % self.port())
        second = subprocess.run(PLATFORM.command(["999"]), cwd=other, capture_output=True,
                                timeout=30)
        self.assertEqual(first.wait(timeout=30), 0)
        first.stderr.close()
        self.assertEqual(second.returncode, 1)
        self.assertIn(b"Device or resource busy", second.stderr)
        with open(os.path.join(other, "varnok.out"), "rb") as f:
            self.assertIn(b"Varnok cannot open port: %s\r\n" % self.port().encode(), f.read())
        self.assertEqual(self.emulator.line_bytes(), message(1) * 4)

    def test_stopped_during_a_pause_keeps_its_lines(self):
        self.settings(sleep_time="5000")
        run = self.start("123")
        self.emulator.wait_for_keys(1)
        time.sleep(0.2)
        run.send_signal(signal.SIGTERM)
        self.assertEqual(run.wait(timeout=10), -signal.SIGTERM)
        run.stderr.close()
        expected = record("123", self.port(), closing=False)
        self.assertLog(expected[:expected.index(b"digit 2")])

    def test_run_log_on_a_full_disk(self):
        self.settings()
        os.symlink("/dev/full", os.path.join(self.dir, "varnok.out"))
        result = self.varnok("42")
        self.assertEqual(result.status, 0)
        self.assertOneLine(result.stderr, "cannot write to the run log")
        self.assertEqual(self.emulator.line_bytes(), message(4) + message(2))

    def test_working_directory_that_cannot_be_written(self):
        self.settings()
        command = PLATFORM.command(["42"])
        if os.geteuid() == 0:
            # Root writes anywhere: run as nobody, which may use the
            # emulator's device but not write the folder.
            # The build folder may be closed to other users: run a copy.
            os.chmod(self.emulator.device, 0o666)
            os.chmod(os.path.join(self.dir, "varnok.ini"), 0o644)
            program = os.path.join(self.dir, "varnok")
            shutil.copy(command[0], program)
            os.chmod(program, 0o755)
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                       program] + command[1:]
        os.chmod(self.dir, 0o555)
        self.addCleanup(os.chmod, self.dir, 0o755)
        done = subprocess.run(command, cwd=self.dir, capture_output=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertOneLine(done.stderr.decode(), "cannot open the run log varnok.out")
        self.assertEqual(self.emulator.line_bytes(), message(4) + message(2))


class HugeInput(VarnokTest):
    def test_channel_of_5000_digits(self):
        self.settings()
        channel = "0123456789" * 500
        result = self.varnok(channel, timeout=120)
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(self.emulator.line_bytes(),
                         b"".join(message(int(d)) for d in channel))
        self.assertLog(record(channel, self.port()))
        self.assertTrue(self.log().startswith(b"=" * 48 + b"\r\n"))

    def test_settings_line_of_100000_characters(self):
        self.settings(raw=("[Settings]\n;" + "x" * 100000 + "\nport=%s\nsleepTime=0\n"
                           % self.port()).encode())
        self.assertEqual(self.varnok("7").status, 0)
        self.assertEqual(self.emulator.line_bytes(), message(7))

    def test_sleep_time_of_400_digits_is_cut_to_ten_seconds(self):
        self.settings(sleep_time="9" * 400)
        result = self.varnok("7", timeout=60)
        self.assertEqual(result.status, 0)
        self.assertGreaterEqual(result.seconds, 10.0)
        self.assertEqual(self.emulator.line_bytes(), message(7))

    def test_settings_file_that_cannot_be_read(self):
        os.mkdir(os.path.join(self.dir, "varnok.ini"))
        result = self.varnok("42")
        self.assertEqual(result.status, 1)
        self.assertOneLine(result.stderr, "no port")
        self.assertEqual(self.emulator.line_bytes(), b"")


if __name__ == "__main__":
    unittest.main()
