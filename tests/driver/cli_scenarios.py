#!/usr/bin/env python3
"""The -u password prompt of the real cmplxview program on a terminal, with
echo off while it waits and back on after it, also after a signal.  The -g
prompt's whole run is checked end to end, everything else the command line
does in process by the driver's unit tests.

Usage: cli_scenarios.py PATH-TO-CMPLXVIEW [unittest options]  (or set CMPLXVIEW)
"""

import os
import select
import signal
import subprocess
import sys
import termios
import time
import unittest

BINARY = None
ENVIRONMENT = dict(os.environ, XK_CIM_SOCKET="/nonexistent/cmplxview-tests/provider.socket")  # no real provider


def read_until(descriptor, expected, seconds=10.0):
    """Reads from `descriptor` until `expected` (bytes) has arrived, the end, or time runs out."""
    received, deadline = b"", time.monotonic() + seconds
    while expected not in received and select.select([descriptor], [], [], max(0, deadline - time.monotonic()))[0]:
        try:
            chunk = os.read(descriptor, 4096)
        except OSError:  # the terminal's other side is gone
            break
        if not chunk:
            break
        received += chunk
    return received


class PasswordPromptOnTerminal(unittest.TestCase):
    def prompt(self, argv, prompt):
        """Starts the program on a fresh terminal and waits until it shows `prompt` with echo off."""
        self.controller, self.terminal = os.openpty()
        self.addCleanup(os.close, self.controller)
        self.addCleanup(os.close, self.terminal)
        process = subprocess.Popen([BINARY] + argv, stdin=self.terminal, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=ENVIRONMENT)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        self.assertEqual(read_until(process.stdout.fileno(), prompt.encode()), prompt.encode())
        self.assertFalse(self.echo_on(), "echo still on while the prompt waits")
        return process

    def echo_on(self):
        return bool(termios.tcgetattr(self.terminal)[3] & termios.ECHO)

    def test_typed_password_is_neither_echoed_nor_printed(self):
        process = self.prompt(["-B", "-u", "operator:", "-h", "127.0.0.1"], "Please enter the password for user operator:  ")
        os.write(self.controller, b"typed-secret\n")
        rest, errors = process.communicate(timeout=30)
        self.assertEqual(rest, b"\n")
        self.assertNotIn(b"typed-secret", errors)
        self.assertEqual(read_until(self.controller, b"\0", 0.3), b"", "typed input was echoed")
        self.assertTrue(self.echo_on(), "echo not restored")

    def test_signal_while_the_prompt_waits(self):
        for number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=number):
                process = self.prompt(["-g", "-h", "10.0.0.1"], "Please enter the IPMI password:  ")
                process.send_signal(number)
                rest, errors = process.communicate(timeout=30)
                self.assertEqual((rest, errors.decode(), process.returncode),
                                 (b"", "Internal Error: Received signal %d.\n" % number, 1))
                self.assertTrue(self.echo_on(), "echo not restored after the signal")


if __name__ == "__main__":
    arguments = sys.argv[1:]
    BINARY = os.path.abspath(arguments.pop(0)) if arguments and not arguments[0].startswith("-") \
        else os.environ.get("CMPLXVIEW")
    if not BINARY or not os.access(BINARY, os.X_OK):
        sys.exit("cli_scenarios.py: give the path of the cmplxview program")
    unittest.main(argv=[sys.argv[0]] + arguments, verbosity=2)
