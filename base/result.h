// SPDX-License-Identifier: GPL-3.0-or-later
// A small result type: a value or a failure that carries its context in plain words.
// Failures are values so that nothing throws across Qt's event loop.
#pragma once

#include <QString>
#include <optional>
#include <utility>
#include <variant>

struct Failure {
    // Why a wait for the board ended without its reply; the operations word their
    // message after it (a stop asked for by the user is not a fault of the board).
    // Refused and TooLong: an image file that cannot be programmed as it is.
    // OutOfStep: more bytes came than were asked for, so a reply may belong to another
    // request and none of them can be trusted.
    // NoSuchPort and PortInUse: a port that would not open; what to do about it (choose
    // another port, close the other program) is said where the failure is shown, in the
    // words of that front end, for port `port`.
    enum Kind { Error, TimedOut, PortLost, Stopped, Refused, TooLong, OutOfStep, NoSuchPort, PortInUse };
    QString message;  // what happened and where; shown to the user with `hint` after it
    Kind kind = Error;
    QString hint;     // what to check, as a paragraph of its own ("\n\nCheck the cable ...")
    // A change broke off: the chip may be half-written. What to do about it names the
    // erase as each front end gives it, so it is said where the failure is shown.
    bool halfWritten = false;
    int port = 0;  // NoSuchPort, PortInUse: the port number
    int address = -1;  // where an operation on the chip stopped; -1 when none applies
    QString text() const { return message + hint; }
};

// Both are [[nodiscard]]: a result dropped unread is a failure nobody is told of.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_v(std::move(value)) {}
    Result(Failure f) : m_v(std::move(f)) {}
    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T &value() const { return std::get<0>(m_v); }
    T &value() { return std::get<0>(m_v); }
    const Failure &failure() const { return std::get<1>(m_v); }
    QString message() const { return ok() ? QString() : failure().text(); }

private:
    std::variant<T, Failure> m_v;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure f) : m_f(std::move(f)) {}
    bool ok() const { return !m_f.has_value(); }
    explicit operator bool() const { return ok(); }
    const Failure &failure() const { return *m_f; }
    QString message() const { return ok() ? QString() : m_f->text(); }

private:
    std::optional<Failure> m_f;
};

using Status = Result<void>;
