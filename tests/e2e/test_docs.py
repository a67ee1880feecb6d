"""What the documents promise agrees with the program: the options and
limits in --help, the man page and the README, and the wrapper the README
hands to a recorder."""
import os
import re
import subprocess
import unittest

from harness import VARNOK, VarnokTest, message

TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def read(path):
    with open(os.path.join(TOP, path), encoding="utf-8") as f:
        return f.read()


def options(text):
    return set(re.findall(r"(?<![\w/-])(--?[a-z]+|/\?)(?![\w-])", text))


class Documents(VarnokTest):
    def test_help_man_page_and_readme_agree_on_options_and_limits(self):
        help_text = subprocess.run([VARNOK, "--help"], capture_output=True, text=True,
                                   check=True).stdout
        man = read("doc/varnok.1.in").replace("\\-", "-")
        readme = read("README.md")
        sources = {
            "--help": help_text[:help_text.index("\n\n")] + help_text[help_text.index(
                "Options:"):help_text.index("Exit status:")],
            "man page": man[man.index(".SH SYNOPSIS"):man.index(".SH DESCRIPTION")] +
            man[man.index(".SH OPTIONS"):man.index("Neither touches")],
            "README": readme[readme.index("## Usage"):readme.index("CHANNEL is")],
        }
        for name, text in sources.items():
            self.assertEqual(options(text), {"-h", "--help", "/?", "--version"}, name)
        for name, text in (("--help", help_text), ("man page", man), ("README", readme)):
            for limit in ("10000", "10 seconds", "2 seconds", "unknown option"):
                self.assertIn(limit, re.sub(r"\s+", " ", text), name)

    def test_recorder_wrapper_enters_its_folder_or_fails(self):
        folder = os.path.join(self.dir, "settings")
        wrapper = os.path.join(self.dir, "varnok-recorder")
        with open(wrapper, "w") as f:
            f.write(read("doc/examples/varnok-recorder").replace(
                "folder=/var/lib/varnok", "folder=" + folder))
        os.chmod(wrapper, 0o755)
        env = dict(os.environ, PATH=os.path.dirname(VARNOK) + os.pathsep + os.environ["PATH"])
        run = lambda: subprocess.run([wrapper, "42"], cwd="/", env=env, capture_output=True,
                                     text=True, timeout=30)
        missing = run()
        self.assertEqual(missing.returncode, 1)
        self.assertOneLine(missing.stderr, "cannot enter " + folder)
        os.mkdir(folder)
        with open(os.path.join(folder, "varnok.ini"), "w") as f:
            f.write("[Settings]\nport=%s\nsleepTime=0\n" % self.port())
        done = run()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.emulator.line_bytes(), message(4) + message(2))
        self.assertTrue(os.path.exists(os.path.join(folder, "varnok.out")))


if __name__ == "__main__":
    unittest.main()
