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


def run_cmplxview(*args):
    env = dict(os.environ, XK_CIM_SOCKET=os.path.join(tempfile.gettempdir(), "no-such-provider.socket"))
    env.pop("XK_CIM_TRACE", None)
    return subprocess.run([ARGS.cmplxview, *args], capture_output=True, text=True, env=env,
                          stdin=subprocess.DEVNULL, timeout=60)


def usage_text():
    result = run_cmplxview("-Q")  # not an option: wrong usage and the usage text
    assert "Error: Wrong usage.\n" in result.stderr, result.stderr
    return result.stderr.split("Error: Wrong usage.\n", 1)[1]


def accepted_letters():
    letters = set()
    for letter in string.ascii_letters:
        result = run_cmplxview("-" + letter)
        if f"Error: Invalid option -{letter}." not in result.stderr:
            letters.add(letter)
    return letters


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
        usage = usage_text()
        self.assertTrue(usage.startswith("Usage:\n"), usage)
        synopsis = section(render(self.page("cmplxview.1")), "SYNOPSIS")
        self.assertEqual(words(synopsis), words(usage[len("Usage:\n"):]))

    def test_every_option_and_no_other_is_described(self):
        letters = accepted_letters()
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
        status = section(render(self.page("cmplxview.1")), "EXIT STATUS")
        self.assertRegex(status, r"(?m)^\s+0\s")
        self.assertRegex(status, r"(?m)^\s+1\s")

    def test_provider_page_lists_its_options(self):
        usage = subprocess.run([ARGS.provider, "--help"], capture_output=True, text=True, timeout=60).stdout
        found = set(re.findall(r"--[a-z-]+", usage))
        self.assertTrue({"--socket", "--https", "--print-mof"} <= found, usage)
        options = section(render(self.page("kest-provider.8")), "OPTIONS")
        tags = set(re.findall(r"(?m)^ {7}(--[a-z-]+)", options) + re.findall(r"(?m)^ {7}--cert \S+ (--key)", options))
        self.assertEqual(tags, found)

    def test_snapshot_page_lists_its_options(self):
        usage = subprocess.run([ARGS.snapshot, "--help"], capture_output=True, text=True, timeout=60).stdout
        found = set(re.findall(r"(?<![\w-])--?[a-z][a-z-]*", usage)) | {"-"}
        self.assertTrue({"-o", "-u", "-h", "--allow-missing", "--help"} <= found, usage)
        text = render(self.page("kest-snapshot.1"))
        tags = set(re.findall(r"(?m)^ {7}(--?[a-z-]*)", section(text, "OPTIONS")))
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
