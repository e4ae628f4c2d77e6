#include "app_server/config/service_manager.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace app {

void NotifyReady(const std::string& status) {
  const std::string message = "READY=1\nSTATUS=" + status;
  sd_notify(0, message.c_str());
}

void NotifyReloading() {
  sd_notify(0, "RELOADING=1\nSTATUS=relendo a configuração");
}

void NotifyStopping() {
  sd_notify(0, "STOPPING=1\nSTATUS=parando");
}

void NotifyWatchdog() {
  sd_notify(0, "WATCHDOG=1");
}

std::chrono::milliseconds WatchdogPingInterval() {
  uint64_t micros = 0;
  if (sd_watchdog_enabled(0, &micros) <= 0 || micros == 0) return std::chrono::milliseconds(0);
  const auto half = std::chrono::milliseconds(micros / 2000);
  return half.count() > 0 ? half : std::chrono::milliseconds(1);
}

bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat status {};
  if (::fstat(STDERR_FILENO, &status) != 0) return false;
  return static_cast<unsigned long long>(status.st_dev) == device &&
         static_cast<unsigned long long>(status.st_ino) == inode;
}

}  // namespace app
