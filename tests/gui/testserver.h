// A small web server on 127.0.0.1 standing in for the vendor site and ordinary web pages.
#pragma once

#include <httplib.h>

#include <QString>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>

class TestServer {
 public:
  static TestServer& Instance() {
    static TestServer server;
    return server;
  }
  int Port() const { return port_; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  void Stop() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

 private:
  TestServer() {
    server_.Get("/client.php", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "<html><head><title>client</title><script>function $(o){return document.getElementById(o);}"
          "function cmd(obj,str){try{if($(obj)!==null) return eval(str);}finally{}}</script></head>"
          "<body><input id=\"subhost\" value=\"" +
              Base() + "/v\"></body></html>",
          "text/html");
    });
    // One page that names another fragment of itself in every way a link can; hash changes are logged.
    server_.Get("/links", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "<html><head><title>links</title><script>function $(o){return document.getElementById(o);}"
          "function cmd(obj,str){try{if($(obj)!==null) return eval(str);}finally{}}"
          "var hashes=[];addEventListener('hashchange',function(){hashes.push(location.hash);});"
          "</script></head><body><a id=\"fragment\" href=\"#x\">fragment</a> "
          "<a id=\"path\" href=\"/links?q=1#x\">path</a> <a id=\"full\" href=\"" +
              Base() +
              "/links?q=1#x\">full</a> <a id=\"other\" href=\"/other#x\">other</a> "
              "<a id=\"held\" href=\"#x\" onclick=\"return false;\">held</a>"
              "<div style=\"height:5000px\"></div><a id=\"x\" name=\"x\">x</a>"
              "<div style=\"height:5000px\"></div></body></html>",
          "text/html");
    });
    server_.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      res.set_content("<html><body>late</body></html>", "text/html");
    });
    server_.Get("/plain.txt", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<b>not markup</b>", "text/plain");
    });
    server_.Get(R"(/.*)", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("<html><head><title>Page " + req.path + "</title></head><body>page</body></html>",
                      "text/html");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~TestServer() { Stop(); }

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
