#pragma once
// The program's identity, shared by the splash screen, the about box and the
// update check so that all of them show the same version.

namespace AppInfo {

inline constexpr char Version[] = "0.1.0";
inline constexpr char ApplicationName[] = "Calderwyn Studio";
inline constexpr char OrganizationName[] = "Calderwyn";
inline constexpr char OrganizationDomain[] = "calderwyn.example";
inline constexpr char IconPath[] = ":/app-icon.png";
inline constexpr char StyleSheetPath[] = ":/theme.qss";
// Where the update check asks for the newest version: a host of the reserved
// ".example" domain, so a check on a machine without that host fails quietly.
inline constexpr char UpdateUrl[] = "https://updates.calderwyn.example/update.json";

} // namespace AppInfo
