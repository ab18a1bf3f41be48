#!/usr/bin/env python3
"""The password prompt of the real cmplxview program on a terminal: what only
a process with a pseudo-terminal as standard input shows.  The -u prompt
with echo turned off and back on, and a signal while a prompt waits; the -g
prompt with its whole run is checked in tests/e2e/test_mp.py, everything else
the command line does in process by the driver's unit tests.

Usage: cli_scenarios.py PATH-TO-CMPLXVIEW [unittest options]
       (or set CMPLXVIEW to the program's path)
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

# Never let a run reach a real provider.
ENVIRONMENT = dict(os.environ, XK_CIM_SOCKET="/nonexistent/cmplxview-tests/provider.socket")
MP_PROMPT = "Please enter the IPMI password:  "


def read_until(descriptor, expected, seconds=10.0):
    """Reads from `descriptor` until `expected` (bytes) has arrived, the end, or time runs out."""
    received = b""
    deadline = time.monotonic() + seconds
    while expected not in received and time.monotonic() < deadline:
        if select.select([descriptor], [], [], deadline - time.monotonic())[0]:
            try:
                chunk = os.read(descriptor, 4096)
            except OSError:  # the terminal's other side is gone
                break
            if not chunk:
                break
            received += chunk
    return received


def echo_on(descriptor):
    return bool(termios.tcgetattr(descriptor)[3] & termios.ECHO)


class PasswordPromptOnTerminal(unittest.TestCase):
    def start(self, argv):
        self.controller, self.terminal = os.openpty()
        self.addCleanup(os.close, self.controller)
        self.addCleanup(os.close, self.terminal)
        self.assertTrue(echo_on(self.terminal))
        process = subprocess.Popen([BINARY] + argv, stdin=self.terminal, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=ENVIRONMENT)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def test_user_prompt_without_echo(self):
        prompt = "Please enter the password for user operator:  "
        process = self.start(["-B", "-u", "operator:", "-h", "127.0.0.1"])
        shown = read_until(process.stdout.fileno(), prompt.encode())
        self.assertEqual(shown, prompt.encode())
        self.assertFalse(echo_on(self.terminal), "echo still on while the prompt waits")
        os.write(self.controller, b"typed-secret\n")
        rest, errors = process.communicate(timeout=30)
        self.assertEqual((shown + rest).decode(), prompt + "\n")
        self.assertNotIn(b"typed-secret", rest + errors)
        self.assertEqual(read_until(self.controller, b"\0", 0.3), b"", "typed input was echoed")
        self.assertTrue(echo_on(self.terminal), "echo not restored")

    def test_signal_while_prompt_waits(self):
        for number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=number):
                process = self.start(["-g", "-h", "10.0.0.1"])
                self.assertEqual(read_until(process.stdout.fileno(), MP_PROMPT.encode()), MP_PROMPT.encode())
                process.send_signal(number)
                rest, errors = process.communicate(timeout=30)
                self.assertEqual((rest, errors.decode(), process.returncode),
                                 (b"", "Internal Error: Received signal %d.\n" % number, 1))
                self.assertTrue(echo_on(self.terminal), "echo not restored after the signal")


if __name__ == "__main__":
    arguments = sys.argv[1:]
    if arguments and not arguments[0].startswith("-"):
        BINARY = os.path.abspath(arguments.pop(0))
    else:
        BINARY = os.environ.get("CMPLXVIEW")
    if not BINARY or not os.access(BINARY, os.X_OK):
        sys.exit("cli_scenarios.py: give the path of the cmplxview program")
    unittest.main(argv=[sys.argv[0]] + arguments, verbosity=2)
