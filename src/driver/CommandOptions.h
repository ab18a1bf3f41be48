// What the command line asks for, handed by value to the report dispatcher.
#pragma once

namespace cmplxview {

// One flag per option, plus displayAll for a command line without any action
// option.  The fields keep the order of the documented option table; the code
// reads them by name only, and one test pins the layout so that the record
// and its documentation stay side by side.
struct CommandOptions {
    bool showComplex;         // -X
    bool availableOnly;       // -A
    bool verbose;             // -V
    bool machineReadable;     // -M
    bool allCells;            // -C
    bool allCabinets;         // -B
    bool allIOChassis;        // -I
    bool allPartitions;       // -P
    bool selectedCells;       // -c cell
    bool selectedCabinets;    // -b cabinet
    bool selectedIOChassis;   // -i I/O chassis
    bool selectedPartitions;  // -p partition number
    bool platformCheck;       // -s
    bool localPartition;      // -w
    bool remoteUser;          // -u username:[passwd]
    bool remoteMP;            // -g [passwd]
    bool hostGiven;           // -h IPaddress or hostname
    bool displayAll;          // no action option at all
};

static_assert(sizeof(CommandOptions) == 18, "CommandOptions must be 18 one-byte flags");

}  // namespace cmplxview
