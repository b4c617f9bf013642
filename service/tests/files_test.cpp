// The file endpoint, GET /f/...
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "harness.h"

namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    // Bytes that show truncation, text-mode mangling and NUL handling.
    for (int i = 0; i < 300000; ++i) payload_.push_back(static_cast<char>((static_cast<unsigned>(i) * 7919u) % 251u));
    harness::WriteFile(box_.files + "/installers/setup.exe", payload_);
    harness::WriteFile(box_.files + "/images/logo.png", "\x89PNG\r\n\x1a\nrest");
    harness::WriteFile(box_.files + "/empty.txt", "");
    harness::WriteFile(box_.dir / "secret.txt", "SECRET-OUTSIDE");
    std::filesystem::create_symlink(box_.dir / "secret.txt", box_.files + "/escape.txt");
    std::filesystem::create_symlink(box_.files + "/images/logo.png", box_.files + "/alias.png");
    service_ = std::make_unique<harness::Service>(box_.Args());
    ASSERT_TRUE(service_->started()) << service_->output();
  }

  harness::RawResponse Get(const std::string& target, const std::string& method = "GET") {
    return harness::RawExchange(service_->port(), method + " " + target +
                                                      " HTTP/1.1\r\nHost: localhost\r\n"
                                                      "Connection: close\r\n\r\n");
  }

  harness::Sandbox box_;
  std::string payload_;
  std::unique_ptr<harness::Service> service_;
};

TEST_F(Files, ServesBytesWithTheirLength) {
  auto client = harness::Client(service_->port());
  auto res = client->Get("/f/installers/setup.exe");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(payload_.size()));
  EXPECT_TRUE(res->body == payload_) << "body differs from the file";

  harness::RawResponse png = Get("/f/images/logo.png");
  ASSERT_TRUE(png.ok) << png.raw;
  EXPECT_EQ(png.status, 200);
  EXPECT_EQ(png.headers.find("content-type")->second, "image/png");
  EXPECT_EQ(png.headers.find("content-length")->second, "12");
  EXPECT_EQ(png.body, std::string("\x89PNG\r\n\x1a\nrest"));

  harness::RawResponse empty = Get("/f/empty.txt");
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.headers.find("content-length")->second, "0");
  EXPECT_TRUE(empty.body.empty());

  harness::RawResponse head = Get("/f/installers/setup.exe", "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.headers.find("content-length")->second, std::to_string(payload_.size()));
  EXPECT_TRUE(head.body.empty());

  // A link that stays inside the folder is followed.
  harness::RawResponse alias = Get("/f/alias.png");
  EXPECT_EQ(alias.status, 200);
  EXPECT_EQ(alias.body, png.body);
}

// A paced service (for demos) still sends every byte, in many small pieces.
TEST(PacedFiles, SendTheWholeFile) {
  harness::Sandbox box;
  std::string payload;
  for (int i = 0; i < 100000; ++i) payload.push_back(static_cast<char>(i % 253));
  harness::WriteFile(box.files + "/big.bin", payload);
  harness::Service service(box.Args({"--files-rate", "2048"}));
  ASSERT_TRUE(service.started()) << service.output();
  auto res = harness::Client(service.port())->Get("/f/big.bin");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_TRUE(res->body == payload) << "body differs from the file";
}

TEST_F(Files, NeverLeavesTheFolder) {
  struct Case {
    const char* target;
    int status;
  };
  const Case cases[] = {
      {"/f/../", 403},
      {"/f/../secret.txt", 403},
      {"/f/images/../../secret.txt", 403},
      {"/f/images/../logo.png", 403},  // dot segments are refused outright
      {"/f/./images/logo.png", 403},
      {"/f/%2e%2e/secret.txt", 403},
      {"/f/%2E%2E%2Fsecret.txt", 403},
      {"/f/..%2fsecret.txt", 403},
      {"/f/images/..%5c..%5csecret.txt", 400},
      {"/f/images/logo.png%00.txt", 400},
      {"/f/escape.txt", 403},  // a link pointing outside
      {"/f//etc/passwd", 404},
      {"/f/missing.png", 404},
      {"/f/images", 404},
      {"/f/images/", 404},
      {"/f/", 404},
      {"/f", 404},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    harness::RawResponse r = Get(c.target);
    ASSERT_TRUE(r.ok) << r.raw;
    EXPECT_EQ(r.status, c.status) << r.body;
    EXPECT_EQ(r.raw.find("SECRET-OUTSIDE"), std::string::npos);
    EXPECT_EQ(r.raw.find("root:"), std::string::npos);
  }
  EXPECT_EQ(Get("/f/images/logo.png").status, 200);  // still serving
}

TEST_F(Files, RefusesBodiesAndMethodsItDoesNotRead) {
  struct Case {
    const char* what;
    std::string request;
    int status;
  };
  const Case cases[] = {
      {"chunked body", "POST /o HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n"
                       "5\r\nhello\r\n0\r\n\r\n",
       411},
      {"no Content-Length", "POST /zbd HTTP/1.1\r\nHost: localhost\r\n\r\n{}", 411},
      {"compressed body", "POST /o HTTP/1.1\r\nHost: localhost\r\nContent-Encoding: gzip\r\n"
                          "Content-Length: 4\r\n\r\nabcd",
       415},
      {"bad Content-Length", "POST /o HTTP/1.1\r\nHost: localhost\r\nContent-Length: -4\r\n\r\n",
       400},
      {"two Content-Lengths",
       "POST /o HTTP/1.1\r\nHost: localhost\r\nContent-Length: 2\r\nContent-Length: 4\r\n\r\n{}",
       400},
      {"GET with a body", "GET /f/images/logo.png HTTP/1.1\r\nHost: localhost\r\n"
                          "Content-Length: 3\r\n\r\nabc",
       400},
      {"PUT", "PUT /f/images/logo.png HTTP/1.1\r\nHost: localhost\r\nContent-Length: 3\r\n\r\nabc",
       405},
      {"DELETE", "DELETE /f/images/logo.png HTTP/1.1\r\nHost: localhost\r\n\r\n", 405},
      {"POST to a file", "POST /f/images/logo.png HTTP/1.1\r\nHost: localhost\r\n"
                         "Content-Length: 0\r\n\r\n",
       405},
      {"huge declared body", "POST /zbd HTTP/1.1\r\nHost: localhost\r\n"
                             "Content-Length: 900000000000\r\n\r\n{}",
       413},
      {"huge declared body, expecting 100", "POST /zbd HTTP/1.1\r\nHost: localhost\r\n"
                             "Expect: 100-continue\r\nContent-Length: 900000000000\r\n\r\n{}",
       413},
      {"chunked, expecting 100", "POST /zbd HTTP/1.1\r\nHost: localhost\r\n"
                                 "Expect: 100-continue\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       411},
      {"not HTTP", "HELLO\r\n\r\n", 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    harness::RawResponse r = harness::RawExchange(service_->port(), c.request);
    EXPECT_EQ(r.status, c.status) << r.raw;
    EXPECT_EQ(r.raw.find("100 Continue"), std::string::npos);
  }
  EXPECT_EQ(Get("/f/images/logo.png").status, 200);
  EXPECT_TRUE(service_->Running());
}

TEST(FilesWithoutFolder, EverythingIsMissing) {
  harness::Sandbox box;
  harness::Service service({"--campaign", box.campaign, "--db", box.db});
  ASSERT_TRUE(service.started()) << service.output();
  auto res = harness::Client(service.port())->Get("/f/images/all.png");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
}

}  // namespace
