// The host configuration's encryption settings: what a file or the environment says, and that a
// value that cannot be read never leaves the connection in the clear.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "framework/host/config.h"

namespace fw {
namespace {

std::string WriteConfig(const std::string& text) {
  char path[] = "/tmp/acomp-config-XXXXXX";
  const int fd = ::mkstemp(path);
  ::close(fd);
  std::ofstream(path) << text;
  return path;
}

TEST(HostConfig, TlsSetting_OnlyAnExplicitNoTurnsItOff) {
  struct TCase {
    const char* Value;
    bool Tls;
  };
  const TCase cases[] = {
      {"on", true},   {"ON", true},     {"sim", true},  {"1", true},      {"yes", true},
      {"true", true}, {"ligado", true}, {"onn", true},  {"off", false},   {"Off", false},
      {"no", false},  {"não", false},   {"nao", false}, {"false", false}, {"0", false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Value);
    for (const bool before : {false, true}) {
      THostConfig config;
      config.Tls = before;
      const std::string path = WriteConfig(std::string("tls = ") + test.Value + "  # comentário\n");
      ASSERT_TRUE(LoadConfigFile(config, path));
      std::remove(path.c_str());
      EXPECT_EQ(test.Tls, config.Tls);
    }
  }
  // An empty value changes nothing.
  THostConfig config;
  config.Tls = true;
  const std::string path = WriteConfig("tls =\n");
  ASSERT_TRUE(LoadConfigFile(config, path));
  std::remove(path.c_str());
  EXPECT_TRUE(config.Tls);
}

TEST(HostConfig, TlsFromTheFileAndTheEnvironment_ReachTheConnectionOptions) {
  THostConfig config;
  const std::string path = WriteConfig("server_host = app1:7450\ntls = on\ntls_ca = /etc/ca.pem\n");
  ASSERT_TRUE(LoadConfigFile(config, path));
  std::remove(path.c_str());
  TTcpAppServer::TOptions options = ConnectionOptions(config);
  EXPECT_TRUE(options.Tls);
  EXPECT_EQ("/etc/ca.pem", options.TlsCaFile);

  ::setenv("ACOMP_TLS", "off", 1);
  ::setenv("ACOMP_TLS_CA", "/srv/outra-ca.pem", 1);
  LoadConfigEnvironment(config);
  ::unsetenv("ACOMP_TLS");
  ::unsetenv("ACOMP_TLS_CA");
  options = ConnectionOptions(config);
  EXPECT_FALSE(options.Tls);
  EXPECT_EQ("/srv/outra-ca.pem", options.TlsCaFile);
  // The time-outs stay the client's own defaults.
  EXPECT_EQ(TTcpAppServer::TOptions().ConnectTimeoutMs, options.ConnectTimeoutMs);
}

TEST(HostConfig, Files_SiteThenUserThenNamedFile) {
  const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string xdg = savedXdg ? savedXdg : "";
  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  ::setenv("ACOMP_CONFIG", "/tmp/a.conf", 1);
  EXPECT_EQ(
      (std::vector<std::string>{"/etc/acomp/host.conf", "/tmp/xdg/acomp/host.conf", "/tmp/a.conf"}),
      HostConfigFiles());
  // A relative XDG folder is not one (the basedir rules): the home's .config then.
  ::setenv("XDG_CONFIG_HOME", "relativa", 1);
  ::unsetenv("ACOMP_CONFIG");
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    EXPECT_EQ(std::string(home) + "/.config/acomp/host.conf", HostConfigFiles().at(1));
  }
  EXPECT_EQ("acomp.conf", HostConfigFiles().back());
  if (savedXdg)
    ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");

  // A later file's key wins; a key it does not give stays the earlier's.
  THostConfig config;
  const std::string site = WriteConfig("server_host = app1,app2\ntls = on\ntls_ca = /etc/ca.pem\n");
  const std::string user = WriteConfig("server_host = app3\n");
  ASSERT_TRUE(LoadConfigFile(config, site));
  ASSERT_TRUE(LoadConfigFile(config, user));
  std::remove(site.c_str());
  std::remove(user.c_str());
  EXPECT_EQ("app3", config.ServerHost);
  EXPECT_EQ("/etc/ca.pem", config.TlsCaFile);
  EXPECT_TRUE(config.Tls);
}

}  // namespace
}  // namespace fw
