"""What only the Windows build does: COM names from COM10 up, and settings
files as Windows editors save them, read by the system's own profile
reader. Runs under Wine."""
import unittest

from harness import SIDE, VarnokTest, message, record


@unittest.skipUnless(SIDE == "wine", "the Windows build under Wine")
class WindowsBuild(VarnokTest):
    def test_com12_opens_by_its_whole_name(self):
        port = self.port("COM12")
        self.settings(port=port)
        result = self.varnok("3")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(self.emulator.line_bytes(), message(3))
        self.assertLog(record("3", "COM12"))

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


if __name__ == "__main__":
    unittest.main()
