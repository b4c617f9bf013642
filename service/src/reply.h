#pragma once

#include <string>

namespace tamsel {

// What an endpoint answers, independent of the HTTP library.
struct Reply {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::string body;

  static Reply Text(int status, std::string text) {
    return Reply{status, "text/plain; charset=utf-8", std::move(text) + "\n"};
  }
  static Reply Json(std::string text) {
    return Reply{200, "application/json", std::move(text)};
  }
};

}  // namespace tamsel
