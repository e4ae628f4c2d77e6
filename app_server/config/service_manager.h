// What the server tells the service manager (systemd) that started it, through libsystemd's
// sd_notify: nothing at all when it was not started as a Type=notify service (no
// $NOTIFY_SOCKET), so that the same program runs by hand as before.
//
//   READY=1      once it listens, its statements prepared (the unit's start is then done)
//   RELOADING=1  while SIGHUP's re-reading runs, READY=1 again after
//   STOPPING=1   when a stop begins
//   WATCHDOG=1   every half of the unit's WatchdogSec, from the thread that accepts
#pragma once

#include <chrono>
#include <string>

namespace app {

void NotifyReady(const std::string& status);
void NotifyReloading();
void NotifyStopping();
void NotifyWatchdog();
// How often to ping the watchdog: half the interval the unit set (WatchdogSec), or 0 when it
// set none.
std::chrono::milliseconds WatchdogPingInterval();

// Whether stderr is the journal's stream of this service (systemd sets $JOURNAL_STREAM to the
// device and inode of the stream it connected): then the log takes the journal's form (log.h).
bool StderrIsJournal();

}  // namespace app
