// The check's report as text for people and as one JSON document for
// scripts, both UTF-8. The shape of the JSON is documented in the README.
#pragma once

#include <string>
#include <string_view>

#include "check/CheckRun.h"

namespace tarvox::check {

std::string TextReport(const CheckOutcome& outcome, std::string_view version);
std::string JsonReport(const CheckOutcome& outcome, std::string_view version);

// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(std::u16string_view text);

}  // namespace tarvox::check
