"""Faults and hostile input, end to end: a device that goes away or takes
nothing, a port that is no device, a run killed half-way, huge input,
settings and logs that cannot be read or written. The program must never
hang or crash, must exit with its documented status, and the log must keep
what happened. Cases Wine cannot set up say so in their names."""
import os
import pathlib
import shutil
import signal
import subprocess
import time
import unittest

from harness import PLATFORM, SIDE, VarnokTest, log_matches, message, record

not_under_wine = unittest.skipIf(SIDE == "wine", "Wine cannot set this up")


class DeviceGoesAway(VarnokTest):
    emulator_options = ("--close-after", "2")

    def test_every_digit_is_still_logged(self):
        self.settings(sleep_time="100")
        result = self.varnok("12345")
        self.assertEqual(result.status, 1)
        self.assertOneLine(result.stderr, "cannot write to port")
        self.assertEqual([k for k, _ in self.emulator.keys()], [1, 2])
        # The hang-up can come while the second digit's drain still waits:
        # that digit is then not known to have left.
        log = self.log()
        self.assertTrue(any(log_matches(log, record("12345", self.port(), unsent=u))
                            for u in (2, 3)), log)


class DeviceTakesNothing(VarnokTest):
    emulator_options = ("--stall",)

    def test_write_gives_up_and_the_run_goes_on(self):
        self.settings()
        result = self.varnok("42", timeout=60)
        self.assertEqual(result.status, 1)
        self.assertOneLine(result.stderr, "cannot write to port",
                           "the device took no bytes for 2 seconds")
        self.assertGreaterEqual(result.seconds, 2.0)  # each write waits its 2 s
        self.assertLog(record("42", self.port(), unsent=1))


class Refused(VarnokTest):
    def test_port_that_names_a_file_leaves_it_untouched(self):
        notes = os.path.join(self.dir, "notes.txt")
        with open(notes, "wb") as f:
            f.write(b"keep me\n")
        for path in (notes, os.path.join(self.dir, "varnok.ini")):
            port = PLATFORM.file_port(path)
            self.settings(port=port)
            with open(path, "rb") as f:
                before = f.read()
            self.remove_log()
            result = self.varnok("42")
            self.assertEqual(result.status, 1, port)
            self.assertOneLine(result.stderr, "cannot open port", "not a serial device")
            with open(path, "rb") as f:
                self.assertEqual(f.read(), before)
            self.assertLog(record("42", port, why="not a serial device"))
        self.assertEqual(self.emulator.line_bytes(), b"")

    def test_settings_that_give_no_port_say_why(self):
        # A FIFO or a device as varnok.ini must not hold the run; Windows
        # folders hold no FIFOs (Wine's server would wait on one).
        folder = os.path.basename(self.dir)
        ini = os.path.join(self.dir, "varnok.ini")
        cases = [
            (None, "no varnok.ini in the working directory"),  # and -C to name the right one
            (lambda: os.mkdir(ini), "cannot read varnok.ini in"),
            (lambda: os.symlink("/dev/zero", ini), "not a regular file"),
            (b"[Settings]\nsleepTime=0\n[Other]\nport=COM1\n", "has no port under [Settings]"),
        ]
        if SIDE == "posix":
            cases.append((lambda: os.mkfifo(ini), "not a regular file"))
        for content, words in cases:
            if callable(content):
                content()
            elif content is not None:
                self.settings(raw=content)
            result = self.varnok("42", timeout=10)
            self.assertEqual(result.status, 1, words)
            self.assertOneLine(result.stderr, words, folder, *(["varnok -C "] if not content else []))
            if os.path.isdir(ini):
                os.rmdir(ini)
            elif os.path.lexists(ini):
                os.remove(ini)
        # A folder without varnok.ini is not ours: no log is made there.
        self.assertLog(record("42", "", why="WHY") * (len(cases) - 1))
        self.assertEqual(self.emulator.line_bytes(), b"")

    @not_under_wine
    def test_port_the_user_may_not_open_names_the_group_not_under_wine(self):
        # Wine runs only as the owner of its prefix; this needs another user.
        self.settings()
        self.assertEqual(os.geteuid(), 0, "run as root, to be another user and set groups")
        command = self.as_nobody(PLATFORM.command(["42"]))
        os.chmod(self.dir, 0o777)
        cases = [("dialout", 0o660, "sudo usermod -aG dialout nobody"),
                 ("uucp", 0o660, "sudo usermod -aG uucp nobody"),
                 ("root", 0o600, "only root may open")]
        for group, mode, words in cases:
            shutil.chown(self.emulator.device, group=group)
            os.chmod(self.emulator.device, mode)
            done = subprocess.run(command, cwd=self.dir, capture_output=True, text=True,
                                  timeout=30)
            self.assertEqual(done.returncode, 1)
            self.assertOneLine(done.stderr, "cannot open port", "Permission denied", words)
        self.assertEqual(self.emulator.line_bytes(), b"")


class Interrupted(VarnokTest):
    def test_stopped_during_a_pause_keeps_its_lines(self):
        self.settings(sleep_time="5000")
        run = self.start("123")
        self.emulator.wait_for_keys(1)
        time.sleep(0.2)
        run.send_signal(signal.SIGTERM)
        run.wait(timeout=10)
        expected = record("123", self.port(), closing=False)
        self.assertLog(expected[:expected.index(b"digit 2")])

    def test_killed_run_leaves_the_port_to_the_next(self):
        self.settings(sleep_time="5000")
        run = self.start("12")
        self.emulator.wait_for_keys(1)
        run.kill()
        run.wait(timeout=10)
        self.settings()
        # An ordinary user, as a recorder is: root would open a tty left
        # exclusive anyway.
        result = self.varnok("3", as_user=SIDE == "posix")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(self.emulator.line_bytes(), message(1) + message(3))

    @not_under_wine
    def test_started_with_stderr_closed_not_under_wine(self):
        # Wine hands a program started with stderr closed a stderr of its own.
        port = PLATFORM.missing_port(self.dir)
        self.settings(port=port)
        done = subprocess.run(PLATFORM.command(["4"]), cwd=self.dir, stdout=subprocess.DEVNULL,
                              preexec_fn=lambda: os.close(2), timeout=30)
        self.assertEqual(done.returncode, 1)
        self.assertLog(record("4", port, why="WHY"))


class LogFaults(VarnokTest):
    def test_run_log_that_cannot_be_opened_still_changes_the_channel(self):
        # A FIFO with no reader must not hold the run (Windows has none).
        self.settings()
        log = os.path.join(self.dir, "varnok.out")
        makers = [os.mkdir] + ([os.mkfifo] if SIDE == "posix" else [])
        for make in makers:
            make(log)
            result = self.varnok("42", timeout=10)
            self.assertEqual(result.status, 0, make)
            self.assertOneLine(result.stderr, "cannot open the run log varnok.out")
            (os.rmdir if os.path.isdir(log) else os.remove)(log)
        self.assertEqual(self.emulator.line_bytes(), (message(4) + message(2)) * len(makers))

    def test_run_log_that_leads_to_a_device_is_not_written(self):
        # Not even the tuner's own port: the record would go down its line.
        self.settings()
        log = os.path.join(self.dir, "varnok.out")
        for device in ("/dev/full", self.emulator.device):
            os.symlink(device, log)
            result = self.varnok("42")
            os.remove(log)
            self.assertEqual(result.status, 0, device)
            self.assertOneLine(result.stderr, "cannot open the run log varnok.out")
            self.assertLess(result.seconds, 5, device)
        self.assertEqual(self.emulator.line_bytes(), (message(4) + message(2)) * 2)

    @not_under_wine
    def test_record_cut_by_a_full_disk_and_the_next_one_not_under_wine(self):
        # A small file system in a mount namespace of the test's own, full
        # but for one page: a long record is cut mid-line; once there is
        # room the next record starts on a line of its own. Wine's server,
        # outside that namespace, does not see the file system.
        self.settings()
        script = """mount -t tmpfs -o size=64k tmpfs disk && cp varnok.ini disk && cd disk || exit 99
            dd if=/dev/zero of=filler bs=4k 2>/dev/null; truncate -s -4096 filler
            "$@" "$CHANNEL" 2>../first.err; echo $? >../first.status
            rm filler; "$@" 7 2>../second.err; echo $? >>../first.status; cp varnok.out .."""
        os.mkdir(os.path.join(self.dir, "disk"))
        subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", *PLATFORM.command([])],
                       cwd=self.dir, env=dict(os.environ, CHANNEL="0123456789" * 18), timeout=120)
        read = lambda name: pathlib.Path(self.dir, name).read_text()
        self.assertEqual(read("first.status").split(), ["0", "0"], read("first.err"))
        self.assertOneLine(read("first.err"), "cannot write to the run log")
        self.assertEqual(read("second.err"), "")
        cut, rule, second = self.log().rpartition(b"=" * 45 + b"\r\n| ")
        self.assertGreater(len(cut), 3000)
        self.assertNotIn(b"Closing port", cut)
        self.assertTrue(cut.endswith(b"\r\n"), cut[-60:])
        self.assertTrue(log_matches(rule + second, record("7", self.port())))

    @not_under_wine
    def test_log_the_user_may_not_write_names_its_owner_not_under_wine(self):
        # Wine runs only as the owner of its prefix, and root writes anywhere.
        self.settings()
        command = self.as_nobody(PLATFORM.command(["42"]))
        log = os.path.join(self.dir, "varnok.out")
        cases = [(lambda: os.chmod(self.dir, 0o555), "the folder belongs to root"),
                 (lambda: open(log, "w").close(), "it belongs to root")]
        for make, words in cases:
            make()
            done = subprocess.run(command, cwd=self.dir, capture_output=True, text=True,
                                  timeout=30)
            os.chmod(self.dir, 0o755)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertOneLine(done.stderr, "cannot open the run log varnok.out", words,
                               "sudo chown nobody")
        self.assertEqual(self.emulator.line_bytes(), (message(4) + message(2)) * 2)


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


if __name__ == "__main__":
    unittest.main()
