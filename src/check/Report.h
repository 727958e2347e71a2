// The check's report as text for people and as one JSON document for
// scripts, both UTF-8, and the one-line forms of each for tools that keep
// only the last line of a program's output. The shape of the JSON is
// documented in the README.
#pragma once

#include <string>
#include <string_view>

#include "check/CheckRun.h"

namespace tarvox::check {

// The version of the JSON document's shape. It rises when a field goes
// away, is renamed or changes meaning; fields may be added at the same
// version. (1 was the document before it carried this number.)
inline constexpr int kJsonFormatVersion = 2;

// Place by place, then what a repair would log; its last line is the
// result line.
std::string TextReport(const CheckOutcome& outcome, std::string_view version);
// "Result: ..." with the verdict and the summary's counts, or why the check
// could not be made: one line, short whatever the machine holds.
std::string ResultLine(const CheckOutcome& outcome);
// The same without its line end.
std::string ResultText(const CheckOutcome& outcome);
// The whole document; "changes" one to a line.
std::string JsonReport(const CheckOutcome& outcome, std::string_view version);
// The document's head (format, tool, machine, verdict, summary) on one line.
std::string JsonSummaryLine(const CheckOutcome& outcome, std::string_view version);

// The form asked for: text or JSON, whole or its one-line summary.
std::string Render(const CheckOutcome& outcome, bool json, bool summary,
                   std::string_view version);

}  // namespace tarvox::check
