#!/usr/bin/env python3
"""The manual pages: well-formed roff, and cmplxview.1 true to the program.

- both pages format without a warning from groff;
- the SYNOPSIS of cmplxview.1 is the program's own usage text, word for word;
- OPTIONS has an entry for every option letter the program accepts, and for no other: the
  letters are found by asking the program (an unknown letter gives "Invalid option");
- ENVIRONMENT, FILES and CERTIFICATES name what the connection diagnostics send operators to
  look for (XK_SSL_SHARE, PEGASUS_HOME, client.pem, ...).
Python 3 standard library only.
"""

import argparse
import os
import re
import string
import subprocess
import sys
import tempfile
import unittest

ARGS = None


def render(page):
    """The page as plain text, lines long enough that nothing is broken or hyphenated."""
    result = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", "-rLL=250n", "-rHY=0", page],
                            capture_output=True, text=True, check=True)
    return result.stdout


def section(text, name):
    match = re.search(r"^" + re.escape(name) + r"\n(.*?)(?=^[A-Z][A-Z ]+\n|\Z)", text, re.M | re.S)
    assert match, f"no section {name}"
    return match.group(1)


def run_cmplxview(cmplxview, *args):
    env = dict(os.environ, XK_CIM_SOCKET=os.path.join(tempfile.gettempdir(), "no-such-provider.socket"))
    env.pop("XK_CIM_TRACE", None)
    return subprocess.run([cmplxview, *args], capture_output=True, text=True, env=env, stdin=subprocess.DEVNULL,
                          timeout=60)


def accepted_letters(cmplxview):
    """The option letters cmplxview accepts: an unknown letter gives "Invalid option"."""
    return {letter for letter in string.ascii_letters
            if f"Error: Invalid option -{letter}." not in run_cmplxview(cmplxview, "-" + letter).stderr}


def words(text):
    return text.split()


class ManualPages(unittest.TestCase):
    def page(self, name):
        return os.path.join(ARGS.source, "man", name)

    def test_pages_format_without_warnings(self):
        for name in ("cmplxview.1", "kest-provider.8", "kest-snapshot.1"):
            result = subprocess.run(["groff", "-man", "-ww", "-z", self.page(name)], capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, name)
            self.assertEqual(result.stderr, "", f"{name}: groff warns:\n{result.stderr}")

    def test_synopsis_is_the_usage_text(self):
        err = run_cmplxview(ARGS.cmplxview, "-Q").stderr  # not an option: wrong usage and the usage text
        usage = err.partition("Error: Wrong usage.\nUsage:\n")[2]
        self.assertTrue(usage, err)
        self.assertEqual(words(section(render(self.page("cmplxview.1")), "SYNOPSIS")), words(usage))

    def test_every_option_and_no_other_is_described(self):
        letters = accepted_letters(ARGS.cmplxview)
        # A sanity check of the probe itself: these are certainly options, these are not.
        self.assertTrue({"C", "V", "c", "h"} <= letters, letters)
        self.assertNotIn("Q", letters)
        source = open(self.page("cmplxview.1"), encoding="utf-8").read()
        options = source.split("\n.SH OPTIONS\n", 1)[1].split("\n.SH ", 1)[0]
        described = set(re.findall(r"^\.(?:B|BI|BR) \\-([A-Za-z])\b", options, re.M))
        self.assertEqual(described, letters)

    def test_environment_files_and_certificates(self):
        text = render(self.page("cmplxview.1"))
        environment = section(text, "ENVIRONMENT")
        for variable in ("XK_SSL_SHARE", "PEGASUS_HOME", "NLSPATH", "XK_CIM_SOCKET", "XK_CIM_TRACE"):
            self.assertRegex(environment, r"(?m)^\s+" + variable + r"\s*$")
        files = section(text, "FILES")
        for name in ("client.pem", "ssl.rnd"):
            self.assertRegex(files, r"(?m)^\s+" + re.escape(name) + r"\s*$")
        certificates = " ".join(words(section(text, "CERTIFICATES")))
        for needed in ("client.pem", "XK_SSL_SHARE", "--write-cert", "append"):
            self.assertIn(needed, certificates)
        # The diagnostics send operators here for the certificate.
        diagnostics = " ".join(words(section(text, "DIAGNOSTICS")))
        self.assertIn("Error: Unable to connect to the Kest Provider on target.", diagnostics)
        self.assertIn("CERTIFICATES", diagnostics)

    def test_exit_status(self):
        self.assertRegex(section(render(self.page("cmplxview.1")), "EXIT STATUS"), r"(?m)^\s+0\s(.|\n)*^\s+1\s")

    def test_provider_and_snapshot_pages_list_their_options(self):
        for program, page, extra, certain in [
            (ARGS.provider, "kest-provider.8", r"(?m)^ {7}--cert \S+ (--key)", {"--socket", "--https", "--print-mof"}),
            (ARGS.snapshot, "kest-snapshot.1", None, {"-", "-o", "-u", "-h", "--allow-missing", "--help"}),
        ]:
            with self.subTest(page):
                usage = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60).stdout
                found = set(re.findall(r"(?<![\w-])--?[a-z][a-z-]*", usage)) | ({"-"} if "-" in certain else set())
                self.assertTrue(certain <= found, usage)
                options = section(render(self.page(page)), "OPTIONS")
                tags = set(re.findall(r"(?m)^ {7}(--?[a-z-]*)", options) + (re.findall(extra, options) if extra else []))
                self.assertEqual(tags, found)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--cmplxview", required=True)
    parser.add_argument("--provider", required=True)
    parser.add_argument("--snapshot", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
