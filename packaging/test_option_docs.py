#!/usr/bin/env python3
"""The manual pages and the bash completions match the options the programs accept (cmplxview's found by
asking it, the others' from --help); the pages format without a groff warning."""

import argparse
import functools
import os
import pathlib
import re
import shlex
import string
import subprocess
import sys
import tempfile
import unittest

def run(program, *args):
    env = dict(os.environ, XK_CIM_SOCKET=os.path.join(tempfile.gettempdir(), "no-such-provider.socket"))
    env.pop("XK_CIM_TRACE", None)
    return subprocess.run([program, *args], capture_output=True, text=True, env=env, stdin=subprocess.DEVNULL,
                          timeout=60)


@functools.lru_cache(maxsize=None)
def letters():
    return frozenset(letter for letter in string.ascii_letters
                     if f"Error: Invalid option -{letter}." not in run(ARGS.cmplxview, "-" + letter).stderr)


def help_options(program):
    return set(re.findall(r"(?<![\w-])--?[a-z][a-z-]*", run(program, "--help").stdout))


def render(page):
    """The page as plain text, no line broken or hyphenated."""
    result = subprocess.run(["groff", "-man", "-ww", "-Tascii", "-P-cbou", "-rLL=250n", "-rHY=0",
                             os.path.join(ARGS.source, "man", page)], capture_output=True, text=True)
    assert (result.returncode, result.stderr) == (0, ""), f"{page}: groff warns: {result.stderr}"
    return result.stdout


def section(text, name):
    match = re.search(r"^" + re.escape(name) + r"\n(.*?)(?=^[A-Z][A-Z ]+\n|\Z)", text, re.M | re.S)
    assert match, f"no section {name}"
    return match.group(1)


def complete(*words):
    """COMPREPLY for the command line `words` (the last word is completed; the first names the program)."""
    source, function = ((ARGS.snapshot_completion, "_kest_snapshot") if words[0] == "kest-snapshot"
                        else (ARGS.completion, "_cmplxview"))
    script = (f"source {shlex.quote(source)}\nCOMP_WORDS=({' '.join(shlex.quote(w) for w in words)})\n"
              f"COMP_CWORD={len(words) - 1}\n{function}\nprintf '%s\\n' \"${{COMPREPLY[@]}}\"\n")
    result = subprocess.run(["bash", "--norc", "--noprofile", "-c", script], capture_output=True, text=True,
                            timeout=60)
    assert (result.returncode, result.stderr) == (0, ""), result.stderr
    return sorted(line for line in result.stdout.split("\n") if line)


class ManualPages(unittest.TestCase):
    def test_synopsis_is_the_usage_text(self):
        err = run(ARGS.cmplxview, "-Q").stderr  # not an option: wrong usage and the usage text
        usage = err.partition("Error: Wrong usage.\nUsage:\n")[2]
        self.assertTrue(usage, err)
        self.assertEqual(section(render("cmplxview.1"), "SYNOPSIS").split(), usage.split())

    def test_every_option_and_no_other_is_described(self):
        # A check of the probe itself: these are certainly options, this is not.
        self.assertTrue({"C", "V", "c", "h"} <= letters() and "Q" not in letters(), letters())
        page = pathlib.Path(ARGS.source, "man", "cmplxview.1").read_text(encoding="utf-8")
        options = page.split("\n.SH OPTIONS\n", 1)[1].split("\n.SH ", 1)[0]
        self.assertEqual(set(re.findall(r"^\.(?:B|BI|BR) \\-([A-Za-z])\b", options, re.M)), letters())

    def test_sections_name_what_operators_look_for(self):
        text = render("cmplxview.1")
        for name, tags, words in [
            # a section, the entries it has (each on a line of its own), the words its text holds
            ("ENVIRONMENT", ("XK_SSL_SHARE", "PEGASUS_HOME", "NLSPATH", "XK_CIM_SOCKET", "XK_CIM_TRACE"), ()),
            ("FILES", ("client.pem", "ssl.rnd"), ()),
            ("EXIT STATUS", ("0", "1"), ()),
            ("CERTIFICATES", (), ("client.pem", "XK_SSL_SHARE", "--write-cert", "append")),
            # The diagnostics send operators to the certificates.
            ("DIAGNOSTICS", (), ("Error: Unable to connect to the Kest Provider on target.", "CERTIFICATES")),
        ]:
            body = section(text, name)
            for tag in tags:
                self.assertRegex(body, r"(?m)^\s+" + re.escape(tag) + (r"\s" if name == "EXIT STATUS" else r"\s*$"))
            for word in words:
                self.assertIn(word, " ".join(body.split()), name)

    def test_provider_and_snapshot_pages_list_their_options(self):
        for program, page, extra, certain in [
            (ARGS.provider, "kest-provider.8", r"(?m)^ {7}--cert \S+ (--key)", {"--socket", "--https", "--print-mof"}),
            (ARGS.snapshot, "kest-snapshot.1", "(?!)", {"-", "-o", "-u", "-h", "--allow-missing", "--help"}),
        ]:
            with self.subTest(page):
                found = help_options(program) | ({"-"} & certain)
                self.assertTrue(certain <= found, found)
                options = section(render(page), "OPTIONS")
                self.assertEqual(set(re.findall(r"(?m)^ {7}(--?[a-z-]*)", options) + re.findall(extra, options)), found)


# command line (the last word is completed), and what is offered: exactly a list, or (a set that
# must be offered, a set that must not)
COMPLETIONS = [
    ("prefix", ["cmplxview", "-X"], ["-X"]),
    ("no option", ["cmplxview", "x"], []),
    ("an option given is not offered again", ["cmplxview", "-C", ""], ({"-A"}, {"-C"})),
    ("a cluster counts each letter", ["cmplxview", "-CAM", ""], ({"-u"}, {"-C", "-A", "-M"})),
    ("repeatable options stay", ["cmplxview", "-c", "0", "-c", "1/1", ""], ({"-c", "-V"}, set())),
    *[("argument of " + option, ["cmplxview", option, ""], []) for option in ("-c", "-b", "-i", "-p", "-u")],
    # "Vx:pw" is the argument of -u; a word that begins with '-' is the next option, as cmplxview reads it.
    ("an argument is not read as options", ["cmplxview", "-u", "Vx:pw", ""], ({"-V"}, set())),
    ("an option is no argument", ["cmplxview", "-u", "-V", ""], (set(), {"-V"})),
    ("the IPMI password is optional", ["cmplxview", "-g", ""], []),
    ("an option after -g", ["cmplxview", "-g", "-"], ({"-h"}, {"-g"})),
    ("host names after -h", ["cmplxview", "-u", "a:b", "-h", "localh"], ({"localhost"}, set())),
    ("host names after -h of kest-snapshot", ["kest-snapshot", "-u", "a:b", "-h", "localh"], ({"localhost"}, set())),
]


class Completion(unittest.TestCase):
    def test_offers_every_option_of_the_programs(self):
        self.assertEqual(set(complete("cmplxview", "")), {"-" + letter for letter in letters()})
        self.assertEqual(set(complete("kest-snapshot", "")), help_options(ARGS.snapshot) | {"-"})

    def test_command_lines(self):
        for name, words, expected in COMPLETIONS:
            with self.subTest(name):
                offered = complete(*words)
                if isinstance(expected, list):
                    self.assertEqual(offered, expected)
                else:
                    self.assertLessEqual(expected[0], set(offered))
                    self.assertFalse(expected[1] & set(offered), offered)

    def test_class_names_after_allow_missing_are_the_captured_ones(self):
        offered = complete("kest-snapshot", "--allow-missing", "")
        self.assertEqual(len(offered), 9, offered)
        for name in offered + ["XK_KestRemoteComplex"]:
            with self.subTest(name):
                refused = "not a class" in run(ARGS.snapshot, "--allow-missing", name).stderr
                self.assertEqual(refused, name == "XK_KestRemoteComplex")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--source", "--cmplxview", "--provider", "--snapshot", "--completion", "--snapshot-completion"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
