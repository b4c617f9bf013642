#pragma once
// A real browser for the report page: Debian's Chromium, headless, driven
// through chromium-driver over the WebDriver protocol.

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "harness.h"

namespace harness {

class Browser {
 public:
  // Starts chromedriver on a free loopback port and a Chromium session that
  // takes the test server's certificate (and no other one it cannot verify).
  Browser();
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // Empty when the browser runs; else why not. Missing programs leave
  // missing() set, so tests can skip with that reason.
  const std::string& error() const { return error_; }
  bool missing() const { return missing_; }

  // Loads a page and waits for it (WebDriver's own page-load wait).
  bool Open(const std::string& url);
  // Runs a script in the page; its return value, or null.
  json Run(const std::string& script);
  // The console's entries since the last call (level, message, source).
  std::vector<json> Console();

 private:
  json Call(const std::string& method, const std::string& path, const json& body = nullptr);

  std::string error_;
  bool missing_ = false;
  TempDir dir_;
  pid_t driver_ = -1;
  int port_ = 0;
  std::string session_;
};

}  // namespace harness
