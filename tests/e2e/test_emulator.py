"""The tuner emulator is the oracle of the end-to-end tests: it must take
a good message for its key and flag every kind of bad frame, or a fault in
the program could pass unseen."""
import os
import time
import unittest

from harness import VarnokTest, message


class Emulator(VarnokTest):
    def send(self, data):
        fd = os.open(self.emulator.device, os.O_WRONLY | os.O_NOCTTY)
        try:
            os.write(fd, data)
        finally:
            os.close(fd)

    def lines_after(self, data, count):
        self.send(data)
        end = time.monotonic() + 5
        while len(self.emulator.lines) < count and time.monotonic() < end:
            time.sleep(0.01)
        return self.emulator.lines

    def test_good_and_bad_frames(self):
        bad_check = bytearray(message(4))
        bad_check[30] ^= 0xFF
        no_end = bytearray(message(5))
        no_end[-1] = 0x04
        cases = [
            (message(4), "key 4 at"),
            (bytes(bad_check), "bad frame: check 713F, expected 71C0"),
            (b"\x55" + message(9), "bad frame: stray byte"),
            (bytes(no_end), "bad frame: no DLE ETX"),
            (message(9)[10:21] + message(9), "bad frame: frame out of place"),
            (message(1) + message(2), "key 2 at"),
        ]
        seen = 0
        for data, expected in cases:
            lines = self.lines_after(data, seen + 1)
            self.assertTrue(any(line.startswith(expected) for line in lines[seen:]),
                            (expected, lines[seen:]))
            seen = len(lines)
        self.assertEqual([k for k, _ in self.emulator.keys()], [4, 9, 9, 1, 2])


if __name__ == "__main__":
    unittest.main()
