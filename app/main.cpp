// kelvo-printer-app: an IPP Everywhere printer application for the Kelvo
// photo printer, built on PAPPL.  It runs the same page pipeline as the
// rastertokelvo filter and sends the printer the same command stream.
//
// Usage: kelvo-printer-app SUB-COMMAND [OPTIONS] [FILES]  (PAPPL's main loop:
// server, add, submit, jobs, cancel, ...)
#include "app.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

const char *const kBaseName = "kelvo-printer-app";
const char *const kFooter =
    "Kelvo Photo printer application &middot; prints what <code>rastertokelvo</code> sends for the same page "
    "and settings";

pappl_pr_driver_t Drivers[] = {{kDriverName, "Kelvo Photo", "MFG:Kelvo;MDL:Kelvo Photo;CMD:KELVO;", nullptr}};

std::string StateFile;

const char *AutoAdd(const char *, const char *, const char *device_id, void *)
{
  return device_id && strstr(device_id, "MDL:Kelvo Photo;") ? kDriverName : nullptr;
}

bool SaveState(pappl_system_t *system, void *)
{
  return papplSystemSaveState(system, StateFile.c_str());
}

// Where state, spool and the local socket live: below SNAP_COMMON when it
// is set, else the system's places for root and the user's for others, as
// PAPPL's own command-line client looks for them.  Root's state file has a
// folder of its own, /var/lib/kelvo-printer-app, as a system service's
// state has on Debian.
std::string StatePath(const char *suffix)
{
  if (const char *common = getenv("SNAP_COMMON"))
    return std::string(common) + "/" + kBaseName + suffix;
  if (getuid() == 0)
  {
    if (!strcmp(suffix, ".sock"))
      return std::string("/run/") + kBaseName + suffix;
    if (!strcmp(suffix, ".state"))
      return std::string("/var/lib/") + kBaseName + "/" + kBaseName + suffix;
    return std::string("/var/spool/") + kBaseName;
  }
  const char *tmp = getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp";
  const std::string uid = std::to_string(getuid());
  if (!strcmp(suffix, ".state"))
  {
    const char *home = getenv("HOME");
    return home ? std::string(home) + "/.config/" + kBaseName + suffix : std::string(tmp) + "/" + kBaseName + uid + suffix;
  }
  return std::string(tmp) + "/" + kBaseName + uid + suffix;
}

pappl_system_t *CreateSystem(int num_options, cups_option_t *options, void *)
{
  const char *val;
  std::string spool = (val = cupsGetOption("spool-directory", num_options, options)) ? val : StatePath(".d");
  mkdir(spool.c_str(), 0700);
  const char *logfile = cupsGetOption("log-file", num_options, options);
  pappl_loglevel_t level = PAPPL_LOGLEVEL_INFO;
  if ((val = cupsGetOption("log-level", num_options, options)))
  {
    static const char *const names[] = {"debug", "info", "warn", "error", "fatal"};
    for (int i = 0; i < 5; i++)
      if (!strcmp(val, names[i]))
        level = (pappl_loglevel_t)i;
  }
  const int port = (val = cupsGetOption("server-port", num_options, options)) ? atoi(val) : 8000;
  const char *auth = cupsGetOption("auth-service", num_options, options);

  pappl_system_t *system = papplSystemCreate(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY,
      "Kelvo Printer Application", port, "_print,_universal", spool.c_str(), logfile ? logfile : "-", level, auth,
      false);
  if (system == nullptr)
    return nullptr;

  // Only this machine, unless the user names more (comma-separated).
  std::string listen = (val = cupsGetOption("listen-hostname", num_options, options)) ? val : "localhost";
  for (size_t start = 0; start <= listen.size();)
  {
    size_t end = listen.find(',', start);
    if (end == std::string::npos)
      end = listen.size();
    const std::string name = listen.substr(start, end - start);
    if (!name.empty() && !papplSystemAddListeners(system, name.c_str()))
    {
      fprintf(stderr, "%s: cannot listen on %s port %d.\n", kBaseName, name.c_str(), port);
      papplSystemDelete(system);
      return nullptr;
    }
    start = end + 1;
  }
  const std::string sock = StatePath(".sock");
  if (!papplSystemAddListeners(system, sock.c_str()))
  {
    fprintf(stderr, "%s: cannot listen on %s.\n", kBaseName, sock.c_str());
    papplSystemDelete(system);
    return nullptr;
  }

  papplSystemSetPrinterDrivers(system, 1, Drivers, AutoAdd, AddPreviewLink, KelvoDriver, nullptr);
  papplSystemSetFooterHTML(system, kFooter);
  papplSystemAddStringsData(system, "/kelvo-en.strings", "en", kVendorStringsText());
  AddDocumentFilters(system);
  SetPreviewDirectory(spool);
  AddPreviewPages(system);
  pappl_version_t version = {};
  strncpy(version.name, kBaseName, sizeof(version.name) - 1);
  strncpy(version.sversion, KELVO_VERSION, sizeof(version.sversion) - 1);
  version.version[0] = KELVO_VERSION_MAJOR;
  version.version[1] = KELVO_VERSION_MINOR;
  version.version[2] = KELVO_VERSION_PATCH;
  papplSystemSetVersions(system, 1, &version);

  StateFile = StatePath(".state");
  mkdir(StateFile.substr(0, StateFile.rfind('/')).c_str(), 0700);   // the state's folder, when it is new
  papplSystemLoadState(system, StateFile.c_str());
  papplSystemSetSaveCallback(system, SaveState, nullptr);
  return system;
}

} // namespace

int main(int argc, char *argv[])
{
  return papplMainloop(argc, argv, KELVO_VERSION, kFooter, 1, Drivers, AutoAdd, KelvoDriver, nullptr, nullptr,
                       CreateSystem, nullptr, nullptr);
}
