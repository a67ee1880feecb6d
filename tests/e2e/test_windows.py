"""What only the Windows build does: COM names from COM10 up, settings
files as Windows editors save them, read by the system's own profile
reader, and the .bat a recorder is given. Runs under Wine."""
import os
import shutil
import subprocess
import unittest

from harness import SIDE, VARNOK, VarnokTest, message, record

TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


@unittest.skipUnless(SIDE == "wine", "the Windows build under Wine")
class WindowsBuild(VarnokTest):
    def test_com12_opens_by_its_whole_name(self):
        port = self.port("COM12")
        self.settings(port=port)
        result = self.varnok("3")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(self.emulator.line_bytes(), message(3))
        self.assertLog(record("3", "COM12"))

    def test_devices_that_are_no_serial_port_are_refused(self):
        for port in ("NUL", "CON", "LPT1"):
            self.settings(port=port)
            self.remove_log()
            result = self.varnok("42")
            self.assertEqual(result.status, 1, port)
            self.assertOneLine(result.stderr, "cannot open port %s" % port)
            self.assertLog(record("42", port, why="WHY"))
        self.assertEqual(self.emulator.line_bytes(), b"")

    def test_settings_saved_as_utf16_with_a_byte_order_mark(self):
        text = "\ufeff; Tuner im Wohnzimmer \u2013 \u00fcber COM5\r\n[Settings]\r\nport=%s\r\n" \
               "sleepTime=0\r\n" % self.port()
        self.settings(raw=text.encode("utf-16-le"))
        result = self.varnok("42")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(self.emulator.line_bytes(), message(4) + message(2))

    def test_settings_saved_in_the_ansi_code_page(self):
        text = "; Einstellungen f\u00fcr den Empf\u00e4nger\r\n[settings]\r\nPort = %s\r\n" \
               "SLEEPTIME = 0\r\n" % self.port()
        self.settings(raw=text.encode("cp1252"))
        result = self.varnok("7")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(self.emulator.line_bytes(), message(7))
        self.assertLog(record("7", self.port()))

    def test_recorder_bat_runs_varnok_in_its_own_folder(self):
        folder = os.path.join(self.dir, "varnok")
        os.mkdir(folder)
        shutil.copy(VARNOK, os.path.join(folder, "varnok.exe"))
        with open(os.path.join(TOP, "doc", "examples", "varnok-recorder.bat"), "rb") as f:
            bat = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")  # as the ZIP has it
        with open(os.path.join(folder, "varnok-recorder.bat"), "wb") as f:
            f.write(bat)
        with open(os.path.join(folder, "varnok.ini"), "w") as f:
            f.write("[Settings]\nport=%s\nsleepTime=0\n" % self.port())
        # The recorder starts it from a folder of its own.
        done = subprocess.run(["wine", "cmd", "/c", "Z:" + folder.replace("/", "\\") +
                               "\\varnok-recorder.bat", "42"], cwd=self.dir,
                              capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.emulator.line_bytes(), message(4) + message(2))
        with open(os.path.join(folder, "varnok.out"), "rb") as f:
            self.assertIn(b"digit 2 of channel: 2\r\n", f.read())
        self.assertFalse(os.path.exists(os.path.join(self.dir, "varnok.out")))


if __name__ == "__main__":
    unittest.main()
