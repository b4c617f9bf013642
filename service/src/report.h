#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "database.h"
#include "options.h"

namespace tamsel {

// Per offer: how many events of each code, the rejection reasons and the
// failure texts with their counts. Returns the process exit code.
int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err);

// What the report page shows. Every count is of wizard runs (a machine id
// and a run stamp): an event the wizard had to send twice counts once.
//
// An offer's page, once shown, ends in one of four events: its installer
// was started (3), its download failed (-1), it was declined (4), or the
// user quit the wizard (5). So the runs that sent one of those saw the
// offer; those that sent 3 or -1 accepted it.
struct OfferDay {
  long long shown = 0;     // 3, -1, 4 or 5
  long long accepted = 0;  // 3 or -1
  long long started = 0;   // 3: the installer was started
  long long declined = 0;  // 4
  long long quit = 0;      // 5
  long long rejected = 0;  // 2: not shown, for a reason
  long long failed = 0;    // -1: the download failed
};

// The main product: its flow started (1), it was downloaded or installed
// (3 without a failure text), it failed (3 with one, or -1), the user quit (5).
struct MainDay {
  long long started = 0;
  long long finished = 0;
  long long failed = 0;
  long long quit = 0;
};

struct CountedText {
  std::string text;
  std::string offer;
  bool main = false;
  int code = 0;
  long long runs = 0;
};

// Days are "YYYY-MM-DD" in UTC, as the events' arrival times.
struct DayRange {
  std::string from;  // inclusive; empty: from the first
  std::string to;    // inclusive; empty: to the last
};

struct PageData {
  std::map<std::string, std::map<std::string, OfferDay>> offers;  // offer id -> day -> runs
  std::map<std::string, MainDay> main;                            // day -> runs
  std::vector<CountedText> reasons;   // most runs first
  std::vector<CountedText> failures;  // most runs first
  long long events = 0;               // events in the range
};

// Reads one snapshot; throws StoreError.
PageData CollectPage(Database& db, const DayRange& range);

// "YYYY-MM-DD" with a month and day that exist.
bool IsDay(const std::string& text);

}  // namespace tamsel
