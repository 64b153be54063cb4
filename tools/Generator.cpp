#include "Generator.h"

#include <array>
#include <cstring>

namespace lv26::tools {

namespace {

constexpr std::array maleNames{
    "José",    "João",     "Antônio",   "Francisco", "Carlos",  "Paulo",    "Pedro",    "Lucas",
    "Luiz",    "Marcos",   "Luís",      "Gabriel",   "Rafael",  "Daniel",   "Marcelo",  "Bruno",
    "Eduardo", "Felipe",   "Raimundo",  "Rodrigo",   "Manoel",  "Mateus",   "André",    "Fernando",
    "Fábio",   "Leonardo", "Gustavo",   "Guilherme", "Leandro", "Tiago",    "Anderson", "Ricardo",
    "Márcio",  "Jorge",    "Sebastião", "Alexandre", "Roberto", "Edson",    "Diego",    "Vitor",
    "Sérgio",  "Cláudio",  "Renato",    "Thiago",    "Joaquim", "Henrique", "Otávio",   "Caio"};

constexpr std::array femaleNames{
    "Maria",    "Ana",     "Francisca", "Antônia", "Adriana",  "Juliana", "Márcia",  "Fernanda",
    "Patrícia", "Aline",   "Sandra",    "Camila",  "Amanda",   "Bruna",   "Jéssica", "Letícia",
    "Júlia",    "Luciana", "Vanessa",   "Mariana", "Gabriela", "Vera",    "Vitória", "Larissa",
    "Cláudia",  "Beatriz", "Luana",     "Rita",    "Sônia",    "Renata",  "Eliane",  "Josefa",
    "Simone",   "Natália", "Raimunda",  "Carla",   "Débora",   "Rosana",  "Tatiane", "Lúcia",
    "Helena",   "Isabela", "Cristina",  "Daniela", "Priscila", "Regina",  "Alice",   "Laura"};

constexpr std::array lastNames{
    "Silva",   "Santos",     "Oliveira", "Souza",     "Rodrigues", "Ferreira",   "Alves",
    "Pereira", "Lima",       "Gomes",    "Costa",     "Ribeiro",   "Martins",    "Carvalho",
    "Almeida", "Lopes",      "Soares",   "Fernandes", "Vieira",    "Barbosa",    "Rocha",
    "Dias",    "Nascimento", "Andrade",  "Moreira",   "Nunes",     "Marques",    "Machado",
    "Mendes",  "Freitas",    "Cardoso",  "Ramos",     "Gonçalves", "Santana",    "Teixeira",
    "Araújo",  "Correia",    "Castro",   "Pinto",     "Monteiro",  "Cavalcanti", "Moura",
    "Batista", "Campos",     "Azevedo",  "Brito",     "Duarte",    "Barros"};

int checkDigit(const QString& digits, int firstWeight) {
    int sum = 0;
    for (int i = 0; i < digits.size(); ++i)
        sum += digits[i].digitValue() * (firstWeight - i);
    const int rest = sum % 11;
    return rest < 2 ? 0 : 11 - rest;
}

constexpr char base36[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

} // namespace

QString cpfCheckDigits(const QString& nineDigits) {
    const int first = checkDigit(nineDigits, 10);
    const int second = checkDigit(nineDigits + QString::number(first), 11);
    return QString::number(first) + QString::number(second);
}

QString matriculaFor(qint64 n) {
    if (n < 100000)
        return QStringLiteral("%1").arg(n, 5, 10, QLatin1Char('0'));
    qint64 rest = n - 100000;
    QString text(5, QLatin1Char('0'));
    for (int i = 4; i >= 1; --i) {
        text[i] = QLatin1Char(base36[rest % 36]);
        rest /= 36;
    }
    text[0] = QLatin1Char(char('A' + rest));
    return text;
}

qint64 sequenceOf(const QString& matricula) {
    if (matricula.size() != 5)
        return -1;
    bool ok = false;
    const qint64 number = matricula.toLongLong(&ok);
    if (ok && matricula[0].isDigit() && number >= 0)
        return number;
    if (matricula[0] < QLatin1Char('A') || matricula[0] > QLatin1Char('Z'))
        return -1;
    qint64 value = matricula[0].unicode() - 'A';
    for (int i = 1; i < 5; ++i) {
        const char* at = std::strchr(base36, matricula[i].toLatin1());
        if (matricula[i].unicode() > 127 || !at || !*at)
            return -1;
        value = value * 36 + (at - base36);
    }
    return 100000 + value;
}

Employee Generator::employee(const QString& matricula) {
    Employee e;
    e.matricula = matricula;
    const bool female = below(2) == 1;
    const char* first =
        female ? femaleNames[below(femaleNames.size())] : maleNames[below(maleNames.size())];
    QString name = QString::fromUtf8(first);
    const int surnames = 1 + int(below(2));
    for (int i = 0; i < surnames; ++i)
        name += QLatin1Char(' ') + QString::fromUtf8(lastNames[below(lastNames.size())]);
    e.nome = name.left(40);
    e.sexo = female ? QStringLiteral("F") : QStringLiteral("M");
    QString digits;
    do {
        digits.clear();
        for (int i = 0; i < 9; ++i)
            digits += QChar(QLatin1Char(char('0' + below(10))));
    } while (digits == QString(9, digits[0])); // all-equal digits are not a valid CPF
    e.cpf = digits + cpfCheckDigits(digits);
    e.salHora = double(850 + below(9500 - 850 + 1)) / 100.0;
    return e;
}

} // namespace lv26::tools
