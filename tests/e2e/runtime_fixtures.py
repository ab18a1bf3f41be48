"""A small complete complex and the helpers shared by the connection and data
access scenarios: diagnostics blocks, fault rules, request-log queries and a
runner that also takes a working directory and extra environment."""
import copy
import os
import subprocess

from harness import CMPLXVIEW, ScenarioTest

NS = "root/cimv2/kest"
# ComponentStatus codes of the schema's ValueMap.
ACTIVE, POWERED_OFF = 5, 3
USE_BASE = 3


def small_complex():
    """Four cell slots (slot 2 empty), three cells, one I/O chassis, a
    partition 0 with cells 0 and 2 and a partition 5 without cells; the
    program runs in partition 0."""
    return {"namespaces": {NS: {
        "XK_KestComplex": [{"ProfileID": 0, "ComplexName": "merlin", "CellAssignments": [0, 255, 0, 255]}],
        "XK_KestCabinet": [{"ID": 0, "CabinetType": 2, "ServiceProcessorCount": 0}],
        "XK_KestPowerCoolingDomain": [{"ID": 0, "CabinetID": 0, "DomainType": 1, "DomainSubtype": 0,
                                       "RedundancyState": 1, "UnitPresent": [True], "UnitFailed": [False],
                                       "LongUnitLabel": ["Fan 0"]}],
        "XK_KestCellSlot": [{"ID": n, "CabinetID": 0, "Number": n, "LongLabel": "Cab 0 Cell %d" % n,
                             "Populated": n != 2} for n in range(4)],
        "XK_KestCell": [
            {"SlotID": 0, "ComponentStatus": ACTIVE, "CellUsage": USE_BASE, "MaxCPUCount": 4, "CPUCount": 4,
             "CPUCountOK": 4, "TotalMemoryInstalled": 8192, "TotalMemoryOK": 8192, "HasCoreIO": True,
             "ConnectedToIOChassis": False},
            {"SlotID": 1, "ComponentStatus": POWERED_OFF, "CellUsage": USE_BASE},
            {"SlotID": 3, "ComponentStatus": None, "CellUsage": USE_BASE}],
        "XK_KestIOChassisSlot": [{"ID": 0, "CabinetID": 0, "IOBayNumber": 0, "Number": 1,
                                  "LongLabel": "Cab 0 Bay 0 Chassis 1", "Populated": True}],
        "XK_KestIOChassis": [{"SlotID": 0, "ComponentStatus": ACTIVE, "Connected": False, "HasCoreIO": True}],
        "XK_KestPartition": [
            {"PartitionID": 0, "PartitionName": "prod", "CoreCellID": 0,
             "CellUseOnNextBoot": [True, False, True, False], "FailureUsage": [0, 0, 0, 0]},
            {"PartitionID": 5, "PartitionName": "spare"}],
        "XK_KestLocalPartition": [{"ContainedPartition": "XK_KestPartition.PartitionID=0"}],
    }}, "users": [{"name": "admin", "password": "kest-pw"}]}


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
NO_LOCAL_PARTITION = "Error: Unable to get the local partition number.\n"
MAY_NOT = "May not be able to display complete information.\n"
LOW_LEVEL = "The following message was returned from a low level subsystem. \n"


def run_in(args, env, cwd=None, timeout=60):
    """Runs cmplxview with an environment and working directory of the caller's."""
    p = subprocess.run([CMPLXVIEW] + list(args), env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return p.stdout.decode("utf-8", errors="replace"), p.stderr.decode("utf-8", errors="replace"), p.returncode


def requests(provider, op=None, cls=None):
    """The logged requests, optionally only those of one operation and class."""
    return [r for r in provider.log()
            if (op is None or r["op"] == op) and (cls is None or (r["class"] or "").lower() == cls.lower())]


class CoreScenarioTest(ScenarioTest):
    """check() of the harness, plus a variant that leaves standard output to
    a predicate (for runs whose rows belong to the report layouts)."""

    def check_errors(self, provider, args, stderr, status, stdout_check=None, env=None):
        from harness import run
        out, err, code = run(args, env=env or provider.env)
        self.assertEqual(err, stderr, "standard error of cmplxview " + " ".join(args))
        self.assertEqual(code, status, "exit status of cmplxview " + " ".join(args))
        if stdout_check is not None:
            self.assertTrue(stdout_check(out), "standard output of cmplxview %s: %r" % (" ".join(args), out))
        return out
