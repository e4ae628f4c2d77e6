// The demo's world: branches, operators and their accounts, units, destinations, products and
// suppliers, with Brazilian names.
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app_server/auth/accounts.h"
#include "app_server/demo/demo_generator.h"

namespace app::demo {

namespace {

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

class TWorldMaker {
 public:
  TWorldMaker(IDemoWriter& writer, TDraws& draws, int scale, TDemoCounts& counts)
      : writer_(writer), draws_(draws), scale_(scale), counts_(counts) {}

  TWorld Run() {
    MakeBranches();
    MakeOperators();
    MakeAccounts();
    MakeReferenceTables();
    MakeProducts();
    MakeSuppliers();
    return std::move(world_);
  }

 private:
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
      world_.Branches.push_back({Digits(static_cast<long>(i + 1), 4), names[i], {}});
      insert.Run({world_.Branches.back().Code, world_.Branches.back().Name});
    }
    counts_.Branches = static_cast<long>(world_.Branches.size());
  }

  std::string PersonName() {
    for (;;) {
      std::string name = std::string(kFirstNames[draws_.Main.Next() % std::size(kFirstNames)]) +
                         " " + kSurnames[draws_.Main.Next() % std::size(kSurnames)];
      if (draws_.Main.Chance(0.6))
        name += std::string(" ") + kSurnames[draws_.Main.Next() % std::size(kSurnames)];
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
        const size_t branch = static_cast<size_t>(i) % world_.Branches.size();
        person.Branch = world_.Branches[role == 'S' ? branch : 0].Code;
        if (role == 'S') world_.Branches[branch].Requesters.push_back(world_.Operators.size());
        const char roleText[2] = {role, 0};
        insert.Run({person.Code, person.Name, roleText, person.Branch});
        (role == 'S'   ? world_.Requesters
         : role == 'G' ? world_.Managers
         : role == 'C' ? world_.Buyers
                       : world_.Clerks)
            .push_back(world_.Operators.size());
        world_.Operators.push_back(std::move(person));
      }
    };
    add('S', requesters);
    add('G', managers);
    add('C', buyers);
    add('F', clerks);
    counts_.Operators = static_cast<long>(world_.Operators.size());
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
    for (const auto& person : world_.Operators) {
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
      world_.Destinations.push_back(entry[0]);
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
      product.Price = Round(base.Price * (0.85 + 0.3 * draws_.Main.Unit()), 2);
      insert.Run(
          {product.Code, product.Tree, product.Name, product.Unit, product.Brand, product.Price});
      world_.Products.push_back(std::move(product));
    }
    counts_.Products = static_cast<long>(world_.Products.size());
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
    for (size_t i = names.size(); i > 1; --i)
      std::swap(names[i - 1], names[draws_.Main.Next() % i]);
    const size_t wanted = std::min(names.size(), 15 + static_cast<size_t>(scale_) / 10);
    auto first = std::find_if(names.begin(), names.end(), [](const TName& entry) {
      return entry.Name == "Distribuidora Paulista de Papéis Ltda";
    });
    if (first != names.end()) std::iter_swap(names.begin(), first);
    TTable insert(writer_, "FORNECEDOR", "CDFORNECED, NMRAZSOCFORN, NRCNPJ");
    auto add = [&](const TName& entry, TRandom& random) {
      world_.Suppliers.push_back({Digits(static_cast<long>(world_.Suppliers.size() + 1), 6),
                                  entry.Name, Cnpj(random), entry.Trade});
      world_.LineSuppliers[entry.Trade].push_back(world_.Suppliers.size() - 1);
      insert.Run({world_.Suppliers.back().Code, world_.Suppliers.back().Name,
                  world_.Suppliers.back().Cnpj});
    };
    world_.LineSuppliers.assign(std::size(kSupplierTrades), {});
    for (size_t i = 0; i < wanted; ++i) add(names[i], draws_.Main);
    world_.QuotingSuppliers = wanted;
    // Every line with as many suppliers as a quotation asks for: the next names of a line short
    // of them, drawn apart from the rest of the data, which stays as it was.
    for (size_t i = wanted; i < names.size(); ++i)
      if (world_.LineSuppliers[names[i].Trade].size() < kSuppliersPerTrade)
        add(names[i], draws_.Suppliers);
    counts_.Suppliers = static_cast<long>(world_.Suppliers.size());
  }

  IDemoWriter& writer_;
  TDraws& draws_;
  int scale_;
  TDemoCounts& counts_;
  TWorld world_;
  std::set<std::string> personNames_, logins_;
};

}  // namespace

TWorld MakeWorld(IDemoWriter& writer, TDraws& draws, int scale, TDemoCounts& counts) {
  return TWorldMaker(writer, draws, scale, counts).Run();
}

}  // namespace app::demo
