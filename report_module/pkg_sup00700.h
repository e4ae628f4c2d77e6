// Unit Pkg_sup00700: the entry points the host finds by name in libpkg_sup00700.so, the print
// module "SUP00700" ("Relatório de Acompanhamento de Solicitações") that the request screen's
// print command starts.
#pragma once

extern "C" {

// What the package holds, for the host's module registry.
struct TPackageInfoTable {
  const char* Name;  // "PKG_SUP00700"
  int UnitCount;
  const char* const* Units;
};

void Initialize();
void Finalize();
const TPackageInfoTable* GetPackageInfoTable();

// Opens the report's dialog (modal): the filter, then the preview, the printer or a PDF.
void IniProc();

// Unattended: writes the report without a window. `options` holds names and values in turn,
// ended by a null: "de", "dd/mm/aaaa", "ate", "dd/mm/aaaa", "pdf", FILE, and optionally
// "filiais" (codes separated by commas), "situacoes" (status codes, likewise), "data-base"
// (dd/mm/aaaa, today by default), "previa" (a PNG of the preview window, for the docs).
// Returns 0 when every file was written; otherwise 1, with the reason in `message` (UTF-8,
// cut to `size` bytes with its terminating null); a line saying what was written otherwise.
int GeraRelatorio(const char* const* options, char* message, int size);
}
