"""The small complex (cases/small.json) and the fault rules and diagnostics of the connection scenarios."""
import json
import os

NS = "root/cimv2/kest"


def small_complex():
    """Four cell slots (slot 2 empty), three cells, one I/O chassis, a partition 0 with cells 0 and 2 and a
    partition 5 without cells; the program runs in partition 0."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases", "small.json"), encoding="utf-8") as f:
        return json.load(f)


def fault(action, **match):
    return dict(match, action=action)


def cim_error(code, description, **match):
    return fault("cimError", code=code, description=description, **match)


def connect_block(target):
    """The diagnostics printed when no provider can be reached on target."""
    text = ("Error: Unable to connect to the Kest Provider on %s.\n" % target
            + "1. Verify that the XK Kest Provider (WMIKestProvider on Windows) is installed and running on %s.\n"
            % target
            + "2. Verify that you are logged-in to the correct account (or have provided the correct username & "
              "password) to access the provider on %s.\n" % target)
    if target != "<localhost>":
        text += ("3. Verify that you have copied the server's SSL certificate from %s to the trusted certificate "
                 "store on the local machine (see man/help/readme).\n" % target)
    return text


FAILED_TO_CONNECT = "Error: Failed to connect to target partition or complex.\n"
CREDENTIAL_VIOLATION = "Error: Remote user or IPMI password violation.\n"
