// Unit Pkg_cmp09500: the entry points the host finds by name in libpkg_cmp09500.so.
//
// The host loads the package, calls Initialize (unit initialisation), then IniProc. Before it
// unloads the package it calls Finalize (unit finalisation).
#pragma once

extern "C" {

// What the package holds, for the host's module registry.
struct TPackageInfoTable {
  const char* Name;  // "PKG_CMP09500"
  int UnitCount;
  const char* const* Units;  // "Pkg_cmp09500", "Cli_cmp09500", "Cli_cmp09501"
};

void Initialize();
void Finalize();
const TPackageInfoTable* GetPackageInfoTable();

// Marks the next activation of the request screen as the first one, then CriaAcompSoli.
void IniProc();
// Creates the request screen once and shows it (brings it to the front when it exists).
void CriaAcompSoli();
// Creates a new item screen and shows it modally.
void CriaAcompItens();
}
