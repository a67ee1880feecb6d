"""What the documents promise agrees with the program: the options and
limits in --help, the man page and the README."""
import os
import re
import subprocess
import unittest

from harness import PLATFORM, VarnokTest

TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def read(path):
    with open(os.path.join(TOP, path), encoding="utf-8") as f:
        return f.read()


def options(text):
    return set(re.findall(r"(?<![\w/-])(--?[a-zA-Z]+|/\?)(?![\w-])", text))


class Documents(VarnokTest):
    def test_help_man_page_and_readme_agree_on_options_and_limits(self):
        help_text = subprocess.run(PLATFORM.command(["--help"]), capture_output=True,
                                   text=True, check=True).stdout
        man = read("doc/varnok.1.in").replace("\\-", "-")
        readme = read("doc/guide.md")
        sources = {
            "--help": help_text[:help_text.index("\n\n")] + "\n" + help_text[help_text.index(
                "Options:"):help_text.index("Exit status:")],
            "man page": man[man.index(".SH SYNOPSIS"):man.index(".SH DESCRIPTION")] +
            man[man.index(".SH OPTIONS"):man.index("Options come before the channel")],
            "guide": readme[readme.index("## Usage"):readme.index("CHANNEL is")],
        }
        for name, text in sources.items():
            self.assertEqual(options(text), {"-C", "--check", "--ports", "-h", "--help", "/?",
                                             "--version"}, name)
        for name, text in (("--help", help_text), ("man page", man), ("guide", readme)):
            for limit in ("10000", "10 seconds", "2 seconds", "unknown option"):
                self.assertIn(limit, re.sub(r"\s+", " ", text), name)


if __name__ == "__main__":
    unittest.main()
