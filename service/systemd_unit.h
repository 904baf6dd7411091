// Registration of the service with systemd: the unit file of ZELKLCalculateService (its
// Description is the service description of this build), install (write, enable, start
// and wait until it runs) and uninstall (stop, disable, remove), through systemctl.
// Called by the command line on the main thread.
#pragma once

#include <string>

namespace zel::service {

// /etc/systemd/system/ZELKLCalculateService.service
std::string UnitFilePath();

// One ExecStart argument quoted for systemd ("…" with \, " escaped and % doubled).
std::string QuoteSystemdArg(const std::string& arg);

// The unit text: Type=notify, ExecStart = executable --home home run, started with the
// system (multi-user.target), restarted after a failure.
std::string UnitFileText(const std::string& description, const std::string& executable,
                         const std::string& home);

// Rewrites the Description line of an existing unit file when it differs. Does nothing
// (returns false) when the file does not exist or cannot be written.
bool UpdateUnitDescription(const std::string& unit_path, const std::string& description);

// Starts the installed service and waits while systemd reports it "activating"; true when
// it is "active" at the end. Any failure just ends the attempt (false).
bool StartInstalledService(const std::string& service_name);

// Writes the unit for this executable and home, reloads systemd and enables the unit.
// Raises std::runtime_error naming the step that failed (no systemd, no permission, ...).
void InstallUnit(const std::string& executable, const std::string& home);
// Stops and disables the service and removes its unit. Raises std::runtime_error when
// the unit cannot be removed.
void UninstallUnit();

}  // namespace zel::service
