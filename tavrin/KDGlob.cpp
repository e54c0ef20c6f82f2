#include "KDGlob.h"

#include "Grids.h"
#include "SysUtils.h"

const LoadInfoRec LoadCellTable[LoadCellCount] = {
    {"100g", -100, 100, 0.01, 0.1, 10, 0.01, "999.99;1;", "99.99;1;"},
    {"1000g", -1000, 1000, 0.1, 0.1, 100, 0.1, "9999.9;1;", "999.9;1;"},
    {"1500g", -1500, 1500, 0.2, 0.2, 150, 0.2, "9999.9;1;", "999.9;1;"},
    {"5000g", -5000, 5000, 0.5, 0.5, 500, 0.5, "99999.9;1;", "999.9;1;"},
    {"10000g", -10000, 10000, 1, 1, 1000, 1, "99999;1;", "9999;1;"},
    {"25000g", -25000, 25000, 2, 2, 2500, 2, "99999;1;", "9999;1;"},
    {"50000g", -50000, 50000, 5, 5, 5000, 5, "99999;1;", "9999;1;"},
};

const char* const LoadCellItems[LoadCellCount] = {"100g", "1000g", "1500g", "4500g", "10000g", "25000g", "50000g"};

const TModeInfo ModeTable[ModeCount] = {
    {"rdoNormal", "Normal", "00"},
    {"rdoHoldToTime", "Hold to time", "01"},
    {"rdoCycleToCount", "Cycle to count", "02"},
    {"rdoTPA", "TPA", "03"},
    {"rdoTension", "Tension", "04"},
};

const char* const TestTypeItems[3] = {"Compression", "Tension", "TPA"};
const char* const TargetTypeItems[2] = {"Load", "Distance"};
const char* const TargetTypeUnits[3] = {"g", "mm", "%"};
const char* const ReturnSpeedItems[2] = {"Test Speed", "Default Speed"};

const char* const GridCaptions[GridRowCount] = {
    "Test index:", "Target index:", "Target Val:", "Hold:",      "Trigger:",   "Test speed:", "Return index:",
    "Cycles:",     "Recovery:",     "Retrigger:",  "Load Cell:", "Test Mode:", "Test No.:",   "Test Name:",
};

void KDGlobStartup()
{
    TimeSeparator = ':';
    DateSeparator = '/';
}

void ClearGridRow(int row, TStringGrid& grid)
{
    for (int col = 1; col < grid.ColCount(); ++col) grid.SetCells(col, row, "");
}

std::string FileNameStem(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/:");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}
