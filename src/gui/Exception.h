// Base class of every error the framework, the media layer and the engine raise.
// Messages are UTF-8; the step sequencer and the play frame catch this class.
#pragma once

#include <cstdarg>
#include <exception>
#include <string>

namespace gui {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

// printf-style formatting into a std::string, for messages with %s and %d placeholders.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// Declares an error class `Name` derived from `Base` with the base's constructor.
#define GUI_DECLARE_EXCEPTION(Name, Base) \
    class Name : public Base {            \
    public:                               \
        using Base::Base;                 \
    }

// Conversion failures of the run-time library (a text that is not a number, ...).
GUI_DECLARE_EXCEPTION(EConvertError, Exception);
// Stream and file failures of the run-time library.
GUI_DECLARE_EXCEPTION(EStreamError, Exception);
GUI_DECLARE_EXCEPTION(EReadError, EStreamError);
GUI_DECLARE_EXCEPTION(EWriteError, EStreamError);
GUI_DECLARE_EXCEPTION(EFOpenError, EStreamError);
// A file over the size its reader takes, refused before it is read.
GUI_DECLARE_EXCEPTION(EFileTooLarge, EReadError);
// Failures of the ini-file class.
GUI_DECLARE_EXCEPTION(EIniFileException, Exception);

}  // namespace gui
