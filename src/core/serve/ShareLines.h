#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrix::share {

// Every command of the line asks ("INP A:TEMP?;UNIT?;", "LOOP 1:HTRR?NAME?;", "CALC? 3"): a
// line a read-only share may relay. Nodes before ":" are paths, the last part of each
// ";"-separated piece is its command; text after a piece's last "?" must be that query's
// argument (after a blank), so "TEMP?UNIT K" is not a query line.
bool IsQueryOnly(std::string_view line);

// Lines that reach the calibration password or calibration mode, or change a calibration
// value: never relayed, whatever the share's mode.
bool TouchesCalibration(std::string_view line);

// The queries the program reads as multi-line tables ended by a ";" line.
enum class TableQuery { None, Curve, PidTable, DataLog };
TableQuery TableQueryOf(std::string_view line);
// Lines the table's reply may have (for the transfer's bounds).
int ExpectedTableLines(TableQuery kind);

// "CALC n" and "PIDT n:TABLE": the instrument takes the lines that follow as a table until a
// line holding only ";".
bool StartsTableInput(std::string_view line);
bool EndsTableInput(std::string_view line);

// An IPv4 network "a.b.c.d/n" (or one address); addresses in host byte order.
struct Ipv4Net {
    uint32_t address = 0;
    uint32_t mask = 0xFFFFFFFFu;
    bool Contains(uint32_t a) const { return (a & mask) == (address & mask); }
};
bool ParseIpv4Net(std::string_view text, Ipv4Net& out);
bool ParseIpv4(std::string_view text, uint32_t& out);
std::string Ipv4Text(uint32_t address);

// "ADDR:PORT" or "PORT" (then the address stays as given); false with a reason.
bool ParseListenAddress(std::string_view text, uint32_t& address, int& port, std::string& error);

}  // namespace tavrix::share
