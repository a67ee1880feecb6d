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
        self.assertFalse(os.path.exists(os.path.join(self.dir, "varnok.out")))

    def test_each_slip_gets_the_fix_from_check_and_from_a_run(self):
        ini = os.path.join(self.dir, "varnok.ini")
        slips = [  # varnok.ini's port and sleepTime, a file to make, the words, both statuses
            ("COM5:", "0", None, "did you mean COM5?", 1),
            ("USB Serial Port (COM5)", "0", None, "did you mean COM5?", 1),
            ("CHANGE-ME", "0", None, "still has the example's port", 1),
            (None, None, "varnok.ini.txt", "but a varnok.ini.txt: rename it to varnok.ini", 1),
            (self.port(), "fast", None, "sleepTime=fast is not a plain number: the pause is 0", 0),
            (self.port(), "99999", None, "over the longest pause: the pause is 10000", 0),
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
            result = self.varnok("")  # no digit: no pause, however long
            self.assertEqual(result.status, status, words)
            self.assertIn(words, result.stderr)
        self.assertEqual(self.emulator.line_bytes(), b"")

    def test_dash_C_works_in_another_folder(self):
        self.settings()
        elsewhere = os.path.dirname(self.dir)
        result = self.varnok("-C", self.dir, "42", cwd=elsewhere)
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(self.emulator.line_bytes(), message(4) + message(2))
        self.assertLog(record("42", self.port()))
        missing = self.varnok("-C", os.path.join(self.dir, "missing"), "42", cwd=elsewhere)
        self.assertEqual(missing.status, 1)
        self.assertOneLine(missing.stderr, "cannot work in folder")

    def test_ports_lists_what_is_there(self):
        result = self.varnok("--ports")
        self.assertEqual(result.status, 0, result.stderr)
        lines = result.stdout.decode().splitlines()
        if SIDE == "wine":
            self.assertIn("COM5", [line.split()[0] for line in lines])
        else:
            # Pseudo-terminals have no driver: the emulator's is not listed.
            self.assertNotIn(self.emulator.device, result.stdout.decode())
            self.assertTrue(lines == ["no serial ports found"] or
                            all(line.startswith("/dev/") for line in lines), lines)


if __name__ == "__main__":
    unittest.main()
