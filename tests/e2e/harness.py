"""Runs varnok for real against the tuner emulator on a pseudo-terminal.

Each test gets a fresh working directory; the emulator records every byte
the program put on the line, and prints one line per key it decoded.

VARNOK_SIDE picks the program under test: "posix" (the default) runs the
native program with the emulator's device path as its port; "wine" runs
varnok.exe under Wine, in the prefix WINEPREFIX, with the device mapped to a
COM port in Wine's registry.
"""
import os
import re
import shlex
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

# The program's command: its path, or an emulator's command and the path.
VARNOK_COMMAND = shlex.split(os.environ.get("VARNOK", "")) or [""]
VARNOK = VARNOK_COMMAND[-1]
EMULATOR = os.environ.get("TUNER_EMULATOR", "")
SIDE = os.environ.get("VARNOK_SIDE", "posix")

KEY_CHECKS = ["37E4", "266D", "14F6", "057F", "71C0", "6049", "52D2", "435B", "BBAC", "AA25"]
TIME_LINE = re.compile(rb"\| [A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}\r\n")


def message(digit):
    """The 33 bytes of the key command for one digit."""
    return bytes.fromhex("1070000203 40C8271003 1078000303 400068961003 1078000410 4022"
                         "%02X%s1003" % (digit, KEY_CHECKS[digit]))


def record(channel, port, middle=None, closing=True, why=None, unsent=0):
    """The log record of one run, with the time line as the fixed text
    TIME; `middle` replaces the lines between the port lines and the
    closing line. `why` is the reason a port did not open, `unsent` the
    digits from which on the writes failed; WHY stands for a system's own
    words."""
    count = "| Number of digits to send to DCT2xxx: %d\n" % len(channel)
    rule = "=" * (len(count) + 4) + "\n"
    text = rule + "TIME" + "| Changing to channel %s\n" % channel + count + rule
    if middle is None:
        middle = ("Varnok opened a port to: %s\n" % port if why is None else
                  "Varnok cannot open port: %s\nReason: %s; no digit will be sent\n" % (port, why))
        for i, d in enumerate(channel):
            middle += "digit %d of channel: %s\n" % (i + 1, d)
            if unsent and i + 1 >= unsent:
                middle += "digit %d was not sent: WHY\n" % (i + 1)
    text += "Port = %s\n" % port + middle
    if closing:
        text += "Closing port %s\n\n\n" % port
    return text.replace("\n", "\r\n").encode("latin-1")


def log_matches(log, expected):
    """Whether the log's bytes are `expected`, each TIME the local time of a
    run, each WHY any text up to the line's end."""
    pattern = re.escape(expected).replace(b"TIME", TIME_LINE.pattern).replace(b"WHY", b"[^\r\n]+")
    return re.fullmatch(pattern, log) is not None


class Emulator:
    """The tuner emulator, started on a pseudo-terminal of its own."""

    def __init__(self, directory, *options):
        self.raw_path = os.path.join(directory, "line.bin")
        self.process = subprocess.Popen([EMULATOR, "--raw", self.raw_path, *options],
                                        stdout=subprocess.PIPE, text=True)
        self.device = self.process.stdout.readline().strip()
        if not self.device.startswith("/dev/"):
            raise RuntimeError("the emulator gave no device: %r" % self.device)
        self.lines = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.strip())

    def keys(self):
        """(key, seconds) for each key message decoded so far."""
        found = [re.match(r"key (\d+) at ([\d.]+)$", line) for line in self.lines]
        return [(int(m.group(1)), float(m.group(2))) for m in found if m]

    def bad_frames(self):
        return [line for line in self.lines if line.startswith("bad frame")]

    def wait_for_keys(self, count, timeout=5.0):
        end = time.monotonic() + timeout
        while len(self.keys()) < count and time.monotonic() < end:
            time.sleep(0.01)
        return self.keys()

    def line_bytes(self):
        # The emulator writes what it read before it decodes it; give it a
        # moment to catch up with the last bytes sent.
        time.sleep(0.1)
        try:
            with open(self.raw_path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait(timeout=5)
        self.process.stdout.close()


class PosixSide:
    """The native program: ports are device paths."""

    emulator_options = ()

    def command(self, args):
        return [*VARNOK_COMMAND, *args]

    def port(self, emulator, name=None):
        return emulator.device

    def missing_port(self, directory):
        return os.path.join(directory, "no-such-tty")

    def file_port(self, path):
        """A port setting that names the file at `path`, in the test's
        folder: a bare name is a relative path here."""
        return os.path.basename(path)


class WineSide:
    """varnok.exe under Wine: ports are COM names that Wine's registry maps
    to device paths. tests/wine/run maps the names in VARNOK_WINE_PORTS to
    the path VARNOK_TUNER_LINK before Wine starts (Wine reads the mappings
    only then), and every emulator makes that path a link to its device.
    A COM name it does not map opens nothing."""

    def __init__(self):
        self.link = os.environ.get("VARNOK_TUNER_LINK", "")
        self.ports = os.environ.get("VARNOK_WINE_PORTS", "").split()
        self.emulator_options = ("--link", self.link)

    def command(self, args):
        return ["wine", VARNOK, *args]

    def port(self, emulator, name="COM5"):
        if not self.link or name not in self.ports:
            raise RuntimeError("%s is not mapped to the emulator: run under tests/wine/run" % name)
        return name

    def missing_port(self, directory):
        return "COM7"

    def file_port(self, path):
        return "Z:" + path.replace("/", "\\")


PLATFORM = WineSide() if SIDE == "wine" else PosixSide()


class Result:
    def __init__(self, status, stdout, stderr, seconds):
        self.status, self.stdout, self.stderr, self.seconds = status, stdout, stderr, seconds


class VarnokTest(unittest.TestCase):
    """A fresh working directory and an emulator for each test."""

    emulator_options = ()

    def setUp(self):
        self.assertTrue(os.access(VARNOK, os.X_OK), "set VARNOK to the built program")
        self.assertTrue(os.access(EMULATOR, os.X_OK), "set TUNER_EMULATOR to the emulator")
        self.dir = tempfile.mkdtemp(prefix="varnok-e2e-")
        self.emulator = Emulator(self.dir, *PLATFORM.emulator_options, *self.emulator_options)
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.addCleanup(self.emulator.stop)

    def port(self, name=None):
        """The emulator's device as a port name of the program under test."""
        if not hasattr(self, "_port"):
            self._port = PLATFORM.port(self.emulator, *([name] if name else []))
        return self._port

    def settings(self, port=None, sleep_time="0", raw=None):
        """Writes varnok.ini; the port defaults to the emulator's device."""
        if raw is None:
            raw = "[Settings]\nport=%s\n" % (self.port() if port is None else port)
            if sleep_time is not None:
                raw += "sleepTime=%s\n" % sleep_time
            raw = raw.encode()
        with open(os.path.join(self.dir, "varnok.ini"), "wb") as f:
            f.write(raw)

    def varnok(self, *args, timeout=30, as_user=False, **options):
        """Runs the program to its end in the test's folder; `as_user` runs
        the native program as an ordinary user where the tests run as root,
        who passes every file mode and the tty's exclusive mode."""
        command = PLATFORM.command(args)
        if as_user and os.geteuid() == 0:
            command = self.as_nobody(command)
        options.setdefault("cwd", self.dir)
        start = time.monotonic()
        done = subprocess.run(command, capture_output=True, timeout=timeout, **options)
        return Result(done.returncode, done.stdout, done.stderr.decode("utf-8", "replace"),
                      time.monotonic() - start)

    def start(self, *args):
        """Starts the program in the test's folder and returns at once."""
        return subprocess.Popen(PLATFORM.command(args), cwd=self.dir, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def as_nobody(self, command, group=None):
        # nobody may use the emulator's device, read the settings and append
        # to a log already there; the build folder may be closed to other
        # users, so it runs a copy. With `group`, only that group may use the
        # device, nobody is in it, and /run/lock is root's alone, as some
        # systems keep it (in a mount namespace of the run's own).
        os.chmod(self.emulator.device, 0o666)
        os.chmod(self.dir, os.stat(self.dir).st_mode | 0o555)
        os.chmod(os.path.join(self.dir, "varnok.ini"), 0o644)
        if os.path.exists(os.path.join(self.dir, "varnok.out")):
            os.chmod(os.path.join(self.dir, "varnok.out"), 0o666)
        program = os.path.join(self.dir, "varnok-copy")
        if not os.path.exists(program):
            shutil.copy(VARNOK, program)
            os.chmod(program, 0o755)
        user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                *VARNOK_COMMAND[:-1], program, *command[len(VARNOK_COMMAND):]]
        if group is None:
            return user
        os.chown(self.emulator.device, -1, group)
        os.chmod(self.emulator.device, 0o660)
        user[3] = "--groups=%d" % group
        return ["unshare", "-m", "sh", "-c",
                'mount -t tmpfs -o mode=0755 tmpfs /run/lock && exec "$@"', "sh", *user]

    def remove_log(self):
        path = os.path.join(self.dir, "varnok.out")
        if os.path.exists(path):
            os.remove(path)

    def log(self):
        with open(os.path.join(self.dir, "varnok.out"), "rb") as f:
            return f.read()

    def assertLog(self, expected):
        """The log holds `expected` (as log_matches reads it)."""
        if not log_matches(self.log(), expected):
            self.assertEqual(TIME_LINE.sub(b"TIME", self.log()), expected)

    def assertOneLine(self, stderr, *words):
        self.assertEqual(stderr.count("\n"), 1, stderr)
        for word in words:
            self.assertIn(word, stderr)
