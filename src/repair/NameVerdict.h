// The verdict on a filter name, from what the questions about it answered:
// the one rule the repair acts on, the check reports and the restore
// refuses by. Each program words the reason its own way, from the finding.
#pragma once

#include <string>

#include "services/DriverFile.h"
#include "services/Services.h"

namespace tarvox {

// An answer that was not asked for.
inline constexpr int kNotAsked = -2;

// What the questions about one name of a list answered, in the order they
// were asked: each is 1, 0, kCannotTell or kNotAsked.
struct NameFinding {
  std::u16string name;
  bool passed_earlier = false;  // passed every question earlier in the run
  int exists = kNotAsked;
  ServiceLookupFinding lookup;
  int enabled = kNotAsked;
  StartTypeFinding start;
  int driver = kNotAsked;
  DriverFileFinding driver_file;
};

enum class Verdict {
  kStays,      // its service exists, may start, and its driver file is there
  kLeaves,     // evidence says a question's answer is no
  kNotJudged,  // no evidence either way: a question could not be answered
};

// Only evidence removes a name: a service reported missing, a start type
// Windows does not load, a driver file reported missing (and not
// restored). A question that could not be answered keeps it, unjudged.
Verdict VerdictOn(const NameFinding& found);

}  // namespace tarvox
