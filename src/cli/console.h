// The terminal the ulxjm command talks to: output streams, the password
// prompt without echo and the width of the progress line. One small
// interface so a Windows console build can use the console API while the
// posix build uses termios; the commands never touch either directly.
#pragma once

#include <string>
#include <vector>

namespace cli {

class Console {
  public:
    virtual ~Console() = default;

    virtual void Out(const std::wstring& text) = 0;
    virtual void Err(const std::wstring& text) = 0;

    virtual bool StdinIsTerminal() = 0;
    virtual bool StderrIsTerminal() = 0;
    // Columns of the terminal behind standard error; 80 when unknown.
    virtual int Width() = 0;

    // Writes `prompt` and reads one line from the terminal itself (not from
    // redirected standard input) with echo off. False when there is no
    // terminal or input ended.
    virtual bool ReadSecret(const std::wstring& prompt, std::wstring* out) = 0;
    // The same with echo on, for yes/no questions.
    virtual bool ReadAnswer(const std::wstring& prompt, std::wstring* out) = 0;
    // One line of standard input, with or without its line end (a final
    // "\r" is dropped too). False when input ended before any character.
    virtual bool ReadStdinLine(std::wstring* out) = 0;
};

// The console of this process.
Console& Con();

// Installs another console for its lifetime (tests).
class ScopedConsole {
  public:
    explicit ScopedConsole(Console& c);
    ~ScopedConsole();
    ScopedConsole(const ScopedConsole&) = delete;
    ScopedConsole& operator=(const ScopedConsole&) = delete;

  private:
    Console* previous_;
};

// The command's arguments as UTF-8 texts for the option parser, without the
// program name: argv as given on posix, the wide command line on Windows
// (its narrow argv is in the ANSI code page and loses characters).
std::vector<std::string> Arguments(int argc, char** argv);

// Ctrl+C asks the running pass to stop between files instead of killing
// the process in the middle of one.
void InstallInterruptHandler();

}  // namespace cli
