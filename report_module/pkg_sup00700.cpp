// Unit Pkg_sup00700: the package's entry points. Only wiring: the report's units do the work.
#include "report_module/pkg_sup00700.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPixmap>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "protocol/text.h"

#include "report_module/rel_acomp_call.h"
#include "report_module/rel_acomp_preview.h"

namespace {

const char* const kUnits[] = {"Pkg_sup00700", "Rel_sup00700"};
const TPackageInfoTable kPackageInfo = {"PKG_SUP00700", 2, kUnits};

std::vector<std::string> SplitCodes(const std::string& list) {
  std::vector<std::string> codes;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = std::min(list.find(',', start), list.size());
    std::string code = list.substr(start, comma - start);
    while (!code.empty() && code.front() == ' ') code.erase(code.begin());
    while (!code.empty() && code.back() == ' ') code.pop_back();
    if (!code.empty()) codes.push_back(code);
    start = comma + 1;
  }
  return codes;
}

int64_t Day(const std::map<std::string, std::string>& options, const std::string& name,
            const char* what) {
  const auto found = options.find(name);
  if (found == options.end() || found->second.empty())
    throw std::invalid_argument(std::string("Falta ") + what + " (--" + name + " dd/mm/aaaa).");
  const auto day = Rel_sup00700::ParseDay(found->second);
  if (!day)
    throw std::invalid_argument(std::string("Data inválida em --") + name + ": " + found->second +
                                " (esperado dd/mm/aaaa).");
  return *day;
}

std::string Generate(const std::map<std::string, std::string>& options) {
  using namespace Rel_sup00700;
  for (const auto& [name, value] : options)
    if (name != "de" && name != "ate" && name != "pdf" && name != "filiais" &&
        name != "situacoes" && name != "data-base" && name != "previa")
      throw std::invalid_argument("Opção desconhecida do relatório: " + name + ".");
  TReportFilter filter;
  filter.FirstDay = Day(options, "de", "a data inicial");
  filter.LastDay = Day(options, "ate", "a data final");
  if (filter.FirstDay > filter.LastDay)
    throw std::invalid_argument("A data inicial do período não pode ser posterior à final.");
  filter.ReferenceDay =
      options.count("data-base") ? Day(options, "data-base", "a data-base") : Today();
  if (options.count("filiais")) filter.Branches = SplitCodes(options.at("filiais"));
  if (options.count("situacoes")) {
    filter.Statuses = SplitCodes(options.at("situacoes"));
    for (const std::string& code : filter.Statuses)
      if (StatusText(code) == code)
        throw std::invalid_argument("Situação desconhecida em --situacoes: " + code + ".");
  }
  const auto pdf = options.find("pdf");
  const auto png = options.find("previa");
  if ((pdf == options.end() || pdf->second.empty()) && png == options.end())
    throw std::invalid_argument("Falta o arquivo do relatório (--pdf ARQUIVO).");

  const TReportData data(FetchReport(filter), filter);
  const TReportLayout layout(data, MadeAtNow(), ProductMask());
  std::string done = "Relatório SUP00700: " + std::to_string(data.RowCount()) + " itens em " +
                     std::to_string(data.Branches().size()) + " filiais, " +
                     std::to_string(layout.PageCount()) + " páginas";
  if (pdf != options.end() && !pdf->second.empty()) {
    QString error;
    if (WritePdf(layout, QString::fromStdString(pdf->second), nullptr, error) !=
        TRenderOutcome::Done)
      throw std::runtime_error(error.toStdString());
    done += "; PDF em " + pdf->second;
  }
  if (png != options.end()) {
    TRelAcompPreview preview(layout);
    preview.show();
    QCoreApplication::processEvents();
    preview.ApplyZoom(0);
    if (!preview.grab().save(QString::fromStdString(png->second), "PNG"))
      throw std::runtime_error("Não foi possível gravar a imagem da visualização em " +
                               png->second + ".");
    done += "; visualização em " + png->second;
  }
  return done + ".";
}

void Copy(const std::string& text, char* message, int size) {
  if (!message || size <= 0) return;
  // Cut on a character boundary.
  const size_t length = fw::Utf8Floor(text, std::min(text.size(), static_cast<size_t>(size - 1)));
  std::memcpy(message, text.data(), length);
  message[length] = '\0';
}

}  // namespace

extern "C" {

void Initialize() {}

void Finalize() {}

const TPackageInfoTable* GetPackageInfoTable() {
  return &kPackageInfo;
}

void IniProc() {
  Rel_sup00700::TRelAcompDialog dialog(QApplication::activeWindow());
  dialog.exec();
}

int GeraRelatorio(const char* const* options, char* message, int size) {
  try {
    std::map<std::string, std::string> named;
    for (const char* const* option = options; option && option[0]; option += 2) {
      if (!option[1])
        throw std::invalid_argument(std::string("Falta o valor de ") + option[0] + ".");
      named[option[0]] = option[1];
    }
    Copy(Generate(named), message, size);
    return 0;
  } catch (const std::exception& failure) {
    Copy(failure.what(), message, size);
    return 1;
  }
}
}
