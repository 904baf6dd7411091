// Registration of the service with systemd: the unit file of ZELKLCalculateService (its
// Description is the service description of this build; it runs as a system user of its
// own, confined to its home folder), install (the user, the home's owner, write, enable,
// start and wait until it runs) and uninstall (stop, disable, remove), through systemctl.
// Called by the command line on the main thread.
#pragma once

#include <optional>
#include <string>

namespace zel::service {

// The system user the service runs as.
inline constexpr const char* kServiceUser = "zelkl-calc";

// Why the home folder cannot be handed to kServiceUser, nullopt when it can: a relative
// path, the root, a folder directly under it, a user's own home and the system's folders
// (/usr, /etc, /var/lib ... and everything under them) are refused, since install gives the
// home to the service and lets it write there.
std::optional<std::string> HomeUnfitForService(const std::string& home);

// /etc/systemd/system/ZELKLCalculateService.service
std::string UnitFilePath();

// One ExecStart argument quoted for systemd ("…" with \, " escaped and % doubled).
std::string QuoteSystemdArg(const std::string& arg);

// The unit text: Type=notify, ExecStart = executable --home home run as kServiceUser,
// started with the system (multi-user.target), restarted after a failure. The service sees
// the file system read-only except its home, its own /tmp, no devices, no kernel or
// control-group settings, only local, IPv4 and IPv6 sockets (ODBC and the notify socket)
// and the system calls of an ordinary service. The users' homes (/home, /root, /run/user)
// are hidden; a home folder or executable inside one of them is bound in on its own.
std::string UnitFileText(const std::string& description, const std::string& executable,
                         const std::string& home);

// Rewrites the Description line of an existing unit file when it differs. Does nothing
// (returns false) when the file does not exist or cannot be written.
bool UpdateUnitDescription(const std::string& unit_path, const std::string& description);

// Starts the installed service and waits while systemd reports it "activating"; true when
// it is "active" at the end. Any failure just ends the attempt (false).
bool StartInstalledService(const std::string& service_name);

// Refuses a home that HomeUnfitForService names; creates kServiceUser when missing (a
// system user with a group of its own and no login), gives it the home folder (and its
// Korlan.Ini, Log.inf, Logs/ and Data/), writes the unit for this executable and home, reloads
// systemd and enables the unit. Raises std::runtime_error naming the step that failed (no systemd,
// no permission, ...).
void InstallUnit(const std::string& executable, const std::string& home);
// Stops and disables the service and removes its unit. Raises std::runtime_error when
// the unit cannot be removed.
void UninstallUnit();

}  // namespace zel::service
