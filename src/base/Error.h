#pragma once

#include "base/Messages.h"

#include <QByteArray>
#include <QString>
#include <exception>

namespace lv26 {

// Base of every error the program raises on purpose. The message is the user-visible text
// (already filled in); the application's error box shows it. className() names the kind of
// error for the last-chance box at start-up.
class Error : public std::exception {
public:
    explicit Error(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }
    virtual const char* className() const { return "Error"; }

private:
    QString message_;
    QByteArray utf8_;
};

// A silent abort: ends the current handler without showing anything.
class EAbort : public Error {
public:
    EAbort() : Error(msg(Message::OperationAborted)) {}
    const char* className() const override { return "EAbort"; }
};

// Errors of the table layer (field values, row states, opening tables).
class EDatabaseError : public Error {
public:
    using Error::Error;
    const char* className() const override { return "EDatabaseError"; }
};

// Errors reported by the table engine, with their 16-bit code.
class EEngineError : public EDatabaseError {
public:
    EEngineError(quint16 code, QString message) : EDatabaseError(std::move(message)), code_(code) {}
    quint16 code() const { return code_; }
    const char* className() const override { return "EEngineError"; }

private:
    quint16 code_;
};

} // namespace lv26
