#!/usr/bin/env python3
"""The password prompt of the real cmplxview program on a terminal: what only
a process with a pseudo-terminal as standard input shows (the prompt, echo
turned off and back on, a signal while the prompt waits).  Everything else
the command line does is checked in process by the driver's unit tests.

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
NO_ACTION = "Note: No action specified. Default behaviour is display all.\n"
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

    def test_prompt_without_echo(self):
        cases = [
            # (arguments, prompt, what the front end prints on standard error before the reports run)
            (["-g", "-h", "10.0.0.1"], MP_PROMPT, NO_ACTION),
            (["-C", "-h", "mp-host", "-g"], MP_PROMPT, ""),
            (["-B", "-u", "operator:", "-h", "10.0.0.1"], "Please enter the password for user operator:  ", ""),
        ]
        for argv, prompt, front_end in cases:
            with self.subTest(argv=argv):
                process = self.start(argv)
                shown = read_until(process.stdout.fileno(), prompt.encode())
                self.assertEqual(shown, prompt.encode())
                self.assertFalse(echo_on(self.terminal), "echo still on while the prompt waits")
                os.write(self.controller, b"typed-secret\n")
                rest, errors = process.communicate(timeout=30)
                self.assertEqual((shown + rest).decode(), prompt + "\n")
                self.assertTrue(errors.decode().startswith(front_end), errors)
                self.assertNotIn(b"typed-secret", rest + errors)
                self.assertEqual(read_until(self.controller, b"\0", 0.3), b"", "typed input was echoed")
                self.assertTrue(echo_on(self.terminal), "echo not restored")

    def test_no_prompt_when_password_given(self):
        process = self.start(["-X", "-g", "ipmi", "-h", "10.0.0.1"])
        stdout, _ = process.communicate(timeout=30)
        self.assertNotIn(b"Please enter", stdout)

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
