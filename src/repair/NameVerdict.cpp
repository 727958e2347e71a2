#include "repair/NameVerdict.h"

namespace tarvox {

Verdict VerdictOn(const NameFinding& found) {
  if (found.passed_earlier) return Verdict::kStays;
  if (found.exists == 0) return Verdict::kLeaves;
  if (found.exists != 1) return Verdict::kNotJudged;
  if (found.enabled == 0 || found.driver == 0) return Verdict::kLeaves;
  if (found.enabled != 1 || found.driver != 1) return Verdict::kNotJudged;
  return Verdict::kStays;
}

}  // namespace tarvox
