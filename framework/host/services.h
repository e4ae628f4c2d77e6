// The host framework services the module calls.
//
// Decisions where the module leaves the choice to the host:
// - Msg of a key absent from the list gives an empty text; an entry without a bar ("EDI") gives
//   an empty text too: the key is found, its text is empty.
// - EmptyString treats blanks as no text: "", "   " and "\t" are empty.
// - ActiveShowAvi while the indicator is shown only changes its caption; one DeactiveShowAvi
//   hides it (the indicator does not count).
// - Selection strings: the marked key codes, each in single quotes with inner quotes doubled,
//   separated by commas: 'A01','B''2'. A cancelled picker leaves the selection as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "framework/data/dataset.h"
#include "framework/platform.h"
#include "framework/ui/application.h"
#include "protocol/remote.h"

namespace fw {

// The message list of a screen: lines "key|text".
class TMessages : public TComponent {
 public:
  using TComponent::TComponent;
  std::vector<std::string> Items;
  std::string Msg(const std::string& key) const;
};

// Shows the text as an error and aborts the running handler (raises EAbort).
[[noreturn]] void MensErro(const std::string& text, bool abort = true);
bool EmptyString(const std::string& text);

// Returns the packet of a successful result; reports a refusal through MensErro.
TDataPacket CheckResultServ(TRemoteResult result, bool raise = true, int kind = 0);

void ActiveShowAvi(TForm* owner, int animation, const std::string& caption = {});
void DeactiveShowAvi();

// The list picker over the source's rows: marks the rows whose key is in `selection` and stores
// the user's marked keys back into `selection` (layout above).
void PesquisaLista(TDataSource* source, const std::string& keyField, const std::string& title,
                   bool single, std::string& selection);
std::string BuildSelection(const std::vector<std::string>& keys);
std::vector<std::string> ParseSelection(const std::string& selection);

// Interactive record search (the platform's dialog, then FindRecord): moves the cursor to the
// row found; reports "Registro não encontrado." when none matches. The dialog offers the columns
// of the grid that shows the data set (the focused one, if several do), by their titles.
void Procura(TDataSet* dataSet);

// The sort dialog ("Ordenar") over the grid's columns: the user's choice, up to three columns
// each ascending or descending, becomes the order of the grid's data set (SetIndexFields): the
// current record stays current and nothing is asked of the server. Cancelled: nothing changes.
void Ordena(TDBGrid* grid);

// The columns of the grid showing `dataSet` (the focused grid first, else the first on its form
// that shows it), with its selected column's field in `selected`; without a grid, the data set's
// visible fields by their labels.
std::vector<TSearchColumn> SearchColumns(TDataSet* dataSet, std::string* selected = nullptr);
// The text as a search compares it: lower case and without accents, "São Paulo" -> "sao paulo"
// (UTF-8; letters of Latin-1 and the Latin ligatures, others as they are).
std::string SearchKey(std::string_view text);
// Exact: `shown == wanted`. StartsWith and Contains: on the search keys, `wanted` trimmed of
// surrounding blanks; an empty `wanted` matches nothing.
bool SearchMatches(std::string_view shown, std::string_view wanted, TSearchMatch match);
// The 0-based row the search lands on, -1 when none: Exact from the first row; StartsWith and
// Contains from the row after the cursor, wrapping round to the cursor's own row last.
int FindRecord(TDataSet* dataSet, const TField* field, std::string_view wanted, TSearchMatch match);

// Accepts a code present among the source's rows (its first field, compared without the blanks
// around it); gives the code back as stored. Otherwise reports and aborts.
void ValidEx(TDataSource* source, int pictureKind, std::string& code,
             const std::vector<std::string>& options, const std::string& extra, bool raise);
// Product data of the code from the local database: [name, internal code, unit].
// Reports and aborts when the product does not exist.
std::vector<std::string> Dados_Produto(const std::string& code);

// What a date edit's check says of a text that is not a date. A partly typed date names what is
// missing: "01/03/" -> "Data incompleta: 01/03/____. Falta o ano.", "01/03/20" -> "... Falta
// completar o ano."; a whole one that does not exist: "Data inválida: 31/02/2024.".
std::string InvalidDateMessage(const std::string& text);

std::string DBPict(int pictureKind);
std::string WebURL();
int WebPort();
// Loads and starts a host module; reports plainly when it is not installed.
void LoadBPL(const std::string& moduleName);

}  // namespace fw
