"""A small complete complex (cases/small.json) and the helpers of the
connection scenarios: diagnostics blocks, fault rules, request-log queries
and a runner that also takes a working directory and extra environment."""
import copy
import json
import os
import subprocess

from harness import CMPLXVIEW, ScenarioTest

NS = "root/cimv2/kest"


def small_complex():
    """Four cell slots (slot 2 empty), three cells, one I/O chassis, a
    partition 0 with cells 0 and 2 and a partition 5 without cells; the
    program runs in partition 0."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases", "small.json"), encoding="utf-8") as f:
        return json.load(f)


def with_changes(data=None, faults=(), **classes):
    """A copy of a complex (the small one by default) whose listed classes
    (without the XK_Kest prefix) are replaced, with fault rules added."""
    data = copy.deepcopy(data if data is not None else small_complex())
    for name, instances in classes.items():
        data["namespaces"][NS]["XK_Kest" + name] = list(instances)
    if faults:
        data["faults"] = list(faults)
    return data


def fault(action, **match):
    """A fault rule: the match fields and the action's own fields together."""
    rule = {"action": action}
    rule.update(match)
    return rule


def cim_error(code, description, **match):
    return fault("cimError", code=code, description=description, **match)


CIM_STATUS_NAMES = {1: "CIM_ERR_FAILED", 2: "CIM_ERR_ACCESS_DENIED", 3: "CIM_ERR_INVALID_NAMESPACE",
                    4: "CIM_ERR_INVALID_PARAMETER", 5: "CIM_ERR_INVALID_CLASS", 6: "CIM_ERR_NOT_FOUND",
                    7: "CIM_ERR_NOT_SUPPORTED"}


def library_message(code, description):
    """The client library's text for a CIM error: the status name, ": " and
    the provider's description."""
    return CIM_STATUS_NAMES[code] + ": " + description


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


def run_in(args, env, cwd=None, timeout=60):
    """Runs cmplxview with an environment and working directory of the caller's."""
    p = subprocess.run([CMPLXVIEW] + list(args), env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return p.stdout.decode("utf-8", errors="replace"), p.stderr.decode("utf-8", errors="replace"), p.returncode


def requests(provider, op=None, cls=None):
    """The logged requests, optionally only those of one operation and class."""
    return [r for r in provider.log()
            if (op is None or r["op"] == op) and (cls is None or (r["class"] or "").lower() == cls.lower())]


# The scenario base of the harness, under the name the connection scenarios use.
CoreScenarioTest = ScenarioTest
