#pragma once

#include <stdexcept>
#include <string>

// What the tool's exit status tells a script.
enum ExitCode
{
    ExitSuccess = 0,
    ExitFailed = 1,
    ExitBadArguments = 2,
    ExitNoCard = 3,
    // The copy is kept, but holds zeros for sectors that could not be read;
    // or a listed lap is not whole.
    ExitIncomplete = 4,
    // As a shell reports a program that Ctrl+C ended.
    ExitInterrupted = 130
};

// A failure that ends the tool: a one-line message (UTF-8) and the exit
// status that goes with it.
class CToolError : public std::runtime_error
{
public:
    CToolError(ExitCode code, const std::string& message)
        : std::runtime_error(message)
        , m_code(code)
    {
    }

    ExitCode Code() const { return m_code; }

private:
    ExitCode m_code;
};
