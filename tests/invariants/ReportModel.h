// The check's --json report held to the model it was made from: read with a
// strict JSON reader, every name, verdict, log line and change must come
// back exactly as the report holds it. A slip in the JSON's escaping (a '\'
// of a registry path, a quote in a filter name, a lone surrogate) breaks the
// document or changes what a script reads back.
#pragma once

#include <string>
#include <string_view>

#include "check/CheckRun.h"

namespace tarvox::invariants {

// Empty when `json` is one valid JSON document that says what `outcome`
// holds; else the first difference.
std::string CheckJsonReport(const check::CheckOutcome& outcome, std::string_view json);

}  // namespace tarvox::invariants
