#!/usr/bin/env python3
"""Bash completion of cmplxview: it offers exactly the program's options, and behaves.

The option letters are found by asking the program (an unknown letter gives "Invalid
option"), so an option added to or removed from cmplxview without the completion fails here.
The completion function runs in a real bash, with COMP_WORDS and COMP_CWORD as bash sets them.
Python 3 standard library only.
"""

import argparse
import os
import re
import shlex
import subprocess
import sys
import unittest

from test_manpages import accepted_letters

ARGS = None


def complete(*words):
    """COMPREPLY for the command line `words`, the last word being the one completed; the
    first word names the program whose completion runs."""
    source, function = ((ARGS.snapshot_completion, "_kest_snapshot") if words[0] == "kest-snapshot"
                        else (ARGS.completion, "_cmplxview"))
    script = (
        f"source {shlex.quote(source)}\n"
        f"COMP_WORDS=({' '.join(shlex.quote(w) for w in words)})\n"
        f"COMP_CWORD={len(words) - 1}\n"
        f"{function}\n"
        "printf '%s\\n' \"${COMPREPLY[@]}\"\n"
    )
    result = subprocess.run(["bash", "--norc", "--noprofile", "-c", script], capture_output=True, text=True,
                            timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stderr == "", result.stderr
    return sorted(line for line in result.stdout.split("\n") if line)


# command line (the last word is completed), offered exactly, or (must be offered, must not)
CASES = [
    ("prefix", ["cmplxview", "-X"], ["-X"]),
    ("no option", ["cmplxview", "x"], []),
    ("an option given is not offered again", ["cmplxview", "-C", ""], ({"-A"}, {"-C"})),
    ("a cluster counts each letter", ["cmplxview", "-CAM", ""], ({"-u"}, {"-C", "-A", "-M"})),
    ("repeatable options stay", ["cmplxview", "-c", "0", "-c", "1/1", ""], ({"-c", "-V"}, set())),
    ("argument of -c", ["cmplxview", "-c", ""], []),
    ("argument of -b", ["cmplxview", "-b", ""], []),
    ("argument of -i", ["cmplxview", "-i", ""], []),
    ("argument of -p", ["cmplxview", "-p", ""], []),
    ("argument of -u", ["cmplxview", "-u", ""], []),
    # "Vx:pw" is the argument of -u; a word that begins with '-' is the next option, as cmplxview reads it.
    ("an argument is not read as options", ["cmplxview", "-u", "Vx:pw", ""], ({"-V"}, set())),
    ("an option is no argument", ["cmplxview", "-u", "-V", ""], (set(), {"-V"})),
    ("the IPMI password is optional", ["cmplxview", "-g", ""], []),
    ("an option after -g", ["cmplxview", "-g", "-"], ({"-h"}, {"-g"})),
    ("host names after -h", ["cmplxview", "-u", "a:b", "-h", "localh"], ({"localhost"}, set())),
    ("host names after -h of kest-snapshot", ["kest-snapshot", "-u", "a:b", "-h", "localh"], ({"localhost"}, set())),
]


class Completion(unittest.TestCase):
    def test_offers_every_option_of_the_program(self):
        options = {"-" + letter for letter in accepted_letters(ARGS.cmplxview)}
        self.assertIn("-C", options)
        self.assertEqual(set(complete("cmplxview", "")), options)

    def test_cases(self):
        for name, words, expected in CASES:
            with self.subTest(name):
                offered = complete(*words)
                if isinstance(expected, list):
                    self.assertEqual(offered, expected)
                else:
                    self.assertLessEqual(expected[0], set(offered))
                    self.assertFalse(expected[1] & set(offered), offered)


class SnapshotCompletion(unittest.TestCase):
    """kest-snapshot: the options of its usage text, and class names it accepts."""

    def run_snapshot(self, *args):
        return subprocess.run([ARGS.snapshot, *args], capture_output=True, text=True, timeout=60,
                              stdin=subprocess.DEVNULL)

    def test_offers_the_options_of_the_usage_text(self):
        usage = self.run_snapshot("--help").stdout
        options = {"-"} | set(re.findall(r"(?<![\w-])--?[a-z][a-z-]*", usage))
        self.assertEqual(set(complete("kest-snapshot", "")), options)

    def test_class_names_after_allow_missing_are_the_captured_ones(self):
        offered = complete("kest-snapshot", "--allow-missing", "")
        self.assertEqual(len(offered), 9, offered)
        for name in offered + ["XK_KestRemoteComplex"]:
            with self.subTest(name):
                refused = "not a class" in self.run_snapshot("--allow-missing", name).stderr
                self.assertEqual(refused, name == "XK_KestRemoteComplex")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--completion", required=True)
    parser.add_argument("--cmplxview", required=True)
    parser.add_argument("--snapshot-completion", required=True)
    parser.add_argument("--snapshot", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
