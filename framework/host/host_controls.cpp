#include "framework/host/host_controls.h"

#include "framework/db/local_query.h"
#include "framework/host/services.h"
#include "framework/platform.h"
#include "protocol/datetime.h"

namespace fw {

TDateEditPlus::TDateEditPlus(TComponent* owner, std::string name)
    : TEdit(owner, std::move(name)), DayNames{"Domingo", "Segunda", "Terça", "Quarta",
                                              "Quinta",  "Sexta",   "Sábado"} {}

double TDateEditPlus::GetDate() const {
  const std::optional<double> date = TextToDateTime(Text());
  return date ? *date : kBlankDate;
}

void TDateEditPlus::SetDate(double date) {
  const TDateParts parts = DecodeDateTime(date);
  SetText(DateTimeToText(EncodeDateTime({parts.Year, parts.Month, parts.Day, 0, 0, 0})));
}

bool TDateEditPlus::HasValidDate() const {
  const std::string& text = Text();
  // Only whole days are typed: a time of day is not part of this edit's text.
  return text.size() == 10 && TextToDateTime(text).has_value();
}

void TDateEditPlus::CheckValidDate() {
  if (EmptyString(Text()) || HasValidDate()) return;
  SetFocus();
  MensErro(InvalidDateMessage(Text()));
}

void TBtnPesquisa::Click() {
  if (!IsEnabledUp()) return;
  TDataSet* rows = DataSource ? DataSource->DataSet() : nullptr;
  if (!rows) return;
  // A local query's rows are read on first use.
  if (!rows->Active())
    if (auto* query = dynamic_cast<TLocalQuery*>(rows->Owner())) query->Open();
  IPlatform* platform = Application ? Application->Platform() : nullptr;
  if (!platform) return;
  if (rows->IsEmpty()) {
    MensErro(EmptyError.empty() ? "Não há registros para pesquisar." : EmptyError);
  }
  int row = -1;
  if (!platform->LookupProduct(rows, CodeField, NameField, row)) return;
  if (row < 0 || row >= rows->RecordCount()) return;
  rows->MoveTo(row);
  if (OnAfterPesq) OnAfterPesq(this);
}

}  // namespace fw
