#include "app_server/demo/demo_data.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <set>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "app_server/auth/accounts.h"
#include "app_server/auth/read_scope.h"
#include "app_server/db/iso_date.h"
#include "protocol/datetime.h"

namespace app {

namespace {

// splitmix64: small, fast, and the same numbers on every platform and library (the standard
// distributions are not).
class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Inclusive.
  int Between(int low, int high) {
    return low + static_cast<int>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  bool Chance(double probability) { return Unit() < probability; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Next() % items.size()];
  }

 private:
  uint64_t state_;
};

// ------------------------------------------------------------------------- names and things

const char* const kCities[] = {
    "São Paulo",        "Campinas",       "Rio de Janeiro", "Belo Horizonte", "Curitiba",
    "Porto Alegre",     "Salvador",       "Recife",         "Fortaleza",      "Goiânia",
    "Manaus",           "Belém",          "Florianópolis",  "Vitória",        "Natal",
    "João Pessoa",      "Maceió",         "Aracaju",        "Teresina",       "São Luís",
    "Cuiabá",           "Campo Grande",   "Londrina",       "Joinville",      "Santos",
    "Sorocaba",         "Ribeirão Preto", "Uberlândia",     "Juiz de Fora",   "Niterói",
    "Caxias do Sul",    "Blumenau",       "Maringá",        "Bauru",          "Piracicaba",
    "Feira de Santana", "Campina Grande", "Petrolina",      "Chapecó",        "Cascavel",
    "Pelotas",          "Anápolis",       "Palmas",         "Porto Velho",    "Macapá",
    "Boa Vista",        "Rio Branco",     "Jundiaí",        "Guarulhos",      "Osasco",
    "Contagem",         "Betim",          "Caruaru",        "Mossoró",        "Imperatriz"};
const char* const kDistricts[] = {"Centro",     "Norte", "Sul",       "Leste",  "Oeste",
                                  "Industrial", "Porto", "Aeroporto", "Rodovia"};

const char* const kFirstNames[] = {
    "Maria",    "Ana",      "Francisca", "Antônia",   "Adriana", "Juliana", "Márcia",  "Fernanda",
    "Patrícia", "Aline",    "Sandra",    "Camila",    "Amanda",  "Bruna",   "Jéssica", "Letícia",
    "Luciana",  "Vanessa",  "Mariana",   "Gabriela",  "Beatriz", "Larissa", "Tatiane", "Simone",
    "José",     "João",     "Antônio",   "Francisco", "Carlos",  "Paulo",   "Pedro",   "Lucas",
    "Luiz",     "Marcos",   "Gabriel",   "Rafael",    "Daniel",  "Marcelo", "Bruno",   "Eduardo",
    "Felipe",   "Raimundo", "Rodrigo",   "Ricardo",   "Fábio",   "Gustavo", "Thiago",  "Sérgio"};
const char* const kSurnames[] = {
    "Silva",   "Santos",     "Oliveira",   "Souza",     "Rodrigues", "Ferreira", "Alves",
    "Pereira", "Lima",       "Gomes",      "Costa",     "Ribeiro",   "Martins",  "Carvalho",
    "Almeida", "Lopes",      "Soares",     "Fernandes", "Vieira",    "Barbosa",  "Rocha",
    "Dias",    "Nascimento", "Andrade",    "Moreira",   "Nunes",     "Marques",  "Machado",
    "Mendes",  "Freitas",    "Cardoso",    "Ramos",     "Gonçalves", "Santana",  "Teixeira",
    "Araújo",  "Moura",      "Cavalcanti", "Monteiro",  "Castro",    "Azevedo",  "Pinheiro"};

struct TBaseProduct {
  int Group;
  const char* Name;
  const char* Unit;
  double Price;
};

const TBaseProduct kBaseProducts[] = {
    {1, "Papel Sulfite A4 75g", "RS", 24.9},
    {1, "Caneta Esferográfica Azul", "CX", 38.5},
    {1, "Caneta Esferográfica Preta", "CX", 38.5},
    {1, "Lápis Preto nº 2", "CX", 21.0},
    {1, "Borracha Branca", "CX", 15.9},
    {1, "Grampeador de Mesa", "UN", 42.0},
    {1, "Grampo 26/6", "CX", 6.8},
    {1, "Clipe Galvanizado 2/0", "CX", 4.5},
    {1, "Pasta Suspensa Kraft", "CX", 79.0},
    {1, "Envelope Ofício Branco", "CX", 55.0},
    {1, "Bloco de Notas Adesivas", "PCT", 18.7},
    {1, "Marca-Texto Amarelo", "CX", 29.9},
    {1, "Calculadora de Mesa 12 Dígitos", "UN", 49.9},
    {1, "Caderno Universitário 200 Folhas", "UN", 27.5},
    {2, "Detergente Neutro 500 ml", "CX", 36.0},
    {2, "Desinfetante Lavanda 2 L", "UN", 12.4},
    {2, "Água Sanitária 5 L", "GL", 17.9},
    {2, "Sabonete Líquido 5 L", "GL", 45.0},
    {2, "Papel Toalha Interfolhado", "PCT", 22.0},
    {2, "Papel Higiênico Rolo 300 m", "PCT", 96.0},
    {2, "Saco de Lixo 100 L", "PCT", 31.5},
    {2, "Álcool em Gel 70% 500 ml", "UN", 9.9},
    {2, "Pano de Chão Alvejado", "UN", 6.5},
    {2, "Luva de Borracha Amarela", "PAR", 5.9},
    {3, "Cartucho de Toner Preto", "UN", 289.0},
    {3, "Mouse Óptico USB", "UN", 35.0},
    {3, "Teclado ABNT2 USB", "UN", 69.0},
    {3, "Monitor LED 24 Polegadas", "UN", 899.0},
    {3, "Cabo de Rede Cat6 2,5 m", "UN", 14.9},
    {3, "Pen Drive 32 GB", "UN", 39.9},
    {3, "HD Externo 1 TB", "UN", 349.0},
    {3, "Headset com Microfone", "UN", 129.0},
    {3, "Nobreak 1200 VA", "UN", 749.0},
    {3, "Switch 24 Portas Gigabit", "UN", 1290.0},
    {4, "Lâmpada LED Tubular 18 W", "UN", 16.9},
    {4, "Fita Isolante 20 m", "RL", 7.9},
    {4, "Disjuntor Bipolar 32 A", "UN", 48.0},
    {4, "Tomada 2P+T 10 A", "UN", 11.5},
    {4, "Cabo Flexível 2,5 mm", "M", 2.9},
    {4, "Parafuso Sextavado 3/8", "CX", 64.0},
    {4, "Tinta Acrílica Branca 18 L", "GL", 389.0},
    {4, "Rolo de Lã 23 cm", "UN", 24.0},
    {4, "Furadeira de Impacto 650 W", "UN", 319.0},
    {4, "Chave de Fenda Jogo 6 Peças", "UN", 54.9},
    {5, "Capacete de Segurança Branco", "UN", 29.9},
    {5, "Óculos de Proteção Incolor", "UN", 12.5},
    {5, "Protetor Auricular Plug", "PAR", 2.4},
    {5, "Luva de Vaqueta", "PAR", 18.9},
    {5, "Bota de Segurança Bico de Aço", "PAR", 149.0},
    {5, "Máscara PFF2", "CX", 85.0},
    {5, "Colete Refletivo Laranja", "UN", 19.9},
    {6, "Café Torrado e Moído 500 g", "UN", 17.5},
    {6, "Açúcar Refinado 1 kg", "KG", 4.9},
    {6, "Copo Descartável 200 ml", "PCT", 7.9},
    {6, "Chá Mate 250 g", "UN", 8.9},
    {6, "Água Mineral 20 L", "UN", 14.0},
    {6, "Filtro de Papel nº 103", "CX", 5.9},
    {6, "Guardanapo de Papel", "PCT", 3.9},
    {7, "Caixa de Papelão 40x30x20", "UN", 4.8},
    {7, "Fita Adesiva Marrom 48 mm", "RL", 6.9},
    {7, "Plástico Bolha", "M", 1.9},
    {7, "Etiqueta Adesiva 100x50", "RL", 39.0},
    {7, "Filme Stretch 500 mm", "RL", 59.0},
    {7, "Palete de Madeira PBR", "UN", 65.0},
};

// Lines of the same product from different makers.
const char* const kBrands[][2] = {
    {"AUROR", "Aurora"},  {"IPE", "Ipê"},         {"JATOB", "Jatobá"}, {"CRIST", "Cristal"},
    {"ESTRE", "Estrela"}, {"HORIZ", "Horizonte"}, {"GUARA", "Guará"},  {"TUPA", "Tupã"},
    {"ARARA", "Arara"},   {"SABIA", "Sabiá"},     {"CEDRO", "Cedro"},  {"PAMPA", "Pampa"}};

const char* const kUnits[][2] = {
    {"UN", "Unidade"}, {"CX", "Caixa"}, {"PCT", "Pacote"}, {"RS", "Resma"}, {"KG", "Quilograma"},
    {"L", "Litro"},    {"M", "Metro"},  {"RL", "Rolo"},    {"PAR", "Par"},  {"GL", "Galão"}};

const char* const kDestinations[][2] = {
    {"001", "Consumo Interno"},  {"002", "Manutenção Predial"},
    {"003", "Revenda"},          {"004", "Imobilizado"},
    {"005", "Obras e Reformas"}, {"006", "Tecnologia da Informação"},
    {"007", "Marketing"},        {"008", "Segurança do Trabalho"}};

const char* const kSupplierKinds[] = {"Distribuidora", "Comercial", "Atacadista", "Indústria",
                                      "Casa",          "Depósito",  "Central"};
const char* const kSupplierRegions[] = {"Paulista", "Mineira",    "Carioca",     "Gaúcha",
                                        "Baiana",   "Paranaense", "Catarinense", "Nordestina",
                                        "Nacional", "do Brasil",  "Capixaba"};
const char* const kSupplierTrades[] = {"Papéis",     "Ferragens", "Informática",         "Limpeza",
                                       "Embalagens", "Alimentos", "Materiais Elétricos", "EPI"};
// Every line has at least this many suppliers, as many as an item's quotation asks.
constexpr size_t kSuppliersPerTrade = 4;

// The supplier trade (kSupplierTrades' index) that sells a base product: each group of products
// is one trade's, but for group 4, whose first five products are electrical material and the
// rest hardware. `inGroup` counts from 1.
size_t TradeOf(int group, int inGroup) {
  switch (group) {
    case 1:
      return 0;  // office supplies: Papéis
    case 2:
      return 3;  // Limpeza
    case 3:
      return 2;  // Informática
    case 4:
      return inGroup <= 5 ? 6 : 1;  // Materiais Elétricos, then Ferragens
    case 5:
      return 7;  // EPI
    case 6:
      return 5;  // the pantry: Alimentos
    default:
      return 4;  // Embalagens
  }
}
const char* const kSupplierSuffixes[] = {"Ltda", "S.A.", "Eireli", "ME"};

size_t CodePoints(std::string_view text) {
  size_t count = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  return count;
}

// Upper-case ASCII letters of a name, accents dropped ("Fábio" -> "FABIO").
std::string AsciiUpper(std::string_view text) {
  static const std::pair<const char*, char> kFolds[] = {
      {"á", 'A'}, {"à", 'A'}, {"â", 'A'}, {"ã", 'A'}, {"é", 'E'}, {"ê", 'E'}, {"í", 'I'},
      {"ó", 'O'}, {"ô", 'O'}, {"õ", 'O'}, {"ú", 'U'}, {"ü", 'U'}, {"ç", 'C'}, {"Á", 'A'},
      {"Â", 'A'}, {"É", 'E'}, {"Í", 'I'}, {"Ó", 'O'}, {"Ú", 'U'}, {"Ç", 'C'}};
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c >= 'a' && c <= 'z')
        out.push_back(static_cast<char>(c - 'a' + 'A'));
      else if (c >= 'A' && c <= 'Z')
        out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    bool folded = false;
    for (const auto& fold : kFolds) {
      const std::string_view from(fold.first);
      if (text.substr(i, from.size()) == from) {
        out.push_back(fold.second);
        i += from.size();
        folded = true;
        break;
      }
    }
    if (!folded) ++i;
  }
  return out;
}

std::string Digits(long value, int width) {
  return fmt::format("{:0{}}", value, width);
}

std::string Cnpj(TRandom& random) {
  int digits[14];
  for (int i = 0; i < 8; ++i) digits[i] = random.Between(0, 9);
  digits[8] = 0, digits[9] = 0, digits[10] = 0, digits[11] = 1;
  static const int kFirst[] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  static const int kSecond[] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  int sum = 0;
  for (int i = 0; i < 12; ++i) sum += digits[i] * kFirst[i];
  digits[12] = sum % 11 < 2 ? 0 : 11 - sum % 11;
  sum = 0;
  for (int i = 0; i < 13; ++i) sum += digits[i] * kSecond[i];
  digits[13] = sum % 11 < 2 ? 0 : 11 - sum % 11;
  std::string text;
  for (const int digit : digits) text.push_back(static_cast<char>('0' + digit));
  return text;
}

double Round(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

using TValue = TDemoValue;

// A table the generator writes rows to.
class TTable {
 public:
  TTable(IDemoWriter& writer, const char* name, const char* columns)
      : writer_(writer), handle_(writer.Table(name, columns)) {}
  void Run(std::initializer_list<TValue> values) { writer_.Row(handle_, values); }

 private:
  IDemoWriter& writer_;
  size_t handle_;
};

// ------------------------------------------------------------------------- the generator

struct TBranch {
  std::string Code, Name;
  std::vector<size_t> Requesters;  // indexes into the operators
};

struct TOperator {
  std::string Code, Name;
  char Role;  // S requester, G manager, C buyer, F invoice clerk
  std::string Branch;
};

struct TProduct {
  std::string Code, Tree, Name, Unit, Brand;
  double Price;
  size_t Trade;  // the supplier trade that sells it
};

struct TSupplier {
  std::string Code, Name, Cnpj;
  size_t Trade;
};

// Item statuses, the stages a request goes through.
constexpr char kStatuses[] = {'A', 'B', 'C', 'D', '7', '5', '4', '3', '2', '1'};
// How common each is, in percent (same order).
constexpr int kStatusWeights[] = {10, 8, 7, 12, 6, 7, 15, 5, 20, 10};

class TGenerator {
 public:
  TGenerator(IDemoWriter& writer, const TDemoOptions& options)
      : writer_(writer),
        random_(options.Seed),
        ordersRandom_(options.Seed ^ 0x5DEECE66Dull),
        suppliersRandom_(options.Seed ^ 0x2545F4914F6CDD1Dull),
        scale_(std::max(1, options.Scale)) {
    end_ = fw::EncodeDateTime({2024, 6, 28, 0, 0, 0});
  }

  TDemoCounts Run() {
    MakeBranches();
    MakeOperators();
    MakeAccounts();
    MakeReferenceTables();
    MakeProducts();
    MakeSuppliers();
    MakeRequests();
    return counts_;
  }

 private:
  std::string Date(double days) { return DaysToIsoText(days); }
  // A time of the working day, as a fraction.
  double WorkingTime() { return WorkingTime(random_); }
  // A time of the working day, as a fraction.
  static double WorkingTime(TRandom& random) {
    return random.Between(7 * 3600 + 1800, 18 * 3600 + 1800) / 86400.0;
  }
  // A working moment some days after `earliest`, and always after it.
  double After(double earliest, int minDays, int maxDays) {
    return After(earliest, minDays, maxDays, random_);
  }
  static double After(double earliest, int minDays, int maxDays, TRandom& random) {
    double moment = std::floor(earliest) + random.Between(minDays, maxDays) + WorkingTime(random);
    while (moment <= earliest) moment += 1;
    return moment;
  }
  // How much of an ordered quantity has been delivered, by the item's status.
  double Received(char status, double quantity) {
    double received = 0;
    if (status == '2' || status == '4') received = quantity;
    if (status == '1') received = Round(quantity * (0.3 + 0.5 * random_.Unit()), 0);
    if (status == '1' && received <= 0) received = 1;
    if (status == '1' && received >= quantity)
      received = quantity > 1 ? quantity - 1 : quantity / 2;
    if (status == '3') received = Round(quantity * random_.Unit() * 0.5, 0);
    return received;
  }

  void MakeBranches() {
    const size_t wanted = 6 + static_cast<size_t>(scale_ - 1) / 20;
    std::vector<std::string> names;
    std::set<std::string> used;
    auto offer = [&](const std::string& name) {
      if (names.size() < wanted && CodePoints(name) <= 30 && used.insert(name).second)
        names.push_back(name);
    };
    offer("Filial São Paulo - Centro");
    offer("Filial Campinas");
    offer("Filial Rio de Janeiro - Centro");
    offer("Filial Belo Horizonte");
    offer("Filial Curitiba");
    offer("Filial Porto Alegre");
    for (const char* city : kCities) offer(std::string("Filial ") + city);
    for (const char* district : kDistricts)
      for (const char* city : kCities) offer(std::string("Filial ") + city + " - " + district);
    TTable insert(writer_, "FILIAL", "CDFILIAL, NMFILIAL");
    for (size_t i = 0; i < names.size(); ++i) {
      branches_.push_back({Digits(static_cast<long>(i + 1), 4), names[i], {}});
      insert.Run({branches_.back().Code, branches_.back().Name});
    }
    counts_.Branches = static_cast<long>(branches_.size());
  }

  std::string PersonName() {
    for (;;) {
      std::string name = std::string(kFirstNames[random_.Next() % std::size(kFirstNames)]) + " " +
                         kSurnames[random_.Next() % std::size(kSurnames)];
      if (random_.Chance(0.6))
        name += std::string(" ") + kSurnames[random_.Next() % std::size(kSurnames)];
      if (CodePoints(name) <= 40 && personNames_.insert(name).second) return name;
    }
  }

  // Logins as people use them: initial and surname, a number when taken ("MSILVA2").
  std::string Login(const std::string& name) {
    const size_t space = name.find(' ');
    const size_t second = name.find(' ', space + 1);
    const std::string first = AsciiUpper(name.substr(0, space));
    std::string surname = AsciiUpper(name.substr(
        space + 1, second == std::string::npos ? std::string::npos : second - space - 1));
    if (surname.size() > 8) surname.resize(8);
    const std::string base = first.substr(0, 1) + surname;
    std::string login = base;
    for (int n = 2; !logins_.insert(login).second; ++n) login = base + std::to_string(n);
    return login;
  }

  void MakeOperators() {
    const int requesters = 8 + scale_ / 4;
    const int managers = 4 + scale_ / 25;
    const int buyers = 3 + scale_ / 50;
    const int clerks = 3 + scale_ / 50;
    TTable insert(writer_, "OPERADOR", "CDOPERADOR, NMOPERADOR, IDFUNCAO, CDFILIAL");
    auto add = [&](char role, int count) {
      for (int i = 0; i < count; ++i) {
        TOperator person;
        person.Name = PersonName();
        person.Code = Login(person.Name);
        person.Role = role;
        const size_t branch = static_cast<size_t>(i) % branches_.size();
        person.Branch = branches_[role == 'S' ? branch : 0].Code;
        if (role == 'S') branches_[branch].Requesters.push_back(operators_.size());
        const char roleText[2] = {role, 0};
        insert.Run({person.Code, person.Name, roleText, person.Branch});
        (role == 'S'   ? requesters_
         : role == 'G' ? managers_
         : role == 'C' ? buyers_
                       : clerks_)
            .push_back(operators_.size());
        operators_.push_back(std::move(person));
      }
    };
    add('S', requesters);
    add('G', managers);
    add('C', buyers);
    add('F', clerks);
    counts_.Operators = static_cast<long>(operators_.size());
  }

  // The account "demo", which reads every branch; "filial02", which reads branches 0002 and
  // 0003; and one per operator (the operator's code, naming that operator), which reads as its
  // function suggests: a requester its own requests, a buyer every branch, a manager and an
  // invoice clerk their own branch. Every password is "demo". The hashes are the cheapest
  // Argon2id allows, each with a salt of its own (see accounts.h), and are the only values that
  // differ between two demos of the same seed.
  void MakeAccounts() {
    TTable insert(writer_, "USUARIO",
                  "LOGIN, NMUSUARIO, SENHA, IDATIVO, IDTODASFILIAIS, IDSOLIPROPRIAS, CDOPERADOR");
    TTable granted(writer_, "USUARIOFILIAL", "LOGIN, CDFILIAL");
    insert.Run({"demo", "Usuário de demonstração", HashPassword("demo", THashCost::Demo), "S", "S",
                "N", nullptr});
    insert.Run({"filial02", "Usuário das filiais 0002 e 0003",
                HashPassword("demo", THashCost::Demo), "S", "N", "N", nullptr});
    for (const char* branch : {"0002", "0003"}) granted.Run({"filial02", branch});
    for (const auto& person : operators_) {
      const bool allBranches = person.Role == 'S' || person.Role == 'C';
      insert.Run({person.Code, person.Name, HashPassword("demo", THashCost::Demo), "S",
                  allBranches ? "S" : "N", person.Role == 'S' ? "S" : "N", person.Code});
      if (!allBranches) granted.Run({person.Code, person.Branch});
    }
  }

  void MakeReferenceTables() {
    TTable unit(writer_, "UNIDADE", "SGUNIDADE, NMUNIDADE");
    for (const auto& entry : kUnits) unit.Run({entry[0], entry[1]});
    TTable destination(writer_, "DESTINO", "CDDESTSOLI, NMDESTSOLI");
    for (const auto& entry : kDestinations) {
      destination.Run({entry[0], entry[1]});
      destinations_.push_back(entry[0]);
    }
  }

  void MakeProducts() {
    const size_t wanted = 40 + 2 * static_cast<size_t>(scale_);
    const size_t bases = std::size(kBaseProducts);
    TTable insert(writer_, "PRODUTO",
                  "CDPRODUTO, CDARVPROD, NMPRODUTO, SGUNIDADE, CDMARCA, VRCMPANTERIOR");
    std::vector<int> inGroup(bases);
    int groupCounter[10] = {};
    for (size_t b = 0; b < bases; ++b) inGroup[b] = ++groupCounter[kBaseProducts[b].Group];
    for (size_t i = 0; i < wanted; ++i) {
      // Scale 1 takes the first 40 base products; after all of them, other makers' lines.
      const size_t baseIndex = i % bases;
      const size_t line = i / bases;
      const TBaseProduct& base = kBaseProducts[baseIndex];
      const auto& brand = kBrands[(baseIndex + line) % std::size(kBrands)];
      TProduct product;
      product.Code = Digits(static_cast<long>(i + 1), 6);
      // Group, subgroup and item: "01" "002" "003" shown as 01.002.003.
      product.Tree = Digits(base.Group, 2) + Digits(inGroup[baseIndex], 3) +
                     Digits(static_cast<long>(line + 1), 3);
      product.Name = base.Name;
      if (line > 0) {
        std::string lined = product.Name + " " + brand[1];
        if (line >= std::size(kBrands))
          lined += " Linha " + std::to_string(line / std::size(kBrands) + 1);
        if (CodePoints(lined) <= 50) product.Name = lined;
      }
      product.Unit = base.Unit;
      product.Brand = brand[0];
      product.Trade = TradeOf(base.Group, inGroup[baseIndex]);
      product.Price = Round(base.Price * (0.85 + 0.3 * random_.Unit()), 2);
      insert.Run(
          {product.Code, product.Tree, product.Name, product.Unit, product.Brand, product.Price});
      products_.push_back(std::move(product));
    }
    counts_.Products = static_cast<long>(products_.size());
  }

  void MakeSuppliers() {
    struct TName {
      std::string Name;
      size_t Trade;
    };
    std::vector<TName> names;
    for (size_t trade = 0; trade < std::size(kSupplierTrades); ++trade)
      for (const char* kind : kSupplierKinds)
        for (const char* region : kSupplierRegions)
          for (const char* suffix : kSupplierSuffixes) {
            const std::string name =
                std::string(kind) + " " + region + " de " + kSupplierTrades[trade] + " " + suffix;
            if (CodePoints(name) <= 40) names.push_back({name, trade});
          }
    // A fixed shuffle, so that the first suppliers are not all paper sellers.
    for (size_t i = names.size(); i > 1; --i) std::swap(names[i - 1], names[random_.Next() % i]);
    const size_t wanted = std::min(names.size(), 15 + static_cast<size_t>(scale_) / 10);
    auto first = std::find_if(names.begin(), names.end(), [](const TName& entry) {
      return entry.Name == "Distribuidora Paulista de Papéis Ltda";
    });
    if (first != names.end()) std::iter_swap(names.begin(), first);
    TTable insert(writer_, "FORNECEDOR", "CDFORNECED, NMRAZSOCFORN, NRCNPJ");
    auto add = [&](const TName& entry, TRandom& random) {
      suppliers_.push_back({Digits(static_cast<long>(suppliers_.size() + 1), 6), entry.Name,
                            Cnpj(random), entry.Trade});
      lineSuppliers_[entry.Trade].push_back(suppliers_.size() - 1);
      insert.Run({suppliers_.back().Code, suppliers_.back().Name, suppliers_.back().Cnpj});
    };
    lineSuppliers_.assign(std::size(kSupplierTrades), {});
    for (size_t i = 0; i < wanted; ++i) add(names[i], random_);
    quotingSuppliers_ = wanted;
    // Every line with as many suppliers as a quotation asks for: the next names of a line short
    // of them, drawn apart from the rest of the data, which stays as it was.
    for (size_t i = wanted; i < names.size(); ++i)
      if (lineSuppliers_[names[i].Trade].size() < kSuppliersPerTrade)
        add(names[i], suppliersRandom_);
    counts_.Suppliers = static_cast<long>(suppliers_.size());
  }

  char PickStatus() {
    int roll = random_.Between(1, 100);
    for (size_t i = 0; i < std::size(kStatuses); ++i) {
      roll -= kStatusWeights[i];
      if (roll <= 0) return kStatuses[i];
    }
    return kStatuses[0];
  }

  static bool Quoted(char status) { return status != 'A'; }
  static bool Concluded(char status) { return status != 'A' && status != 'B'; }
  static bool Purchased(char status) {
    return status == 'D' || status == '7' || status == '4' || status == '3' || status == '2' ||
           status == '1';
  }
  static bool Invoiced(char status) { return status == '4' || status == '2' || status == '1'; }

  void MakeRequests() {
    const long requestCount = 80L * scale_;
    // Dates first, in order, so that request numbers grow with time: "2023" + 6 digits.
    std::vector<double> dates(static_cast<size_t>(requestCount));
    for (auto& date : dates) date = end_ - random_.Between(0, 364) + WorkingTime();
    std::sort(dates.begin(), dates.end());

    TTable request(writer_, "SOLICITACAO",
                   "CDFILLAN, NRSOLICMP, CDFILIAL, CDOPERLANC, CDOPERSOLI, DTHRLANCSOL");
    TTable item(writer_, "ITEMSOLICITACAO",
                "CDFILLAN, NRSOLICMP, NRITEMSOLI, CDPRODUTO, CDDESTSOLI, QTSOLIPROD, DTPROGENTR, "
                "STATUS, CDFILIAL, NRCOLEPRECO, NRCOMPRA");
    TTable approval(
        writer_, "APROVACAOGERENTE",
        "CDFILLAN, NRSOLICMP, CDDESTSOLI, NRNIVEL, CDOPERGER, IDAPROVPRGER, DTAPRSOLPRODGER");
    TTable quotation(writer_, "COLETAPRECO",
                     "CDFILIAL, NRCOLEPRECO, IDSITUCOLETA, CDOPERCOMP, DTABERTURA, DTCONCOLEPREC");
    TTable price(writer_, "ITEMCOLETAPRECO",
                 "CDFILIAL, NRCOLEPRECO, CDPRODUTO, CDFORNECED, VRPRECUNIITM");
    TTable purchase(writer_, "COMPRA", "CDFILIAL, NRCOMPRA, NRCOLEPRECO, CDOPERCOMP, DTCOMPRA");
    TTable order(writer_, "AUTORIZACAOFORN",
                 "CDFILIAL, NRAUTOFORN, NRCOMPRA, CDFORNECED, DTAUTOFORN, DTPROGENTAF, VRTOTALAF");
    TTable orderItem(
        writer_, "ITEMAUTOFORN",
        "CDFILIAL, NRAUTOFORN, CDFILLAN, NRSOLICMP, NRITEMSOLI, QTPRODAF, VRUNITAF, QTEFETENTRAF");
    TTable invoice(writer_, "NOTAFISCAL",
                   "CDFILIAL, CDFORNECED, NRNOTAFISC, NRAUTOFORN, CDTIPOOPER, DTEMISSAO, "
                   "DTENTRSAID, DTAPROVACAO, VRNOTAFISC, CDOPERAPRO");

    std::vector<long> invoiceNumbers(suppliers_.size(), 0);
    int year = 0;
    long numberInYear = 0;
    for (long r = 0; r < requestCount; ++r) {
      const double entered = dates[static_cast<size_t>(r)];
      const int enteredYear = fw::DecodeDateTime(entered).Year;
      if (enteredYear != year) {
        year = enteredYear;
        numberInYear = 0;
      }
      const std::string number = Digits(year, 4) + Digits(++numberInYear, 6);
      // The first requests take every status in turn, so that any seed shows them all.
      const char status = r < static_cast<long>(std::size(kStatuses)) ? kStatuses[r] : PickStatus();

      const TBranch& branch = branches_[random_.Next() % branches_.size()];
      const std::string& launching =
          random_.Chance(0.75) ? branch.Code : branches_[random_.Next() % branches_.size()].Code;
      const size_t requester =
          branch.Requesters.empty() ? random_.Pick(requesters_) : random_.Pick(branch.Requesters);
      const size_t enteredBy = random_.Chance(0.7) ? requester : random_.Pick(requesters_);
      const std::string enteredText = Date(entered);
      request.Run({launching, number, branch.Code, operators_[enteredBy].Code,
                   operators_[requester].Code, enteredText});
      ++counts_.Requests;

      // Items: distinct products, mostly one destination per request.
      const int itemCount = random_.Between(1, 4);
      const std::string& mainDestination = random_.Pick(destinations_);
      struct TItem {
        size_t Product;
        std::string Destination;
        double Quantity;
        char Status;
      };
      std::vector<TItem> items;
      std::set<size_t> chosen;
      while (static_cast<int>(items.size()) < itemCount) {
        const size_t product = random_.Next() % products_.size();
        if (!chosen.insert(product).second) continue;
        const std::string& unit = products_[product].Unit;
        const bool fractional = unit == "KG" || unit == "L" || unit == "M";
        const double quantity = fractional ? Round(random_.Between(5, 400) / 4.0, 3)
                                           : static_cast<double>(random_.Between(1, 60));
        char itemStatus = status;
        if (itemCount > 1 && r >= static_cast<long>(std::size(kStatuses)) && random_.Chance(0.08))
          itemStatus = '5';
        items.push_back({product,
                         random_.Chance(0.8) ? mainDestination : random_.Pick(destinations_),
                         quantity, itemStatus});
      }
      const double delivery = std::floor(entered) + random_.Between(7, 45);
      const std::string deliveryText = Date(delivery);

      // Manager approvals, per destination, one to three levels.
      std::set<std::string> destinations;
      for (const auto& entry : items) destinations.insert(entry.Destination);
      double approvedAt = entered;
      for (const auto& destination : destinations) {
        const int levels = r % 4 == 0 ? 3 : random_.Between(1, 3);
        double at = entered;
        std::set<size_t> managersUsed;
        for (int level = 1; level <= levels; ++level) {
          size_t manager = random_.Pick(managers_);
          while (managersUsed.size() < managers_.size() && !managersUsed.insert(manager).second)
            manager = random_.Pick(managers_);
          at += random_.Between(2, 30) / 24.0;
          std::string decision = "S";
          if (status == 'A' && level == levels) decision = "P";
          if (status == '5' && level == levels && destination == *destinations.begin())
            decision = "N";
          approval.Run({launching, number, destination, level, operators_[manager].Code, decision,
                        decision == "P" ? TValue(nullptr) : TValue(Date(at))});
          ++counts_.Approvals;
        }
        approvedAt = std::max(approvedAt, at);
      }

      // Price quotation.
      std::string quotationNumber;
      double concludedAt = 0;
      std::vector<std::vector<std::pair<size_t, double>>> prices(items.size());
      const bool cancelledEarly = status == '5' && random_.Chance(0.5);
      if (Quoted(status) && !cancelledEarly) {
        quotationNumber = Digits(++quotations_, 10);
        const double opened = After(approvedAt, 1, 4);
        const char situation = status == 'B' ? 'A' : status == '5' ? 'X' : 'C';
        concludedAt = After(opened, 2, 10);
        const char situationText[2] = {situation, 0};
        quotation.Run({branch.Code, quotationNumber, situationText,
                       operators_[random_.Pick(buyers_)].Code, Date(opened),
                       situation == 'C' ? TValue(Date(concludedAt)) : TValue(nullptr)});
        ++counts_.Quotations;
        for (size_t i = 0; i < items.size(); ++i) {
          const int bidders = random_.Between(2, 4);
          // Suppliers of the product's own line quote it: the draws pick places in that line,
          // one after the other from the first draw's, so each bidder is another supplier.
          const std::vector<size_t>& line = lineSuppliers_[products_[items[i].Product].Trade];
          std::set<size_t> seen;
          size_t start = 0;
          while (static_cast<int>(seen.size()) <
                 std::min<int>(bidders, static_cast<int>(quotingSuppliers_))) {
            const size_t draw = random_.Next() % quotingSuppliers_;
            if (!seen.insert(draw).second) continue;
            if (seen.size() == 1) start = draw;
            const double unitPrice =
                Round(products_[items[i].Product].Price * (0.85 + 0.4 * random_.Unit()), 2);
            if (seen.size() > line.size()) continue;
            const size_t supplier = line[(start + seen.size() - 1) % line.size()];
            prices[i].push_back({supplier, unitPrice});
            price.Run({branch.Code, quotationNumber, products_[items[i].Product].Code,
                       suppliers_[supplier].Code, unitPrice});
            ++counts_.QuotationPrices;
          }
        }
      }

      // Purchase, purchase orders and invoices.
      std::string purchaseNumber;
      if (Purchased(status)) {
        purchaseNumber = Digits(++purchases_, 10);
        const double purchasedAt = After(concludedAt, 0, 2);
        purchase.Run({branch.Code, purchaseNumber, quotationNumber,
                      operators_[random_.Pick(buyers_)].Code, Date(purchasedAt)});
        ++counts_.Purchases;

        // Each product goes to the supplier who quoted it cheapest, with that quote's price;
        // one AF per supplier chosen, in the order of the items.
        struct TLine {
          int Item;
          double Quantity, Unit, Received;
        };
        struct TOrder {
          size_t Supplier;
          std::vector<TLine> Lines;
        };
        // The first AF draws from the main sequence, as the only one did before a purchase could
        // have several; the others from a sequence of their own, so that the rest of the data
        // stays as it was.
        const double orderedAt = After(purchasedAt, 0, 1);
        const double due = std::floor(orderedAt) + random_.Between(5, 30);
        std::vector<TOrder> orders;
        for (size_t i = 0; i < items.size(); ++i) {
          if (items[i].Status == '5') continue;
          const auto cheapest =
              std::min_element(prices[i].begin(), prices[i].end(),
                               [](const auto& a, const auto& b) { return a.second < b.second; });
          auto order = std::find_if(orders.begin(), orders.end(), [&](const TOrder& candidate) {
            return candidate.Supplier == cheapest->first;
          });
          if (order == orders.end()) order = orders.insert(orders.end(), {cheapest->first, {}});
          order->Lines.push_back({static_cast<int>(i + 1), items[i].Quantity, cheapest->second,
                                  Received(status, items[i].Quantity)});
        }

        // A purchase whose items were all cancelled on their own gets no AF; the draws its AF
        // would have made are still made, for the same reason.
        if (orders.empty() && Invoiced(status)) {
          const double entered = After(After(orderedAt, 3, 25), 0, 5);
          if (status == '1') random_.Chance(0.5);
          After(entered, 0, 3);
          random_.Next();
          random_.Pick(clerks_);
        }
        for (size_t o = 0; o < orders.size(); ++o) {
          TRandom& draw = o == 0 ? random_ : ordersRandom_;
          const TOrder& placed = orders[o];
          const double orderedOn = o == 0 ? orderedAt : After(purchasedAt, 0, 1, draw);
          const double dueOn = o == 0 ? due : std::floor(orderedOn) + draw.Between(5, 30);
          double total = 0, delivered = 0;
          for (const auto& line : placed.Lines) {
            total += line.Quantity * line.Unit;
            delivered += line.Received * line.Unit;
          }
          const std::string orderNumber = Digits(++orders_, 10);
          order.Run({branch.Code, orderNumber, purchaseNumber, suppliers_[placed.Supplier].Code,
                     Date(orderedOn), Date(dueOn), Round(total, 2)});
          ++counts_.Orders;
          for (const auto& line : placed.Lines)
            orderItem.Run({branch.Code, orderNumber, launching, number, line.Item, line.Quantity,
                           line.Unit, line.Received});

          if (Invoiced(status)) {
            const double issued = After(orderedOn, 3, 25, draw);
            const double enteredOn = After(issued, 0, 5, draw);
            const bool approved = status != '1' || draw.Chance(0.5);
            const double approvedOn = After(enteredOn, 0, 3, draw);
            static const char* const kOperations[] = {"01", "01", "01", "02", "05", "09"};
            const size_t supplier = placed.Supplier;
            invoice.Run(
                {branch.Code, suppliers_[supplier].Code,
                 Digits(++invoiceNumbers[supplier] + 1000 * static_cast<long>(supplier + 1), 9),
                 orderNumber, kOperations[draw.Next() % std::size(kOperations)], Date(issued),
                 Date(enteredOn), approved ? TValue(Date(approvedOn)) : TValue(nullptr),
                 Round(delivered, 2), operators_[draw.Pick(clerks_)].Code});
            ++counts_.Invoices;
          }
        }
      }

      for (size_t i = 0; i < items.size(); ++i) {
        const TItem& entry = items[i];
        const char statusText[2] = {entry.Status, 0};
        const bool inPurchase = !purchaseNumber.empty() && entry.Status != '5';
        item.Run({launching, number, static_cast<int>(i + 1), products_[entry.Product].Code,
                  entry.Destination, entry.Quantity, deliveryText, statusText, branch.Code,
                  quotationNumber.empty() ? TValue(nullptr) : TValue(quotationNumber),
                  inPurchase ? TValue(purchaseNumber) : TValue(nullptr)});
        ++counts_.Items;
      }
    }
  }

  IDemoWriter& writer_;
  TRandom random_;
  TRandom ordersRandom_;     // for a purchase's AFs after its first
  TRandom suppliersRandom_;  // for the suppliers that fill up a line
  int scale_;
  double end_;
  TDemoCounts counts_;
  std::vector<TBranch> branches_;
  std::vector<TOperator> operators_;
  std::vector<size_t> requesters_, managers_, buyers_, clerks_;
  std::set<std::string> personNames_, logins_;
  std::vector<std::string> destinations_;
  std::vector<TProduct> products_;
  std::vector<TSupplier> suppliers_;
  std::vector<std::vector<size_t>> lineSuppliers_;  // per trade: indexes into suppliers_
  size_t quotingSuppliers_ = 0;                     // the suppliers of the first draw
  long quotations_ = 0, purchases_ = 0, orders_ = 0;
};

}  // namespace

TDemoCounts GenerateDemoData(IDemoWriter& writer, const TDemoOptions& options) {
  TGenerator generator(writer, options);
  return generator.Run();
}

}  // namespace app
