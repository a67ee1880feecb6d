"""Setting up: varnok --check proves a set-up without sending a byte,
varnok --ports lists the ports, -C works in another folder, and the usual
slips get a message that names the fix, from --check and from a run."""
import os
import unittest

from harness import SIDE, VarnokTest, message, record


class SetUp(VarnokTest):
    def test_check_of_a_good_setup_sends_nothing_and_writes_no_record(self):
        self.settings(sleep_time="250")
        result = self.varnok("--check")
        self.assertEqual(result.status, 0, result.stdout)
        out = result.stdout.decode()
        for fact in ("ok    settings: ", "ok    port: %s" % self.port(), "ok    a serial device",
                     "ok    pause after each digit: 250 milliseconds",
                     "ok    the run log can be appended"):
            self.assertIn(fact, out)
        self.assertNotIn("FAIL", out)
        self.assertEqual(self.emulator.line_bytes(), b"")

    @unittest.skipIf(SIDE == "wine", "Windows tells no console program who holds a port")
    def test_check_names_a_program_that_holds_the_port_without_a_lock_not_under_wine(self):
        self.settings()
        holder = os.open(self.emulator.device, os.O_RDWR | os.O_NOCTTY)
        held = self.varnok("--check").stdout.decode()
        os.close(holder)
        self.assertIn("warn  another program has the port open too: ", held)
        self.assertIn(" pid %d (" % os.getpid(), held)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "varnok.out")))

    def test_each_slip_gets_the_fix_from_check_and_from_a_run(self):
        ini = os.path.join(self.dir, "varnok.ini")
        slips = [  # varnok.ini's port and sleepTime, a file to make, the words, both statuses
            ("COM5:", "0", None, "did you mean COM5?", 1),
            ("USB Serial Port (COM5)", "0", None, "did you mean COM5?", 1),
            ("CHANGE-ME", "0", None, "still has the example's port", 1),
            (None, None, "varnok.ini.txt", "but a varnok.ini.txt: rename it to varnok.ini", 1),
            (self.port(), "fast", None, "sleepTime=fast is not a plain number: the pause is 0", 0),
            (self.port(), "-250", None, "sleepTime=-250 is below zero: the pause is 0", 0),
        ]
        for port, pause, other, words, status in slips:
            if port is None:
                os.remove(ini)
                open(os.path.join(self.dir, other), "w").close()
            else:
                self.settings(port=port, sleep_time=pause)
            check = self.varnok("--check")
            self.assertEqual(check.status, status, words)
            self.assertIn(words, check.stdout.decode())
            result = self.varnok("1")
            self.assertEqual(result.status, status, words)
            self.assertIn(words, result.stderr)
        self.assertEqual(self.emulator.line_bytes(), message(1) * 2)

    def test_dash_C_works_in_another_folder_in_any_order_before_the_channel(self):
        self.settings()
        elsewhere = os.path.dirname(self.dir)
        for args in (("-C", self.dir, "42"), ("--check", "-C", self.dir), ("-C" + self.dir,
                                                                          "--check")):
            result = self.varnok(*args, cwd=elsewhere)
            self.assertEqual((result.status, result.stderr), (0, ""), args)
        # After the channel nothing counts, but it is named.
        late = self.varnok("7", "-C", elsewhere, "x")
        self.assertEqual(late.status, 0)
        self.assertOneLine(late.stderr, "ignoring what follows 7: -C %s x" % elsewhere)
        self.assertEqual(self.emulator.line_bytes(), message(4) + message(2) + message(7))
        self.assertLog(record("42", self.port()) + record("7", self.port()))
        missing = self.varnok("-C", os.path.join(self.dir, "missing"), "42", cwd=elsewhere)
        self.assertEqual(missing.status, 1)
        self.assertOneLine(missing.stderr, "cannot work in folder")

    def test_ports_lists_what_is_there_the_name_first_and_on_linux_not_the_console(self):
        result = self.varnok("--ports")
        lines = result.stdout.decode().splitlines()
        self.assertEqual(result.status, 0 if lines else 1, result.stderr)
        if SIDE == "wine":
            self.assertIn("COM5", [line.split()[0] for line in lines])
            return
        # Pseudo-terminals have no driver: the emulator's is not listed;
        # nor is the system console, which is said on stderr.
        self.assertNotIn(self.emulator.device, result.stdout.decode())
        self.assertTrue(all(line.startswith("/dev/") for line in lines), lines)
        if not lines:
            self.assertIn("no serial ports found", result.stderr)
        with open("/sys/class/tty/console/active") as f:
            for console in f.read().split():
                if os.path.exists("/sys/class/tty/%s/device/driver" % console):
                    self.assertNotIn("/dev/%s " % console, result.stdout.decode() + " ")
                    self.assertIn("/dev/%s" % console, result.stderr)


if __name__ == "__main__":
    unittest.main()
