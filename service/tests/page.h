#pragma once
// The report page's numbers, as the tests expect them from the stored rows
// and as they read them off the page.

#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace harness {

using Rows = std::vector<std::map<std::string, std::string>>;

// Every number the page shows, by a key naming its place:
//   "offer|ID|DAY|STEP"  a cell of an offer's table (DAY "total": all days)
//   "main|DAY|STEP"      a cell of the main product's table
//   "reason|ID|TEXT"     runs an offer was left out for a reason
//   "failure|MAIN|ID|CODE|TEXT"  runs with a failure text (MAIN 1 or 0)
//   "events"             events in the days
using PageNumbers = std::map<std::string, long long>;

// What the page must show for rows of the events table, computed here from
// the definitions, not by the service's SQL. from and to ("" for open) bound
// the days.
PageNumbers ExpectedPage(const Rows& rows, const std::string& from = "",
                         const std::string& to = "");

// The numbers of a page's HTML, read by its data- attributes.
PageNumbers NumbersOfHtml(const std::string& html);

// The script that gives the same as a list of [key, number] in a browser.
extern const char kNumbersScript[];

// Readable differences of two sets of numbers, "" when equal.
std::string Differences(const PageNumbers& expected, const PageNumbers& actual);

// Writes a row straight into a SQLite events table (which the service has
// created), for events of other days than today.
void InsertRow(const std::string& db, const std::map<std::string, std::string>& row);

// Runs SQL on a SQLite database file (a test's own changes to the table).
void SqliteExec(const std::string& db, const std::string& sql);

// A GET over TLS with an Authorization header ("" for none).
struct Page {
  int status = 0;
  std::string body;
  httplib::Headers headers;
};
Page GetPage(int port, const std::string& target, const std::string& authorization);
std::string BasicAuth(const std::string& user, const std::string& password);

}  // namespace harness
