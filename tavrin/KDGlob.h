// The instrument's tables: load cells, test modes, the box items and the grid captions.
#pragma once

#include <string>

struct LoadInfoRec {
    std::string Name;
    double LoadMin, LoadMax, LoadStep;
    double TriggerMin, TriggerMax, TriggerStep;
    std::string LoadMask, TriggerMask;
};

const int LoadCellCount = 7;
extern const LoadInfoRec LoadCellTable[LoadCellCount];
// What the load-cell box lists; its index selects the table row (row 3 is named "5000g").
extern const char* const LoadCellItems[LoadCellCount];

struct TModeInfo {
    const char* Button;   // the radio button
    const char* Caption;
    const char* Code;     // goes into the "TXTNAME" command
};
const int ModeCount = 5;
extern const TModeInfo ModeTable[ModeCount];

extern const char* const TestTypeItems[3];
extern const char* const TargetTypeItems[2];
extern const char* const TargetTypeUnits[3];
extern const char* const ReturnSpeedItems[2];

// The longest reply line kept, CR LF included: far above any the instrument sends (a
// "TXT" identification is under 40), so a longer one is noise and is dropped.
const int MaxReplyLength = 4096;

const int SlotCount = 10;
const int NameLength = 8;

const int GridRowCount = 14;
extern const char* const GridCaptions[GridRowCount];

// Program start: the process-wide time and date separators.
void KDGlobStartup();

class TStringGrid;
// Empties cells 1 .. ColCount - 1 of the row.
void ClearGridRow(int row, TStringGrid& grid);
// The file name without its folder, cut before its first '.' ("my.test.VRL" gives "my").
std::string FileNameStem(const std::string& path);
