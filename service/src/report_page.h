#pragma once
// GET /report: the publisher's page over the event store, for holders of the
// token the service was started with.

#include <optional>
#include <string>

#include "events.h"
#include "reply.h"

namespace tamsel {

// Reads the token from its file: one line of 16 to 1024 printable ASCII
// characters without spaces (a final line break is dropped). Throws
// std::runtime_error naming the file.
std::string ReadReportToken(const std::string& path);

// Whether an Authorization header carries the token: "Bearer TOKEN", or
// "Basic" with the token as the password (any user name), as a browser
// sends it. Takes the same time whatever the header holds.
bool ReportAuthorized(const std::string& authorization, const std::string& token);

// The page for days from..to (each "YYYY-MM-DD" or absent), or a 400 for
// days that are not, or a 503 when the store cannot be read.
Reply ReportPage(EventStore& store, const std::optional<std::string>& from,
                 const std::optional<std::string>& to);

// The headers every answer of /report carries: nothing cached, nothing
// loaded from elsewhere, no framing.
const char* ReportContentSecurityPolicy();

}  // namespace tamsel
