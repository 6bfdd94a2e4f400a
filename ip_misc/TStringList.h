#pragma once
// Lists of 8-bit lines, as every client and family keeps them.
#include <string>
#include <string_view>
#include <vector>

using TStringList = std::vector<std::string>;

// Splits text into lines: a line ends at CR LF, at LF or at CR; the breaks
// are dropped, and a break at the very end adds no empty line.
TStringList SplitLines(std::string_view text);
// Appends the lines of text to list, split as SplitLines does.
void AppendLines(TStringList &list, std::string_view text);
