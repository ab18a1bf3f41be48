// The detail block of a cell (-V): the gathering steps that a verbose cell
// build adds, the per-CPU and per-DIMM lists of the current cell, and the
// printing of the block.
#pragma once

#include <cstdint>
#include <vector>

#include "reports/Cells.h"

namespace cmplxview {

// One CPU position of the current cell.
struct CpuEntry {
    std::int32_t number = 0;  // position in CPUStatus, from 0
    FixedText<79> statusText;
};

// One DIMM slot of the current cell that is not empty.
struct DimmEntry {
    FixedText<79> label;
    std::uint32_t sizeMB = 0;
    FixedText<79> statusText;
};

// The lists of the current cell: made anew by a verbose build, emptied
// after its block is printed.
extern std::vector<CpuEntry> cpuList;
extern std::vector<DimmEntry> dimmList;

// The steps below take the record to fill and the index of the cell's entry
// in the Cell instance table.
// Processor type, speed, compatibility and per-CPU status.
void gatherCpuDetails(CellRecord& record, int cellEntry);
// Per-DIMM label, size and status, with the DIMM counts.
void gatherDimmDetails(CellRecord& record, int cellEntry);
void setFirmwareAndArchitecture(CellRecord& record, int cellEntry);
// Cell-local memory the cell was given.
void setAllocatedClm(CellRecord& record, int cellEntry);
// Cell-local memory requested for the cell in the complex profile.
void setRequestedClm(CellRecord& record, std::uint32_t cellNumber, int complexCount);

// Prints the block of the current record, then empties cpuList and dimmList.
int printCellDetails();

}  // namespace cmplxview
