#include "browser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace harness {
namespace {

std::string Program(const char* variable, const char* fallback) {
  const char* given = std::getenv(variable);
  return given && *given ? given : fallback;
}

// What Chromium's --ignore-certificate-errors-spki-list takes: the base64
// SHA-256 of the certificate's public key. Only the test server's
// certificate gets through; any other that does not verify is refused.
std::string SpkiHash(const std::string& pem) {
  FILE* f = std::fopen(pem.c_str(), "r");
  if (!f) return std::string();
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!cert) return std::string();
  unsigned char* der = nullptr;
  const int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
  X509_free(cert);
  if (len <= 0) return std::string();
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int md_len = 0;
  EVP_Digest(der, static_cast<std::size_t>(len), md, &md_len, EVP_sha256(), nullptr);
  OPENSSL_free(der);
  unsigned char b64[4 * EVP_MAX_MD_SIZE];
  const int n = EVP_EncodeBlock(b64, md, static_cast<int>(md_len));
  return std::string(reinterpret_cast<char*>(b64), static_cast<std::size_t>(n));
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

}  // namespace

Browser::Browser() {
  const std::string driver = Program("TAMSEL_CHROMEDRIVER", "/usr/bin/chromedriver");
  const std::string chromium = Program("TAMSEL_CHROMIUM", "/usr/bin/chromium");
  if (access(driver.c_str(), X_OK) != 0 || access(chromium.c_str(), X_OK) != 0) {
    missing_ = true;
    error_ = "Chromium or its driver is not installed (" + chromium + ", " + driver +
             "; Debian: chromium, chromium-driver), so the tests in a browser are skipped";
    return;
  }
  const std::string spki = SpkiHash(CertFile());
  if (spki.empty()) {
    error_ = "cannot read the test certificate " + CertFile();
    return;
  }
  // Generous limits against a hung driver; nothing is measured against them.
  for (int attempt = 0; attempt < 3 && session_.empty(); ++attempt) {
    port_ = FreePort();
    driver_ = Spawn({driver, "--port=" + std::to_string(port_)}, dir_ / "driver.log");
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool ready = false;
    while (!ready && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ready = Call("GET", "/status").value("value", json::object()).value("ready", false);
      if (waitpid(driver_, nullptr, WNOHANG) == driver_) {
        driver_ = -1;
        break;
      }
    }
    if (!ready) {
      error_ = "chromedriver did not start: " + ReadFile(dir_ / "driver.log");
      if (driver_ > 0) {
        kill(driver_, SIGKILL);
        waitpid(driver_, nullptr, 0);
        driver_ = -1;
      }
      continue;
    }
    const json args = {"--headless=new",
                       "--no-sandbox",  // also as root, and in containers
                       "--disable-gpu",
                       "--disable-dev-shm-usage",
                       "--no-first-run",
                       "--disable-extensions",
                       "--disable-background-networking",
                       "--disable-component-update",
                       "--disable-sync",
                       "--window-size=1200,900",
                       "--user-data-dir=" + (dir_ / "profile"),
                       "--ignore-certificate-errors-spki-list=" + spki};
    const json caps = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"acceptInsecureCerts", false},
            {"goog:chromeOptions", {{"binary", chromium}, {"args", args}}},
            {"goog:loggingPrefs", {{"browser", "ALL"}}},
            {"timeouts", {{"pageLoad", 60000}, {"script", 30000}}}}}}}};
    const json created = Call("POST", "/session", caps);
    session_ = created.value("value", json::object()).value("sessionId", "");
    if (session_.empty()) error_ = "no browser session: " + created.dump();
  }
  if (!session_.empty()) error_.clear();
}

Browser::~Browser() {
  if (!session_.empty()) Call("DELETE", "/session/" + session_);
  if (driver_ > 0) {
    kill(driver_, SIGTERM);
    waitpid(driver_, nullptr, 0);
  }
}

json Browser::Call(const std::string& method, const std::string& path, const json& body) {
  httplib::Client c("127.0.0.1", port_);
  c.set_connection_timeout(10);
  c.set_read_timeout(120);
  httplib::Result res = method == "GET"    ? c.Get(path)
                        : method == "DELETE" ? c.Delete(path)
                                             : c.Post(path, body.dump(), "application/json");
  if (!res) return json();
  json answer = json::parse(res->body, nullptr, false);
  return answer.is_discarded() ? json() : answer;
}

bool Browser::Open(const std::string& url) {
  if (session_.empty()) return false;
  const json r = Call("POST", "/session/" + session_ + "/url", {{"url", url}});
  return r.is_object() && r.contains("value") && r["value"].is_null();
}

json Browser::Run(const std::string& script) {
  if (session_.empty()) return json();
  const json r = Call("POST", "/session/" + session_ + "/execute/sync",
                      {{"script", script}, {"args", json::array()}});
  return r.is_object() ? r.value("value", json()) : json();
}

std::vector<json> Browser::Console() {
  std::vector<json> out;
  if (session_.empty()) return out;
  const json r = Call("POST", "/session/" + session_ + "/se/log", {{"type", "browser"}});
  if (r.is_object() && r.contains("value") && r["value"].is_array()) {
    for (const json& entry : r["value"]) out.push_back(entry);
  }
  return out;
}

}  // namespace harness
