#!/usr/bin/env python3
"""Command-line scenarios run against the real cmplxview program.

Usage: cli_scenarios.py PATH-TO-CMPLXVIEW [unittest options]
       (or set CMPLXVIEW to the program's path)

Each scenario is data: the argument vector, the expected standard output,
standard error and exit status.  Rejected command lines are complete: the
program must stop before it connects.  Accepted command lines go on to the
reports, so for them only what the front end itself prints is checked (the
beginning of standard error, and that no prompt or usage text appears); add
report expectations to those rows when the reports exist.
"""

import os
import select
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

BINARY = None

# Never let a run reach a real provider.
ENVIRONMENT = dict(os.environ, XK_CIM_SOCKET="/nonexistent/cmplxview-tests/provider.socket")

USAGE = (
    "Usage:\n"
    " cmplxview \n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -s\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -w \n"
    "         [ -u username:[passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -X \n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -C|-I [-A] [-M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -B|-P [-M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -i I/Ochassis [-i...] [-M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -c cell [-c...] [-V|M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -b cabinet [-b...] [-V|M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
    " cmplxview -p Partition Number [-p...] [-V|M]\n"
    "         [ -u username:[passwd] -h IPaddress|hostname\n"
    "         | -g [passwd] -h IPaddress|hostname]\n"
    "\n"
)

WRONG_USAGE = "Error: Wrong usage.\n" + USAGE
NO_ACTION = "Note: No action specified. Default behaviour is display all.\n"
H_ONLY_WITH_U_OR_G = "Error: The -h option is only valid when used with either the -u or -g option.\n"
H_REQUIRED = "Error: The -h option is required when the -u or -g option is specified.\n"
U_AND_G = "Error: Options -u and -g are mutually exclusive.\n"
G_AND_W = ("Error: Options -g and -w are mutually exclusive.\n"
           "There is never a \"local partition\" when obtaining data remotely through the MP.")
V_AND_M = "Error: Options -V and -M are mutually exclusive.\n"
MP_PROMPT = "Please enter the IPMI password:  "


def once(letter):
    return "Error: Option -%s may only be specified once per command.\n" % letter


def needs_argument(letter):
    return "Error: Option -%s requires an argument.\n" % letter


def invalid_option(character):
    return "Error: Invalid option -%s.\n" % character


def missing_hyphen(word):
    return "Error: Missing hyphen(-) or missing option for %s.\n" % word


def invalid_number(kind, text):
    return "Error: Invalid %s number %s.\n" % (kind, text)


def invalid_address(text):
    return "Error: Invalid IP address: %s\n" % text


# Rejected command lines: (name, argv, stdout, stderr, status).
REJECTED = [
    # One rule broken.
    *[("repeated_-%s" % c, ["-" + c, "-" + c], "", once(c) + WRONG_USAGE, 1) for c in "ABCIPXsw"],
    ("repeated_in_one_cluster", ["-CC"], "", once("C") + WRONG_USAGE, 1),
    ("repeated_M", ["-c", "0", "-M", "-M"], "", once("M") + WRONG_USAGE, 1),
    ("repeated_V", ["-c", "0", "-V", "-V"], "", once("V") + WRONG_USAGE, 1),
    ("M_then_V_names_V_first", ["-c", "0", "-M", "-V"], "", V_AND_M + WRONG_USAGE, 1),
    ("V_then_M", ["-c", "0", "-V", "-M"], "", V_AND_M + WRONG_USAGE, 1),
    ("V_and_M_in_one_cluster", ["-VMc0"], "", V_AND_M + WRONG_USAGE, 1),
    *[("-%s_as_last_word" % c, ["-" + c], "", needs_argument(c) + WRONG_USAGE, 1) for c in "cbip"],
    ("-h_as_last_word", ["-h"], "", needs_argument("h") + H_ONLY_WITH_U_OR_G + WRONG_USAGE, 1),
    ("-u_as_last_word", ["-u"], "", needs_argument("u") + H_REQUIRED + WRONG_USAGE, 1),
    ("-g_as_last_word_needs_only_-h", ["-g"], "", H_REQUIRED + WRONG_USAGE, 1),
    ("-c_then_-C", ["-c", "-C"], "", needs_argument("c") + WRONG_USAGE, 1),
    ("-c_then_-C_scanned_as_option", ["-c", "-C", "-C"], "", needs_argument("c") + once("C") + WRONG_USAGE, 1),
    ("glued_-c-1_backs_up_once", ["-c-1"], "", needs_argument("c") + WRONG_USAGE, 1),
    ("three_-c_in_a_row", ["-c", "-c", "-c"], "", needs_argument("c") * 3 + WRONG_USAGE, 1),
    ("-h_then_option", ["-u", "bob:pw", "-h", "-C"], "", needs_argument("h") + WRONG_USAGE, 1),
    ("-u_then_option", ["-u", "-C", "-h", "10.0.0.1"], "", needs_argument("u") + WRONG_USAGE, 1),
    ("repeated_-h", ["-u", "bob:pw", "-h", "h1", "-h", "h2"], "", once("h") + WRONG_USAGE, 1),
    ("repeated_-h_then_option", ["-u", "bob:pw", "-h", "h1", "-h", "-C"], "",
     once("h") + needs_argument("h") + WRONG_USAGE, 1),
    ("repeated_-u", ["-u", "a:b", "-u", "c:d", "-h", "h"], "", once("u") + WRONG_USAGE, 1),
    ("repeated_-u_as_last_word", ["-h", "h", "-u", "a:b", "-u"], "",
     once("u") + needs_argument("u") + WRONG_USAGE, 1),
    ("repeated_-g", ["-g", "-g", "-h", "h"], "", once("g") + WRONG_USAGE, 1),
    ("-g_with_password_without_-h_no_prompt", ["-g", "secret"], "", H_REQUIRED + WRONG_USAGE, 1),
    ("-g_-w_message_runs_into_wrong_usage", ["-g", "-w", "-h", "host"], "", G_AND_W + WRONG_USAGE, 1),
    ("-w_with_-g_password", ["-w", "-g", "pw", "-h", "10.0.0.1"], "", G_AND_W + WRONG_USAGE, 1),
    ("-u_and_-g", ["-u", "a:b", "-g", "pw", "-h", "h"], "", U_AND_G + WRONG_USAGE, 1),
    ("-h_alone", ["-h", "10.0.0.1"], "", H_ONLY_WITH_U_OR_G + WRONG_USAGE, 1),
    ("-h_with_action", ["-C", "-h", "host"], "", H_ONLY_WITH_U_OR_G + WRONG_USAGE, 1),
    ("word_without_hyphen", ["-C", "stray"], "", missing_hyphen("stray") + WRONG_USAGE, 1),
    ("only_first_stray_word_named", ["-C", "stray", "other"], "", missing_hyphen("stray") + WRONG_USAGE, 1),
    ("no_permutation", ["stray", "-C"], "", missing_hyphen("stray") + WRONG_USAGE, 1),
    ("lone_hyphen", ["-"], "", missing_hyphen("-") + WRONG_USAGE, 1),
    ("words_after_double_hyphen", ["--", "x", "y"], "", missing_hyphen("x") + WRONG_USAGE, 1),
    ("option_after_double_hyphen", ["-C", "--", "-B"], "", missing_hyphen("-B") + WRONG_USAGE, 1),
    ("words_after_long_double_hyphen_word", ["--all", "x"], "", missing_hyphen("x") + WRONG_USAGE, 1),
    ("unknown_option", ["-Z"], "", invalid_option("Z") + WRONG_USAGE, 1),
    ("unknown_option_in_cluster", ["-CZ"], "", invalid_option("Z") + WRONG_USAGE, 1),
    ("colon_option", ["-:"], "", invalid_option(":") + WRONG_USAGE, 1),
    ("question_mark_option", ["-?"], "", invalid_option("?") + WRONG_USAGE, 1),
    # Action rules are silent of their own.
    *[("action_rule_" + "_".join(a.lstrip("-") for a in argv), argv, "", WRONG_USAGE, 1) for argv in [
        ["-A"], ["-V", "-C"], ["-M"], ["-c", "0", "-b", "0"], ["-X", "-M"], ["-s", "-C"], ["-s", "-w"],
        ["-w", "-X"], ["-w", "-M"], ["-A", "-B"], ["-A", "-C", "-V"], ["-I", "-C"], ["-i", "0/1/2", "-V"],
        ["-i", "0/1/2", "-c", "1"], ["-P", "-V"], ["-B", "-P"], ["-B", "-b", "0"], ["-p", "1", "-b", "1"],
        ["-c", "1", "-p", "1"], ["-A", "-I", "-i", "0/1/2"], ["-V"], ["-C", "-P"],
    ]],
    ("user_without_colon", ["-u", "bob", "-h", "host"], "", "Error: Invalid format for -u option.\n" + WRONG_USAGE, 1),
    ("user_beginning_with_colon", ["-u", ":pw", "-h", "host"], "",
     "Error: Invalid format for -u option.\n" + WRONG_USAGE, 1),
    ("user_with_two_colons", ["-u", "a:b:c", "-h", "host"], "",
     "Error: Invalid format for -u option.\n" + WRONG_USAGE, 1),

    # Malformed arguments: their own message, status 1, no usage text.
    ("cell_beyond_32_bits", ["-c", "99999999999"], "", invalid_number("cell", "99999999999"), 1),
    ("cabinet_beyond_32_bits", ["-b", "4294967296"], "", invalid_number("cabinet", "4294967296"), 1),
    ("chassis_beyond_32_bits", ["-i", "99999999999/1/1"], "", invalid_number("I/O chassis", "99999999999/1/1"), 1),
    ("partition_beyond_32_bits", ["-p", "4294967296"], "", invalid_number("partition", "4294967296"), 1),
    ("cell_with_two_slashes", ["-c", "1/2/3"], "", invalid_number("cell", "1/2/3"), 1),
    ("cell_ending_in_slash", ["-c", "1/"], "", invalid_number("cell", "1/"), 1),
    ("cell_not_a_number", ["-c", "x"], "", invalid_number("cell", "x"), 1),
    ("chassis_two_parts", ["-i", "0/1"], "", invalid_number("I/O chassis", "0/1"), 1),
    ("chassis_empty_part", ["-i", "0//3"], "", invalid_number("I/O chassis", "0//3"), 1),
    ("two_bad_cells_both_reported", ["-c", "x", "-c", "y"], "",
     invalid_number("cell", "x") + invalid_number("cell", "y"), 1),
    ("host_of_hex_letters_only", ["-u", "bob:pw", "-h", "cafe"], "", invalid_address("cafe"), 1),
    ("address_three_groups", ["-u", "bob:pw", "-h", "1.2.3"], "", invalid_address("1.2.3"), 1),
    ("address_group_above_255", ["-g", "pw", "-h", "1.2.3.256"], "", invalid_address("1.2.3.256"), 1),
    ("address_adjacent_dots", ["-u", "bob:pw", "-h", "1..2.3"], "", invalid_address("1..2.3"), 1),
    ("address_ipv6", ["-u", "bob:pw", "-h", "::1"], "", invalid_address("::1"), 1),
    ("sixty_fifth_location_refused", ["-c", "0"] * 64 + ["-c", "1"], "",
     "Error: More than 64 location arguments; -c 1 is not accepted.\n", 1),
    ("location_longer_than_79", ["-b", "0" * 80], "",
     "Error: Location argument -b %s is longer than 79 characters.\n" % ("0" * 80), 1),
    ("bad_argument_and_usage_rule", ["-c", "x", "-C"], "", invalid_number("cell", "x") + WRONG_USAGE, 1),
    ("bad_host_and_usage_rule", ["-u", "bob:pw", "-h", "cafe", "-C", "-C"], "",
     invalid_address("cafe") + once("C") + WRONG_USAGE, 1),

    # Several errors at once: scan-time messages in command-line order, then
    # the stray word, then the connection rules in order, then wrong usage once.
    ("order_scan_stray_connection",
     ["-Z", "-C", "-C", "-w", "-g", "pw", "-w", "-h", "cafe", "stray"], "",
     invalid_option("Z") + once("C") + once("w") + invalid_address("cafe") + missing_hyphen("stray")
     + G_AND_W + WRONG_USAGE, 1),
    ("order_connection_rules", ["-u", "a:b", "-g", "pw", "-w"], "", H_REQUIRED + U_AND_G + G_AND_W + WRONG_USAGE, 1),
    ("order_argument_exclusion_stray_host",
     ["-c", "x", "-M", "-V", "-h", "1.2.3.4", "extra"], "",
     invalid_number("cell", "x") + V_AND_M + missing_hyphen("extra") + H_ONLY_WITH_U_OR_G + WRONG_USAGE, 1),
]

# Accepted command lines: (name, argv, what the front end prints on standard
# error before the reports run).  Standard input is empty, never a terminal.
ACCEPTED = [
    ("no_options_display_all", [], NO_ACTION),
    ("double_hyphen_alone", ["--"], NO_ACTION),
    ("long_double_hyphen_word_alone", ["--all"], NO_ACTION),
    ("platform_check", ["-s"], ""),
    ("local_partition", ["-w"], ""),
    ("complex", ["-X"], ""),
    ("cells_available_machine_readable_cluster", ["-CAM"], ""),
    ("chassis_available", ["-I", "-A"], ""),
    ("cabinets_machine_readable", ["-B", "-M"], ""),
    ("partitions", ["-P"], ""),
    ("chassis_selected", ["-i", "0/1/3", "-i1/0/0", "-M"], ""),
    ("cell_glued_verbose", ["-c5", "-V"], ""),
    ("cell_cabinet_slot", ["-c", "1/3"], ""),
    ("cabinet_leading_zeros", ["-b", "007"], ""),
    ("partition_empty_argument", ["-p", ""], ""),
    ("partition_largest_number", ["-p", "4294967295"], ""),
    ("sixty_four_locations", ["-c", "0"] * 64, ""),
    ("location_of_79_characters", ["-c", "0" * 79], ""),
    ("remote_user", ["-u", "bob:pw", "-h", "10.0.0.1"], NO_ACTION),
    ("remote_user_host_name", ["-s", "-u", "bob:pw  ", "-h", "host.example.com"], ""),
    ("remote_user_empty_password_read_from_input", ["-w", "-u", "bob:", "-h", "010.1.2.3"], ""),
    ("mp_with_password", ["-X", "-g", "ipmi", "-h", "mp-host"], ""),
    ("mp_password_last_word_read_from_input", ["-h", "10.0.0.1", "-g"], NO_ACTION),
    ("mp_followed_by_host", ["-g", "-h", "10.0.0.1", "-C"], ""),
]

# Messages only the front end prints; none may follow an accepted line.
FRONT_END_ERRORS = ("Error: Wrong usage.", "Error: Option", "Error: Invalid", "Error: Missing hyphen",
                    "Error: The -h option", "Error: Options", "Error: More than", "Error: Location argument")


def run(argv, stdin=subprocess.DEVNULL):
    completed = subprocess.run([BINARY] + argv, stdin=stdin, capture_output=True, env=ENVIRONMENT, timeout=30)
    return completed.stdout.decode("latin-1"), completed.stderr.decode("latin-1"), completed.returncode


class RejectedCommandLines(unittest.TestCase):
    def test_scenarios(self):
        for name, argv, stdout, stderr, status in REJECTED:
            with self.subTest(name, argv=argv):
                self.assertEqual(run(argv), (stdout, stderr, status))


class AcceptedCommandLines(unittest.TestCase):
    def test_scenarios(self):
        for name, argv, front_end_errors in ACCEPTED:
            with self.subTest(name, argv=argv):
                stdout, stderr, _ = run(argv)
                self.assertTrue(stderr.startswith(front_end_errors), stderr)
                if not front_end_errors:
                    self.assertNotIn("Note: No action specified", stderr)
                for message in FRONT_END_ERRORS:
                    self.assertNotIn(message, stderr)
                self.assertNotIn("Please enter", stdout)
                self.assertNotIn("Usage:", stdout + stderr)


def read_until(descriptor, expected, seconds=10.0):
    """Reads from `descriptor` until `expected` (bytes) has arrived or time runs out."""
    received = b""
    deadline = time.monotonic() + seconds
    while expected not in received:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        ready, _, _ = select.select([descriptor], [], [], left)
        if ready:
            chunk = os.read(descriptor, 4096)
            if not chunk:
                break
            received += chunk
    return received


def read_available(descriptor, seconds):
    received = b""
    while select.select([descriptor], [], [], seconds)[0]:
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
    """Standard input is a pseudo-terminal: the prompt shows, typing does not."""

    def start(self, argv):
        self.controller, self.terminal = os.openpty()
        self.addCleanup(os.close, self.controller)
        self.addCleanup(os.close, self.terminal)
        self.assertTrue(echo_on(self.terminal))
        process = subprocess.Popen([BINARY] + argv, stdin=self.terminal, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=ENVIRONMENT)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def check_prompt(self, argv, prompt, front_end_errors):
        process = self.start(argv)
        shown = read_until(process.stdout.fileno(), prompt.encode())
        self.assertEqual(shown, prompt.encode())
        self.assertFalse(echo_on(self.terminal), "echo still on while the prompt waits")
        os.write(self.controller, b"typed-secret\n")
        rest, errors = process.communicate(timeout=30)
        self.assertEqual((shown + rest).decode(), prompt + "\n")
        self.assertTrue(errors.decode().startswith(front_end_errors), errors)
        self.assertNotIn(b"typed-secret", rest + errors)
        self.assertEqual(read_available(self.controller, 0.3), b"", "typed input was echoed")
        self.assertTrue(echo_on(self.terminal), "echo not restored")

    def test_ipmi_password(self):
        self.check_prompt(["-g", "-h", "10.0.0.1"], MP_PROMPT, NO_ACTION)

    def test_ipmi_password_after_host(self):
        self.check_prompt(["-C", "-h", "mp-host", "-g"], MP_PROMPT, "")

    def test_user_password(self):
        self.check_prompt(["-B", "-u", "operator:", "-h", "10.0.0.1"],
                          "Please enter the password for user operator:  ", "")

    def test_no_prompt_when_password_given(self):
        process = self.start(["-X", "-g", "ipmi", "-h", "10.0.0.1"])
        stdout, _ = process.communicate(timeout=30)
        self.assertNotIn(b"Please enter", stdout)

    def test_signal_while_prompt_waits(self):
        for number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=number):
                process = self.start(["-g", "-h", "10.0.0.1"])
                shown = read_until(process.stdout.fileno(), MP_PROMPT.encode())
                self.assertEqual(shown, MP_PROMPT.encode())
                process.send_signal(number)
                rest, errors = process.communicate(timeout=30)
                self.assertEqual(rest, b"")
                self.assertEqual(errors.decode(), "Internal Error: Received signal %d.\n" % number)
                self.assertEqual(process.returncode, 1)
                self.assertTrue(echo_on(self.terminal), "echo not restored after the signal")


class PasswordFromRedirectedInput(unittest.TestCase):
    """Standard input is a file: no prompt, and only the first line is read."""

    def test_first_line_only(self):
        for argv, front_end_errors in ((["-g", "-h", "10.0.0.1"], NO_ACTION),
                                       (["-C", "-u", "bob:", "-h", "10.0.0.1"], "")):
            with self.subTest(argv=argv), tempfile.TemporaryFile() as source:
                first_line = b"A" * 100 + b"\n"
                source.write(first_line + b"second line\n")
                source.seek(0)
                stdout, stderr, _ = run(argv, stdin=source)
                self.assertEqual(stdout, "")
                self.assertTrue(stderr.startswith(front_end_errors), stderr)
                # The whole first line, beyond the 80 characters kept, is
                # consumed; the next line is left alone.
                self.assertEqual(os.lseek(source.fileno(), 0, os.SEEK_CUR), len(first_line))


if __name__ == "__main__":
    arguments = sys.argv[1:]
    if arguments and not arguments[0].startswith("-"):
        BINARY = os.path.abspath(arguments.pop(0))
    else:
        BINARY = os.environ.get("CMPLXVIEW")
    if not BINARY or not os.access(BINARY, os.X_OK):
        sys.exit("cli_scenarios.py: give the path of the cmplxview program")
    unittest.main(argv=[sys.argv[0]] + arguments, verbosity=2)
