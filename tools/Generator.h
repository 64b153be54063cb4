#pragma once

// Generated sample employees and their weeks for lv26-tables: realistic Brazilian names,
// CPFs with valid check digits, plausible wages. The same seed gives the same data.

#include <QString>
#include <random>

namespace lv26::tools {

struct Employee {
    QString matricula;
    QString nome;
    QString cpf;
    QString sexo; // "M" or "F", matching the first name
    double salHora = 0;
};

// The two check digits completing nine CPF digits ("123456789" -> "09").
QString cpfCheckDigits(const QString& nineDigits);

// Registration numbers: "00000".."99999", then five characters starting with a letter
// ("A0000".."Z" then base 36), so that the sequence order is also their sort order.
// matriculaFor(n) is the n-th; sequenceOf() reverses it (-1 for a text outside the sequence).
QString matriculaFor(qint64 n);
qint64 sequenceOf(const QString& matricula);
constexpr qint64 matriculaCount = 100000 + qint64(26) * 36 * 36 * 36 * 36;

class Generator {
public:
    explicit Generator(quint64 seed) : random_(seed) {}

    // An employee with the registration number `matricula`.
    Employee employee(const QString& matricula);
    // 4 or 5 weeks.
    int weekCount() { return 4 + int(below(2)); }
    // Hours of one week, 20 to 48.
    int weekHours() { return 20 + int(below(29)); }

private:
    quint64 below(quint64 n) { return random_() % n; }
    std::mt19937_64 random_;
};

} // namespace lv26::tools
