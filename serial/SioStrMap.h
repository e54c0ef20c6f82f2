// The serial library's message table: one text per code, found by the code's absolute value.
#pragma once

#include <string>

struct SioMessageNumberLookupRecord {
    int code;  // negative for the library's error codes, positive for system numbers and states
    std::string message;
};

constexpr int SioMessageCount = 892;

// The table, ascending by the absolute value of the code; `count` receives its length.
const SioMessageNumberLookupRecord* SioMessageTable(int& count);

// The text for |code|, or "" when the table has none.
std::string SioMessageText(int code);
