// A moment as the reports and logs write it.
#pragma once

#include <cstdio>
#include <string>

#include "platform/Platform.h"

namespace tarvox::text {

// ISO 8601 in UTC: "2026-12-09T08:30:00Z".
inline std::string IsoTime(const UtcTime& time) {
  char text[64];  // room for any value of each field
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", unsigned{time.year},
                unsigned{time.month}, unsigned{time.day}, unsigned{time.hour},
                unsigned{time.minute}, unsigned{time.second});
  return text;
}

}  // namespace tarvox::text
