// What the subcommands of vtfmt share: the exit codes and the two kinds of
// failure that main() reports on one line of standard error.
#pragma once

#include <string>

namespace vtfmt {

constexpr int kOk = 0;
constexpr int kFailed = 1;  // a file cannot be opened, read or written
constexpr int kUsage = 2;   // bad command line

// A bad command line; main() prints the text and the usage.
struct UsageError {
  std::string text;
};

// A failure to report on one line: the file concerned and why.
struct FileError {
  std::string file;
  std::string reason;
};

// True when both names lead to one existing file.
bool SameFile(const std::string& a, const std::string& b);

// `vtfmt e00 ...`: argv[first] is the e00 subcommand.
int E00Command(int argc, char** argv, int first);

// `vtfmt text ...`: argv[first] is the text subcommand.
int TextCommand(int argc, char** argv, int first);

// `vtfmt view ...`: argv[first] is the first argument after `view`.
int ViewCommand(int argc, char** argv, int first);

// `vtfmt gml ...`, `vtfmt mapinfo ...`: runs the program `name` beside vtfmt
// with argv[first...]; returns only on failure.
int CompanionCommand(const char* name, int argc, char** argv, int first);

}  // namespace vtfmt
