#pragma once
// Turns the lines of an FTP LIST reply into typed entries. Unix-style lines
// (permission string first) and DOS-style lines (date first) are understood;
// anything else is no entry. The parser never raises: a line it cannot read
// gives the empty record.
#include "ip_misc/DateTime.h"

#include <cstdint>
#include <string>
#include <string_view>

enum TFileKind : std::uint8_t { fkNone = 0, fkDirectory = 1, fkFile = 2, fkLink = 3 };

struct t_filedata {
  TFileKind Kind = fkNone;
  std::int64_t Size = 0;
  std::string Name;
  // Modification time as a day number; 0 when the line's date is unreadable.
  TDateTime Date = 0;
};

// 1 to 12 for "Jan" to "Dec" (exact case), 0 for anything else.
int MonthIndex(std::string_view text);

// A year-less Unix date is put in the latest year that does not make it
// later than now (a local day number).
t_filedata ParseUnixLine(std::string_view line, TDateTime now);
t_filedata ParseDosLine(std::string_view line);
// "total" lines and lines of no known style give the empty record.
t_filedata ParseDirLine(std::string_view line, TDateTime now);
t_filedata ParseDirLine(std::string_view line);
