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
import string
import subprocess
import sys
import tempfile
import unittest

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


def program_options():
    env = dict(os.environ, XK_CIM_SOCKET=os.path.join(tempfile.gettempdir(), "no-such-provider.socket"))
    options = set()
    for letter in string.ascii_letters:
        result = subprocess.run([ARGS.cmplxview, "-" + letter], capture_output=True, text=True, env=env,
                                stdin=subprocess.DEVNULL, timeout=60)
        if f"Error: Invalid option -{letter}." not in result.stderr:
            options.add("-" + letter)
    return options


class Completion(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.options = program_options()

    def test_offers_every_option_of_the_program(self):
        self.assertIn("-C", self.options)
        self.assertEqual(set(complete("cmplxview", "")), self.options)

    def test_registered_for_cmplxview(self):
        result = subprocess.run(["bash", "--norc", "-c", f"source {shlex.quote(ARGS.completion)}; complete -p cmplxview"],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.stdout.strip(), "complete -F _cmplxview cmplxview")

    def test_prefix(self):
        self.assertEqual(complete("cmplxview", "-X"), ["-X"])
        self.assertEqual(complete("cmplxview", "x"), [])

    def test_option_given_is_not_offered_again(self):
        offered = complete("cmplxview", "-C", "")
        self.assertNotIn("-C", offered)
        self.assertIn("-A", offered)

    def test_cluster_counts_each_letter(self):
        offered = complete("cmplxview", "-CAM", "")
        for gone in ("-C", "-A", "-M"):
            self.assertNotIn(gone, offered)
        self.assertIn("-u", offered)

    def test_repeatable_options_stay(self):
        offered = complete("cmplxview", "-c", "0", "-c", "1/1", "")
        self.assertIn("-c", offered)
        self.assertIn("-V", offered)

    def test_arguments_are_not_completed(self):
        for option in ("-c", "-b", "-i", "-p", "-u"):
            self.assertEqual(complete("cmplxview", option, ""), [], option)

    def test_argument_is_not_read_as_options(self):
        # "Vx:pw" is the argument of -u, so -V is still offered; a word that begins with '-'
        # is no argument but the next option, as cmplxview reads it.
        self.assertIn("-V", complete("cmplxview", "-u", "Vx:pw", ""))
        self.assertNotIn("-V", complete("cmplxview", "-u", "-V", ""))

    def test_ipmi_password_is_optional(self):
        self.assertEqual(complete("cmplxview", "-g", ""), [])
        offered = complete("cmplxview", "-g", "-")
        self.assertIn("-h", offered)
        self.assertNotIn("-g", offered)

    def test_host_names_after_h(self):
        self.assertIn("localhost", complete("cmplxview", "-u", "a:b", "-h", "localh"))
        self.assertIn("localhost", complete("kest-snapshot", "-u", "a:b", "-h", "localh"))


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
