"""Our POSIX settings reader against Windows' own GetPrivateProfileStringW.

Every settings file of the corpus below is read by profile_probe twice: the
native build (our reader) and the Windows build under Wine (the system's
reader), each asked for the two keys the program reads. The answers must be
the same, value for value, but for the differences kept on purpose, listed
by name in KEPT. A difference fails the test and prints the file's bytes and
both answers.

NATIVE_PROBE and WINDOWS_PROBE name the two builds of the probe; Wine runs
in the prefix that tests/wine/run made.
"""
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest

NATIVE_PROBE = os.environ.get("NATIVE_PROBE", "")
WINDOWS_PROBE = os.environ.get("WINDOWS_PROBE", "")

# Windows-1252 from 0x80 to 0x9F; the five bytes it leaves undefined stand
# for the control characters of the same value.
CP1252_HIGH = ("\u20ac\x81\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152"
               "\x8d\u017d\x8f\x90\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122"
               "\u0161\u203a\u0153\x9d\u017e\u0178")


def ansi(text):
    """`text` in Windows-1252, as a Windows editor saves an ANSI file."""
    table = {c: 0x80 + i for i, c in enumerate(CP1252_HIGH)}
    return bytes(table.get(c, ord(c)) for c in text)


def encode(text, encoding):
    if encoding == "ansi":
        return ansi(text)
    if encoding == "utf-8":
        return text.encode("utf-8")
    if encoding == "utf-8-bom":
        return b"\xef\xbb\xbf" + text.encode("utf-8")
    if encoding == "utf-16-le":
        return b"\xff\xfe" + text.encode("utf-16-le")
    if encoding == "utf-16-be":
        return b"\xfe\xff" + text.encode("utf-16-be")
    raise ValueError(encoding)


ENCODINGS = ("ansi", "utf-8", "utf-8-bom", "utf-16-le", "utf-16-be")

# Each rule with its near misses, as text; every case is written in every
# encoding that can hold it.
RULES = [
    # Section headers: from "[" to the last "]", blanks trimmed.
    "[Settings]\nport=A\n",
    "[settings]\nPORT=A",
    "[ Settings ]\n port = A \n",
    "  [Settings]  \nport=A\n",
    "\t[\tSettings\t]\t\nport=A\n",
    "[Settings]]\nport=A\n",
    "[Settings] ]\nport=A\n",
    "[Settings] ; see [manual]\nport=A\n",
    "[Settings] ; see the manual\nport=A\n",
    "[Settings]x\nport=A\n",
    "[[Settings]\nport=A\n",
    "[Set]tings]\nport=A\n",
    "[Settings\nport=A\n",
    "[Settings]\n[Other\nport=A\n",
    "[Settings]\n[Other]\nport=A\n",
    "[Other]\nport=B\n[Settings]\nport=A\n",
    "port=B\n[Settings]\nport=A\n",
    "[Settings]\nport=A\n[Settings]\nsleepTime=5\n",
    "[]\nport=B\n[Settings]\nsleepTime=7\n",
    # Line ends: LF, CR LF, a lone CR, and none at the end.
    "[Settings]\r\nport=A\r\nsleepTime=9\r\n",
    "[Settings]\rport=A\rsleepTime=9\r",
    "[Settings]\n\rport=A\n\rsleepTime=9",
    "[Settings]\rport=CO\rM1\n",
    "[Settings]\r\n\r\n\r\nport=A\r",
    "[Settings]\nport=A\r\r\nsleepTime=\r9\n",
    # Blanks around names and values: space, tab, VT, FF and ^Z.
    "[Settings]\nport\t=\tA\t\n",
    "[Settings]\n\x0bport\x0b=\x0bA\x0b\nsleepTime=\x0c9\x0c\n",
    "\x0c[\x0cSettings\x0c]\x0c\nport=A\n",
    "[Settings]\nport=A\x1a",
    "[Settings]\nport=A\n\x1a",
    "[Settings]\n\x1aport\x1a=\x1aA B\x1a\n",
    "[Settings]\nport=A B  C\n",
    "[Settings]\nport=\u00a0A\u00a0\n",
    "[Settings]\n\u00a0port=A\n",
    # Quotes: one matching pair goes.
    "[Settings]\nport=\"A\"\n",
    "[Settings]\nport='A'\n",
    "[Settings]\nport=\"A'\n",
    "[Settings]\nport=\"\n",
    "[Settings]\nport=\"\"\n",
    "[Settings]\nport=' A '\n",
    "[Settings]\nport= \" A \" \n",
    "[Settings]\nport=\"A\"B\"\n",
    # A NUL ends a name or a value; quotes are judged on the text before it.
    "[Settings\x00junk]\nport=A\n",
    "[Settings \x00junk]\nport=A\n",
    "[Set\x00]tings]\nport=A\n",
    "[Settings]\nport\x00junk=A\nport=B\n",
    "[Settings]\nport\x00" + "k" * 300 + "=A\n",
    "[Settings]\nport=\"A\x00B\"\nsleepTime=\"A \x00B\"\n",
    "[Settings]\nport=\"A\"\x00B\nsleepTime=\"\x00\"\n",
    # Keys: letter case, the first one wins, lines without "=".
    "[Settings]\nPort=A\nport=B\n",
    "[Settings]\nport\nport=A\n",
    "[Settings]\nport =\n",
    "[Settings]\n=A\nport==A\n",
    "[Settings]\nports=A\nport x=B\n",
    "[Settings]\n;port=B\nport=A\n",
    "[Settings]\n  ;port=B\n",
    "[Settings]\nport=a=b;c\n",
    "[Settings]\nsleeptime=250ms\nSLEEPTIME=1\n",
    # Lengths: values are cut to 259 characters.
    "[Settings]\nport=" + "x" * 300 + "\n",
    "[Settings]\nport=\"" + "y" * 300 + "\"\n",
    "[Settings]\nport=\"" + "z" * 258 + "\"\n",
    "[Settings]\nport=\"" + "z" * 259 + "\"\n",
    "[Settings]\n" + "k" * 300 + "=1\nport=A\n",
    # Characters beyond ASCII in each encoding that holds them.
    "; f\u00fcr den Empf\u00e4nger\n[Settings]\nport=COM\u00e9\n",
    "[Settings]\nport=\u20ac\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\n",
    "[Settings]\nport=\u017d\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a"
    "\u0153\u017e\u0178\n",
    "[Settings]\nport=\x81\x8d\x8f\x90\x9d\n",
    "[Settings]\nport=\u0131\nsleepTime=\u017f\n",
    "[\u017fettings]\nport=A\n",
    "[Settings]\nsleepT\u0131me=3\nport=A\n",
    "[Settings]\nport=\u4e2d\u6587\u2603\n",
    "[Settings]\nport=\U0001F4FA\n",
    "",
    "\n\n",
    "[Settings]",
]

# Files that no text encoding above makes: raw bytes, named.
RAW = {
    "invalid-utf8-ansi": b"[Settings]\nport=\xc3\x28\xe9\x80\n",
    "lone-continuation": b"[Settings]\r\nport=A\x80B\r\n",
    "ansi-then-utf8": b"; \xe9\n[Settings]\nport=\xc3\xa9\n",
    "utf8-then-ansi": b"; \xc3\xa9\n[Settings]\nport=\xe9\n",
    "truncated-sequence": b"[Settings]\nport=A\xe2\x82",
    "bom-only-utf8": b"\xef\xbb\xbf",
    "bom-only-utf16": b"\xff\xfe",
    "bom-then-invalid": b"\xef\xbb\xbf[Settings]\nport=A\xe9B\n",
    "odd-utf16": b"\xff\xfe" + "[Settings]\nport=A".encode("utf-16-le") + b"B",
    "nul-in-value": b"[Settings]\nport=A\x00B\nsleepTime=\x00\n",
    "nul-in-name": b"[Settings]\npo\x00rt=A\nport=B\n",
    "nul-in-section": b"[Sett\x00ings]\nport=A\n",
    "nul-utf16": "\ufeff[Settings]\nport=A\x00B\n".encode("utf-16-le"),
    "long-astral": ("\ufeff[Settings]\nport=" + "\U0001F4FA" * 200 + "\n").encode("utf-16-le"),
}


def random_files(count, seed=20261209):
    """Settings files made of the pieces people and editors produce, in
    every encoding: the same `seed` gives the same files."""
    rng = random.Random(seed)
    blanks = [" ", "\t", "\x0b", "\x0c", "\x1a"]
    ends = ["\n", "\r\n", "\r"]
    names = ["port", "Port", "PORT", "sleepTime", "sleeptime", "other", ";port", "[x", "por t",
             "", "port=", "sleep\u00e9"]
    sections = ["[Settings]", "[settings]", "[ Settings ]", "[Settings]]", "[Settings", "[Other]",
                "[Settings] ; x", "[Other", "[]", "[Settings] ]x"]
    plain = "ACMOS019/_-.\\:"
    special = "\"'=;[] "
    wide = "\u00e9\u00fc\u20ac\u2018\u2019\u0160"

    def blank_run():
        return "".join(rng.choice(blanks) for _ in range(rng.randint(0, 2)))

    files = []
    for number in range(count):
        encoding = ENCODINGS[number % len(ENCODINGS)]
        alphabet = plain + special + wide
        lines = []
        for _ in range(rng.randint(1, 8)):
            kind = rng.random()
            if kind < 0.3:
                section = rng.choice(sections) if rng.random() < 0.6 else "[Settings]"
                line = blank_run() + section + blank_run()
            elif kind < 0.9:
                value = "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 12)))
                line = (blank_run() + rng.choice(names) + blank_run() + "=" + blank_run() + value +
                        blank_run())
            else:
                line = blank_run()
            lines.append(line + rng.choice(ends))
        text = "".join(lines)
        if rng.random() < 0.2:
            text = text.rstrip("\r\n")
        files.append(("random-%04d-%s" % (number, encoding), encode(text, encoding)))
    return files


def corpus():
    files = []
    for number, text in enumerate(RULES):
        for encoding in ENCODINGS:
            try:
                data = encode(text, encoding)
            except (UnicodeEncodeError, ValueError):
                continue  # a character the encoding cannot hold
            files.append(("rule-%02d-%s" % (number, encoding), data))
    files += sorted(RAW.items())
    files += random_files(800)
    return files


def decode_units(units, utf16):
    """The probe's hexadecimal characters as a string."""
    if utf16:
        return b"".join(int(u, 16).to_bytes(2, "little") for u in units).decode(
            "utf-16-le", "surrogatepass")
    return "".join(chr(int(u, 16)) for u in units)


def answers(command, names, directory, utf16):
    out = subprocess.run(command + names, cwd=directory, capture_output=True, check=True,
                         timeout=600).stdout.decode("ascii")
    found = {}
    for line in out.splitlines():
        name, key, count, *units = line.split()
        found[(name, key)] = (int(count), decode_units(units, utf16))
    return found


BOMS = (b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff")


def units(text):
    return text.encode("utf-16-le", "surrogatepass")


def unmarked_utf8(data, ours, windows):
    """A file without a byte-order mark that is valid UTF-8 is read as
    UTF-8 here (a Linux device path must be UTF-8 to open); Windows reads
    it as ANSI."""
    if data.startswith(BOMS):
        return False
    try:
        return ansi(windows).decode("utf-8") == ours
    except UnicodeDecodeError:
        return False


def astral_counts_as_one(data, ours, windows):
    """A character above U+FFFF is one character here, two UTF-16 units on
    Windows: the cut at 259 falls elsewhere."""
    return any(ord(c) > 0xffff for c in ours) and units(ours)[:len(units(windows))] == units(
        windows)


def invalid_after_utf8_mark(data, ours, windows):
    """Invalid UTF-8 after a UTF-8 byte-order mark keeps its bytes here;
    Windows puts U+FFFD in their place."""
    pattern = "".join("[\x80-\xff]+" if c == "\ufffd" else re.escape(c) for c in windows)
    return data.startswith(BOMS[0]) and re.fullmatch(pattern, ours) is not None


def odd_utf16(data, ours, windows):
    """A UTF-16 file of an odd length ends with its last whole unit here;
    Windows reads a unit past the end of the file."""
    return (data.startswith(BOMS[1:]) and len(data) % 2 == 1 and windows.startswith(ours) and
            len(windows) == len(ours) + 1)


def quoted_259(data, ours, windows):
    """A quoted value of exactly 259 characters keeps all of them here;
    Windows drops the last while taking off the closing quote."""
    return len(ours) == 259 and windows == ours[:258]


# The differences kept on purpose, by name.
KEPT = {f.__name__: f for f in (unmarked_utf8, astral_counts_as_one, invalid_after_utf8_mark,
                                odd_utf16, quoted_259)}


class Differential(unittest.TestCase):
    def test_our_reader_answers_as_windows_does(self):
        self.assertTrue(NATIVE_PROBE and WINDOWS_PROBE, "set NATIVE_PROBE and WINDOWS_PROBE")
        directory = tempfile.mkdtemp(prefix="varnok-profiles-")
        self.addCleanup(shutil.rmtree, directory, True)
        files = corpus()
        for name, data in files:
            with open(os.path.join(directory, name), "wb") as f:
                f.write(data)
        names = [name for name, _ in files]
        ours = answers([NATIVE_PROBE], names, directory, utf16=False)
        windows = answers(["wine", WINDOWS_PROBE], names, directory, utf16=True)
        kept = {reason: 0 for reason in KEPT}
        differences = []
        values = 0
        for name, data in files:
            for key in ("port", "sleepTime"):
                a, b = ours[(name, key)], windows[(name, key)]
                values += b[1] != ""
                if a[1] == b[1]:
                    continue
                reason = next((r for r, holds in KEPT.items() if holds(data, a[1], b[1])), None)
                if reason:
                    kept[reason] += 1
                else:
                    differences.append("%s, key %s:\n  file    %s\n  ours    %r\n  windows %r" % (
                        name, key, data.hex(" "), a[1], b[1]))
        print("%d files, %d keys compared (%d with a value); kept differences: %s" % (
            len(files), 2 * len(files), values, ", ".join("%s %d" % kv for kv in kept.items())))
        self.assertEqual(differences, [], "\n" + "\n".join(differences[:40]) +
                         "\n%d differences" % len(differences))


if __name__ == "__main__":
    unittest.main()
